#include "policy/policylistmanager.h"

#include "app/zarntoolapp.h"
#include "platform/codepage.h"
#include "platform/fileutil.h"

namespace {
const QString kClass = QStringLiteral("CPolicyListManager");
}

CPolicyListManager::CPolicyListManager()
    : m_pApp(CZarntoolApp::Current()), m_csNetshPrefix(QStringLiteral("netsh interface ipv6 ")) {}

int CPolicyListManager::GetPolicyFile(CPolicyList& list, const QString& path) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(kClass, QStringLiteral("GetPolicyFile"));
    list.clear();
    if (!platform::FileExists(path)) {
        if (log) log->TraceValue(QStringLiteral("FindFile"), QStringLiteral("FALSE"));
        return 0;
    }
    QByteArray bytes;
    if (!platform::ReadWholeFile(path, &bytes)) {
        if (log) log->TraceValue(QStringLiteral("Open"), QStringLiteral("FALSE"));
        return 0;
    }
    // The whole file is converted at once so that no double-byte character is split.
    const QString text = platform::FromCp932(bytes);
    qsizetype start = 0;
    while (start < text.size()) {
        qsizetype end = text.indexOf(u'\n', start);
        const qsizetype next = end < 0 ? text.size() : end + 1;
        if (end < 0) end = text.size();
        qsizetype lineEnd = end;
        if (lineEnd > start && text[lineEnd - 1] == u'\r') --lineEnd;
        CPolicy row;
        row.SetStringCsv(text.mid(start, lineEnd - start));
        list.append(row);
        start = next;
    }
    if (log) log->TraceEnd(kClass, QStringLiteral("GetPolicyFile"));
    return 1;
}

int CPolicyListManager::GetStandardPolicyFile(CPolicyList& list) {
    const QString dir = m_pApp ? m_pApp->m_szAppDir : QString();
    return GetPolicyFile(list, dir + QStringLiteral("conf/policytable.conf"));
}

int CPolicyListManager::WritePolicyFile(const CPolicyList& list, const QString& path) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(kClass, QStringLiteral("WritePolicyFile"));
    QString text;
    for (const CPolicy& row : list) {
        text += row.GetStringCsv();
        text += QStringLiteral("\r\n");
    }
    // Written to a temporary file and renamed over the old one: a failed write leaves the
    // previous table intact.
    if (!platform::WriteFileAtomic(path, platform::ToCp932(text))) {
        if (log) {
            log->ShowMessageId(516, LOG_ERROR);
            log->TraceValue(QStringLiteral("Open"), QStringLiteral("FALSE"));
        }
        return 0;
    }
    if (log) log->TraceEnd(kClass, QStringLiteral("WritePolicyFile"));
    return 1;
}
