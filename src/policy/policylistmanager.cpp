#include "policy/policylistmanager.h"

#include <QFileInfo>

#include "services/appservices.h"
#include "platform/codepage.h"
#include "platform/fileutil.h"
#include "resids.h"

namespace {
const QString kClass = QStringLiteral("CPolicyListManager");
}

CPolicyListManager::CPolicyListManager()
    : m_pApp(CAppServices::Current()), m_csNetshPrefix(QStringLiteral("netsh interface ipv6 ")) {}

// Reads the policy table file: one row per line, in file order. A line is a row only when
// SetStringCsv accepts it and its fields pass the editor's rules (CPolicy::ValidateFields);
// any other line is left out, logged, and its number (counted from 1) added to `rejected`.
// Empty lines are no rows and are not counted. The result is 1 with those rows, or 0 when the
// file cannot be opened (missing, a folder, not a regular file, unreadable):
// - the whole file is decoded from CP932 at once; a byte sequence that is not CP932 becomes a
//   substitute character (U+001A, or U+FFFD for a lead byte cut off at the end), which makes
//   its line fail the check; NUL bytes stay in the text and fail it likewise;
// - lines end in LF or CR LF; a CR elsewhere is text;
// - a long line costs time linear in its length (no repeated in-place replacement), and a
//   file of many short lines costs time linear in their number.
int CPolicyListManager::GetPolicyFile(CPolicyList& list, const QString& path, QList<qsizetype>* rejected,
                                      QList<ErrorInfo>* reasons) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(kClass, QStringLiteral("GetPolicyFile"));
    list.clear();
    if (rejected) rejected->clear();
    if (reasons) reasons->clear();
    // A folder is "found" but cannot be opened, as on Windows.
    if (!platform::FileExists(path) && !platform::DirectoryExists(path)) {
        if (log) log->TraceValue(QStringLiteral("FindFile"), QStringLiteral("FALSE"));
        return 0;
    }
    // Only a regular file is read: a folder cannot be, and a device or pipe could block or
    // never end.
    QByteArray bytes;
    if (!QFileInfo(path).isFile() || !platform::ReadWholeFile(path, &bytes)) {
        if (log) log->TraceValue(QStringLiteral("Open"), QStringLiteral("FALSE"));
        return 0;
    }
    // The whole file is converted at once so that no double-byte character is split.
    const QString text = platform::FromCp932(bytes);
    bytes.clear();
    // Lines end in LF or CR LF; a last line without a line end counts, and a line end at the
    // very end adds no empty line. A CR not followed by LF stays part of the line.
    qsizetype start = 0;
    qsizetype lineNumber = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        qsizetype next = end + 1;
        if (end < 0) {
            end = text.size();
            next = end;
        } else if (end > start && text[end - 1] == u'\r') {
            --end;
        }
        ++lineNumber;
        const QString line = text.sliced(start, end - start);
        start = next;
        if (line.isEmpty()) continue;
        CPolicy row;
        int field = 0;
        bool wellFormed = false;
        bool valid = false;
        {
            const CAppLog::CQuietTrace quiet;  // only a refused row gets a line
            wellFormed = row.SetStringCsv(line) != 0;
            valid = wellFormed && row.ValidateFields(&field);
        }
        if (valid) {
            list.append(row);
            continue;
        }
        if (log) log->LogFormat({QStringLiteral("nRejectedLine"), QString::number(lineNumber)}, strid::kTraceValue, LOG_WARN);
        if (rejected) rejected->append(lineNumber);
        if (reasons) {
            ErrorInfo reason = wellFormed ? row.m_stError : MakeError(strid::kRowBadFieldCount);
            if (m_pApp)
                reason.csText = CAppLog::FormatMessage(m_pApp->LoadString(reason.nId),
                                                       {m_pApp->LoadString(field)});
            reasons->append(reason);
        }
    }
    if (log) log->TraceEnd(kClass, QStringLiteral("GetPolicyFile"));
    return 1;
}

qsizetype CPolicyListManager::DropInvalidRows(CPolicyList& list) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    CPolicyList kept;
    kept.reserve(list.size());
    for (CPolicy& row : list) {
        bool valid = false;
        {
            const CAppLog::CQuietTrace quiet;  // only a dropped row gets a line
            valid = row.ValidateFields() != 0;
        }
        if (valid) {
            kept.append(row);
        } else if (log) {
            log->LogFormat({QStringLiteral("csRejectedAddress"), row.m_csAddress}, strid::kTraceValue, LOG_WARN);
        }
    }
    const qsizetype dropped = list.size() - kept.size();
    list.swap(kept);
    return dropped;
}

int CPolicyListManager::GetStandardPolicyFile(CPolicyList& list, QList<qsizetype>* rejected) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(kClass, QStringLiteral("GetStandardPolicyFile"));
    const QString dir = m_pApp ? m_pApp->m_szAppDir : QString();
    const int result = GetPolicyFile(list, CInstallPaths(dir).PolicyTable(), rejected);
    if (log) log->TraceEnd(kClass, QStringLiteral("GetStandardPolicyFile"));
    return result;
}

QByteArray CPolicyListManager::PolicyFileBytes(const CPolicyList& list) {
    const CAppLog::CQuietTrace quiet;  // no line per row written
    QString text;
    for (const CPolicy& row : list) {
        text += row.GetStringCsv();
        text += QStringLiteral("\r\n");
    }
    return platform::ToCp932(text);
}

int CPolicyListManager::WritePolicyFile(const CPolicyList& list, const QString& path) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(kClass, QStringLiteral("WritePolicyFile"));
    // Written to a temporary file and renamed over the old one: a failed write leaves the
    // previous table intact.
    if (!platform::WriteFileAtomic(path, PolicyFileBytes(list))) {
        if (log) {
            log->ShowMessageId(strid::kPolicyFileNotWritten, LOG_ERROR);
            log->TraceValue(QStringLiteral("Open"), QStringLiteral("FALSE"));
        }
        return 0;
    }
    if (log) log->TraceEnd(kClass, QStringLiteral("WritePolicyFile"));
    return 1;
}
