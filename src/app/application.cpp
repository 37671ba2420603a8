#include "app/application.h"

#include <QDir>
#include <QFileInfo>

#include "app/commandline.h"
#include "platform/fileutil.h"
#include "platform/profile.h"
#include "platform/selfpath.h"
#include "platform/socketinit.h"

CZarntoolApp::CZarntoolApp() : CZarntoolApp(Options()) {}

CZarntoolApp::CZarntoolApp(Options options) : m_options(std::move(options)) {
    m_pszExeName = m_options.exeName.isEmpty() ? platform::ProgramName() : m_options.exeName;
    m_clLog.SetPresenter(m_options.presenter);
}

CZarntoolApp::~CZarntoolApp() {
    m_hMutex.Release();
}

bool CZarntoolApp::InitInstance(int argc, char** argv) {
    QStringList arguments;
    for (int i = 1; i < argc; ++i) arguments << QString::fromLocal8Bit(argv[i]);
    if (m_options.makeQtApp && !m_pQtApp && !QCoreApplication::instance()) {
        m_qtArgc = argc;
        m_pQtApp = m_options.makeQtApp(m_qtArgc, argv);
    }
    return RunStartup(arguments);
}

bool CZarntoolApp::InitInstance(const QStringList& arguments) {
    if (m_options.makeQtApp && !m_pQtApp && !QCoreApplication::instance()) {
        m_qtArgStorage = {m_pszExeName.toLocal8Bit()};
        for (const QString& a : arguments) m_qtArgStorage << a.toLocal8Bit();
        m_qtArgv.clear();
        for (QByteArray& a : m_qtArgStorage) m_qtArgv.push_back(a.data());
        m_qtArgv.push_back(nullptr);
        m_qtArgc = static_cast<int>(m_qtArgStorage.size());
        m_pQtApp = m_options.makeQtApp(m_qtArgc, m_qtArgv.data());
    }
    return RunStartup(arguments);
}

void CZarntoolApp::Stop() { m_clLog.LogString(301); }

bool CZarntoolApp::FindLanguageDirectory() const {
    QDir langs(m_szAppDir + QStringLiteral("conf/langs"));
    if (!langs.exists()) return false;
    const QStringList dirs = langs.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    return !dirs.isEmpty();
}

bool CZarntoolApp::RunStartup(const QStringList& arguments) {
    // Program directory; every path below is a plain concatenation on it.
    m_szAppDir.clear();
    if (m_options.appDirFromProgram && m_options.appDir.isEmpty())
        m_szAppDir = platform::ProgramDirectory();
    else
        m_szAppDir = m_options.appDir;

    m_clLog.m_sLogPath = m_szAppDir + QStringLiteral("zarntool.log");

    const QString settingsPath = m_szAppDir + QStringLiteral("conf/zarntool.ini");
    if (platform::FileExists(settingsPath)) {
        m_pszProfileName = settingsPath;
        m_clLog.SetLogLevel(GetProfileString(QStringLiteral("APPLICATION"),
                                             QStringLiteral("LOG_LEVEL"), QStringLiteral("DEBUG")));
        const QString lang = GetProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LANG"));
        const QString langLibrary =
            m_szAppDir + QStringLiteral("conf/langs/") + lang + QStringLiteral("/lang.json");
        m_clLog.TraceValue(QStringLiteral("cs_LangDll"), langLibrary);
        CResourceSet set;
        QString reason;
        if (set.Load(langLibrary, &reason) == CResourceSet::LoadStatus::Loaded) {
            SetLanguageResources(set);
        } else {
            m_clLog.TraceValue(QStringLiteral("csError"), reason);
        }
    }

    const QString helpLang = GetProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LANG"),
                                              QStringLiteral("Japanese"));
    m_pszHelpFilePath = m_szAppDir + QStringLiteral("conf/langs/") + helpLang +
                        QStringLiteral("/help.chm");

    m_clLog.LogString(300);

    // Single-instance guard. It fails closed: a guard that cannot be taken (a lock file or
    // folder planted by someone else, a missing folder) cannot tell whether another instance
    // runs, so start-up stops as for a second instance; the system error is traced first.
    using LockResult = platform::CInstanceLock::Result;
    const LockResult lock = m_hMutex.Acquire(m_pszExeName, m_options.lockDir);
    if (lock != LockResult::Acquired) {
        if (lock == LockResult::Failed)
            m_clLog.TraceValue(QStringLiteral("CInstanceLock::Acquire"),
                               QString::number(m_hMutex.LastError()));
        m_clLog.ShowMessage(LoadString(600), LOG_FATAL);
        Stop();
        return false;
    }

    if (!platform::FileExists(settingsPath)) {
        m_clLog.ShowMessage(LoadString(602), LOG_FATAL);
        Stop();
        return false;
    }

    if (!FindLanguageDirectory()) {
        m_clLog.ShowMessageId(603, LOG_FATAL);
        Stop();
        return false;
    }

    const QString lang = GetProfileString(QStringLiteral("APPLICATION"), QStringLiteral("LANG"));
    const QString langDir = m_szAppDir + QStringLiteral("conf/langs/") + lang;
    if (!platform::FileExists(langDir + QStringLiteral("/lang.json"))) {
        m_clLog.ShowMessageId(604, LOG_FATAL);
        Stop();
        return false;
    }
    if (!IsLanguageLoaded()) {
        m_clLog.ShowMessageId(605, LOG_FATAL);
        Stop();
        return false;
    }

    m_pszAppName = LoadString(701);
    m_csLicensePath = langDir + QStringLiteral("/license.rtf");

    // The framework's own box, neither logged nor followed by string 301.
    const bool socketsReady =
        m_options.startSockets ? m_options.startSockets() : platform::StartSocketLibrary();
    if (!socketsReady) {
        if (m_options.frameworkMessage)
            m_options.frameworkMessage(m_pszAppName, LoadString(104));
        else
            DebugOutput(m_pszAppName + QStringLiteral(": ") + LoadString(104));
        return false;
    }

    CZarnCommandLineInfo cmdInfo(this);
    cmdInfo.ParseCommandLine(arguments);

    if (!cmdInfo.m_bOptionE &&
        !platform::FileExists(m_szAppDir + QStringLiteral("conf/policytable.conf"))) {
        m_clLog.ShowMessageId(606, LOG_FATAL);
        Stop();
        return false;
    }

    if (m_options.prepareUi) m_options.prepareUi(*this);
    Run(cmdInfo);
    if (m_options.releaseUi) m_options.releaseUi(*this);
    Stop();
    return false;
}

void CZarntoolApp::Run(const CZarnCommandLineInfo& cmdInfo) {
    if (m_options.run) {
        m_options.run(*this, cmdInfo);
        return;
    }
    // No run installed: leave the trace that start-up got this far, and in which mode.
    m_clLog.TraceStart(QStringLiteral("CZarntoolApp"), QStringLiteral("Run"));
    m_clLog.TraceValue(QStringLiteral("m_bOptionE"),
                       cmdInfo.m_bOptionE ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    m_clLog.TraceEnd(QStringLiteral("CZarntoolApp"), QStringLiteral("Run"));
}

int CZarntoolApp::ExitInstance() {
    m_hMutex.Release();
    return 0;
}
