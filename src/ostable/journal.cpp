#include "ostable/journal.h"

#include <QCryptographicHash>
#include <QDateTime>
#include <QFileInfo>

#include "platform/codepage.h"
#include "platform/fileutil.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/appservices.h"

namespace {

const QString kClass = QStringLiteral("CRegistrationJournal");
const QByteArray kHeader = "Corvane registration journal 1";
// A journal is a few kilobytes; anything much larger is not one.
constexpr qint64 kMaxBytes = 4 << 20;
constexpr qsizetype kMaxRows = 100000;

void AppendRows(QString& text, const QString& heading, const CPolicyList& rows) {
    text += heading + u' ' + QString::number(rows.size()) + QStringLiteral("\r\n");
    for (const CPolicy& row : rows)
        text += row.m_csPriority + u' ' + row.m_csLabel + u' ' + row.m_csAddress +
                QStringLiteral("\r\n");
}

// Reads "<heading> N" at `at` and the N rows after it into `rows`; false when they are not there.
bool TakeRows(const QStringList& lines, qsizetype& at, const QString& heading,
              CAppServices* app, CPolicyList& rows) {
    const QStringList head = lines.value(at++).split(u' ');
    bool ok = false;
    const qsizetype count = head.size() == 2 && head[0] == heading ? head[1].toLongLong(&ok) : -1;
    if (!ok || count < 0 || count > kMaxRows || head[1] != QString::number(count)) return false;
    for (qsizetype i = 0; i < count; ++i) {
        const QStringList fields = lines.value(at++).split(u' ');
        if (fields.size() != 3) return false;
        CPolicy row;
        row.m_pApp = app;
        row.m_bDisabled = false;
        row.m_nSource = 2;
        row.m_csPriority = fields[0];
        row.m_csLabel = fields[1];
        row.m_csAddress = fields[2];
        // The listing's own rule: every row it gives passes the editor's checks.
        if (!row.ValidateFields()) return false;
        rows.append(row);
    }
    return true;
}

// The SHA-256 of the bytes before the end line, in lowercase hexadecimal: a byte changed on
// disk is found, not restored.
QByteArray Checksum(QByteArrayView bytes) {
    return QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex();
}

// The name a damaged journal is moved to, beside it.
QString AsideName(const QString& path) {
    return path + QStringLiteral(".damaged-") +
           QDateTime::currentDateTime().toString(QStringLiteral("yyyyMMdd-HHmmss-zzz"));
}

}  // namespace

namespace ostable {

QByteArray JournalBytes(const CPolicyList& saved, const CPolicyList& planned) {
    QString text = QString::fromLatin1(kHeader) + QStringLiteral("\r\n");
    AppendRows(text, QStringLiteral("saved"), saved);
    AppendRows(text, QStringLiteral("planned"), planned);
    QByteArray bytes = platform::ToCp932(text);
    return bytes + "end " + Checksum(bytes) + "\r\n";
}

bool ParseJournal(const QByteArray& bytes, CAppServices* app, CPolicyList& saved,
                  CPolicyList& planned) {
    saved.clear();
    planned.clear();
    // "end <checksum>" closes the file; the checksum covers everything before that line.
    const qsizetype endLine = bytes.lastIndexOf("\r\nend ") + 2;
    if (bytes.size() > kMaxBytes || endLine < 2 || !bytes.endsWith("\r\n") ||
        bytes.mid(endLine + 4, bytes.size() - endLine - 6) != Checksum(bytes.first(endLine)))
        return false;
    QStringList lines = platform::FromCp932(bytes.first(endLine)).split(QStringLiteral("\r\n"));
    lines.removeLast();  // after the last line end
    qsizetype at = 1;
    const bool whole = lines.value(0) == QLatin1String(kHeader) &&
                       TakeRows(lines, at, QStringLiteral("saved"), app, saved) &&
                       TakeRows(lines, at, QStringLiteral("planned"), app, planned) &&
                       at == lines.size();
    if (!whole) {
        saved.clear();
        planned.clear();
    }
    return whole;
}

bool CRegistrationJournal::Begin(const CPolicyList& saved, const CPolicyList& planned) {
    CAppLog& log = m_app.m_clLog;
    const CInstallPaths paths = m_app.Paths();
    log.TraceStart(kClass, QStringLiteral("Begin"));
    if (!platform::MakeFolderDurable(paths.StateDir()) ||
        !platform::WriteFileAtomic(paths.Journal(), JournalBytes(saved, planned), true)) {
        log.ShowMessageFormat({paths.Journal()}, strid::kJournalNotWritten, LOG_ERROR);
        return false;
    }
    log.TraceEnd(kClass, QStringLiteral("Begin"));
    return true;
}

void CRegistrationJournal::End() {
    if (!platform::RemoveFileDurable(m_app.Paths().Journal()))
        m_app.m_clLog.TraceValue(QStringLiteral("RemoveJournal"), QStringLiteral("FALSE"));
}

ERecovery RecoverInterruptedRegistration(CPolicyListManager& manager) {
    if (!manager.m_pApp) return ERecovery::None;
    CAppServices& app = *manager.m_pApp;
    CAppLog& log = app.m_clLog;
    const QString path = app.Paths().Journal();
    if (!QFileInfo::exists(path) && !QFileInfo(path).isSymLink()) return ERecovery::None;
    log.TraceStart(kClass, QStringLiteral("Recover"));

    QByteArray bytes;
    CPolicyList saved;
    CPolicyList planned;
    if (!platform::ReadWholeFile(path, &bytes) || !ParseJournal(bytes, &app, saved, planned)) {
        const QString aside = AsideName(path);
        const bool moved = platform::RenameFileDurable(path, aside);
        log.ShowMessageFormat({moved ? aside : path}, strid::kJournalDamaged, LOG_WARN);
        return ERecovery::Damaged;
    }
    log.TraceValue(QStringLiteral("saved"), QString::number(saved.size()));
    if (manager.RestorePolicy(saved) != 1) {
        log.ShowMessageFormat({path}, strid::kJournalNotRestored, LOG_ERROR);
        return ERecovery::NotRestored;
    }
    if (!platform::RemoveFileDurable(path))
        log.TraceValue(QStringLiteral("RemoveJournal"), QStringLiteral("FALSE"));
    log.ShowMessageFormat({path}, strid::kJournalRestored, LOG_WARN);
    log.TraceEnd(kClass, QStringLiteral("Recover"));
    return ERecovery::Restored;
}

}  // namespace ostable
