#include "support/testsupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include "platform/codepage.h"
#include "platform/profile.h"

namespace testsupport {

QString SourceDir() { return QStringLiteral(CORVANE_SOURCE_DIR); }
QString StageDir() { return QStringLiteral(CORVANE_STAGE_DIR); }

bool WriteFile(const QString& path, const QByteArray& bytes) {
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate)) return false;
    return f.write(bytes) == bytes.size();
}

QByteArray ReadFile(const QString& path) {
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) return {};
    return f.readAll();
}

CTempInstall::CTempInstall() {
    const QString src = SourceDir();
    WriteFile(Conf(QStringLiteral("zarntool.ini")), ReadFile(src + QStringLiteral("/conf/zarntool.ini")));
    WriteFile(Conf(QStringLiteral("policytable.conf.default")),
              ReadFile(src + QStringLiteral("/conf/policytable.conf.default")));
    WriteFile(Conf(QStringLiteral("langs/Japanese/lang.json")),
              ReadFile(StageDir() + QStringLiteral("/conf/langs/Japanese/lang.json")));
}

int CScriptedPresenter::Present(const CMessageBoxRequest& request) {
    shown.append(request);
    if (!m_answers.isEmpty()) return m_answers.takeFirst();
    return request.kind == LOG_CONFIRM ? defaultQuestionAnswer : defaultAnswer;
}

CTestApp::CTestApp() {
    CZarntoolApp::Options options;
    options.appDir = m_install.Dir();
    options.exeName = QStringLiteral("zarntool");
    options.presenter = &m_presenter;
    m_app = std::make_unique<CZarntoolApp>(options);
    m_app->m_szAppDir = m_install.Dir();
    m_app->m_clLog.m_sLogPath = m_install.Dir() + QStringLiteral("zarntool.log");
    m_app->m_pszProfileName = m_install.Conf(QStringLiteral("zarntool.ini"));
    CResourceSet set;
    set.Load(m_install.Conf(QStringLiteral("langs/Japanese/lang.json")));
    m_app->SetLanguageResources(set);
}

QStringList CTestApp::LogLines() const {
    const QString text = platform::FromCp932(ReadFile(m_install.Dir() + QStringLiteral("zarntool.log")));
    QStringList lines = text.split(QStringLiteral("\r\n"));
    if (!lines.isEmpty() && lines.last().isEmpty()) lines.removeLast();
    return lines;
}

void CTestApp::SetSetting(const QString& section, const QString& key, const QString& value) {
    platform::WriteProfileString(m_app->m_pszProfileName, section, key, value);
}

}  // namespace testsupport
