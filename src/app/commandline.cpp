#include "app/commandline.h"

#include "app/application.h"

void CZarnCommandLineInfo::ParseParam(const QString& param, bool isFlag, bool /*isLast*/) {
    CAppLog* log = m_pApp ? &m_pApp->m_clLog : nullptr;
    if (log) log->TraceStart(QStringLiteral("CZarnCommandLineInfo"), QStringLiteral("ParseParam"));
    if (isFlag) {
        ++m_nOptionCount;
        if (log) log->TraceValue(QStringLiteral("strOption"), param);
        if (param.compare(u"e", Qt::CaseInsensitive) == 0) {
            m_bOptionE = true;
        } else if (param.compare(u"g", Qt::CaseInsensitive) == 0) {
            m_bOptionG = true;
            m_nOptionGIndex = m_nOptionCount;
        }
    } else if (m_nOptionGIndex == m_nOptionCount) {
        m_csOptionG = param;
    }
    if (log) log->TraceEnd(QStringLiteral("CZarnCommandLineInfo"), QStringLiteral("ParseParam"));
}

void CZarnCommandLineInfo::ParseCommandLine(const QStringList& words) {
    for (qsizetype i = 0; i < words.size(); ++i) {
        const QString& word = words[i];
        const bool isFlag = word.startsWith(u'/') || word.startsWith(u'-');
        ParseParam(isFlag ? word.mid(1) : word, isFlag, i + 1 == words.size());
    }
}
