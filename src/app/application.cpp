#include "app/application.h"

#include <QDir>
#include <QFileInfo>

#include "app/commandline.h"
#include "ostable/journal.h"
#include "platform/fileutil.h"
#include "services/settingskeys.h"
#include "resids.h"
#include "platform/netshconf.h"
#include "platform/profile.h"
#include "platform/rights.h"
#include "platform/selfpath.h"
#include "platform/socketinit.h"
#include "policy/policylistmanager.h"

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
    if (!m_pQtApp && !QCoreApplication::instance()) {
        m_qtArgc = argc;
        m_pQtApp = MakeQtApp(m_qtArgc, argv);
    }
    return RunStartup(arguments);
}

bool CZarntoolApp::InitInstance(const QStringList& arguments) {
    if (!m_pQtApp && !QCoreApplication::instance()) {
        m_qtArgStorage = {m_pszExeName.toLocal8Bit()};
        for (const QString& a : arguments) m_qtArgStorage << a.toLocal8Bit();
        m_qtArgv.clear();
        for (QByteArray& a : m_qtArgStorage) m_qtArgv.push_back(a.data());
        m_qtArgv.push_back(nullptr);
        m_qtArgc = static_cast<int>(m_qtArgStorage.size());
        m_pQtApp = MakeQtApp(m_qtArgc, m_qtArgv.data());
    }
    return RunStartup(arguments);
}

void CZarntoolApp::Stop() { m_clLog.LogString(strid::kStopped); }

bool CZarntoolApp::FindLanguageDirectory() const {
    QDir langs(Paths().LanguagesDir());
    if (!langs.exists()) return false;
    const QStringList dirs = langs.entryList(QDir::Dirs | QDir::NoDotAndDotDot | QDir::Hidden);
    return !dirs.isEmpty();
}

void CZarntoolApp::ReadSettingsAndLanguage() {
    // Program directory; every path of the installation is a plain concatenation on it.
    m_szAppDir.clear();
    if (m_options.appDirFromProgram && m_options.appDir.isEmpty())
        m_szAppDir = platform::ProgramDirectory();
    else
        m_szAppDir = m_options.appDir;
    const CInstallPaths paths = Paths();
    m_clLog.m_sLogPath = paths.Log();
    // A log the user cannot write is reported in the settings' language, once it is loaded.
    m_clLog.HoldFailureNotice(true);

    if (platform::FileExists(paths.Settings())) {
        m_pszProfileName = paths.Settings();
        m_clLog.SetLogLevel(GetProfileString(settings::Application(), settings::LogLevel(),
                                             QStringLiteral("DEBUG")));
        const QString langLibrary =
            paths.LanguageLibrary(GetProfileString(settings::Application(), settings::Lang()));
        m_clLog.TraceValue(QStringLiteral("cs_LangDll"), langLibrary);
        CResourceSet set;
        QString reason;
        if (set.Load(langLibrary, &reason) == CResourceSet::LoadStatus::Loaded) {
            SetLanguageResources(set);
        } else {
            m_clLog.TraceValue(QStringLiteral("csError"), reason);
        }
    }
    m_clLog.HoldFailureNotice(false);
    m_pszHelpFilePath = paths.Help(
        GetProfileString(settings::Application(), settings::Lang(), QStringLiteral("Japanese")));
}

bool CZarntoolApp::TakeInstanceLock() {
    // Single-instance guard. It fails closed: a guard that cannot be taken (a lock file or
    // folder planted by someone else, a missing folder) cannot tell whether another instance
    // runs, so start-up stops as for a second instance; the system error is traced first.
    using LockResult = platform::CInstanceLock::Result;
    const LockResult lock = m_hMutex.Acquire(m_pszExeName, m_options.lockDir);
    if (lock == LockResult::Acquired) return true;
    if (lock == LockResult::Failed)
        m_clLog.TraceValue(QStringLiteral("CInstanceLock::Acquire"),
                           QString::number(m_hMutex.LastError()));
    m_clLog.ShowMessage(LoadString(strid::kAlreadyRunning), LOG_FATAL);
    return false;
}

int CZarntoolApp::CheckInstallation() const {
    const CInstallPaths paths = Paths();
    if (!platform::FileExists(paths.Settings())) return strid::kNoSettingsFile;
    if (!FindLanguageDirectory()) return strid::kNoLanguageFolder;
    const QString lang = GetProfileString(settings::Application(), settings::Lang());
    if (!platform::FileExists(paths.LanguageLibrary(lang))) return strid::kNoLanguageLibrary;
    if (!IsLanguageLoaded()) return strid::kLanguageNotLoadable;
    return 0;
}

bool CZarntoolApp::CheckRights() {
    // Only the system store changes this machine; the stage's file store needs no rights.
    if (!m_options.changesTable || platform::HasAdministratorRights()) return true;
    if (!platform::ReadNetshConf(m_szAppDir).systemStore) return true;
    m_clLog.ShowMessageId(strid::kNeedsAdminRights, LOG_FATAL);
    return false;
}

bool CZarntoolApp::StartSockets() {
    // The framework's own box, neither logged nor followed by string 301.
    const bool ready =
        m_options.startSockets ? m_options.startSockets() : platform::StartSocketLibrary();
    if (ready) return true;
    FrameworkMessage(m_pszAppName, LoadString(strid::kSocketsNotStarted));
    return false;
}

void CZarntoolApp::FinishInterruptedRegistration() {
    // A run that does not hold the guard (the watcher) takes it for the recovery: while another
    // instance holds it, a journal may be that instance's registration under way.
    platform::CInstanceLock guard;
    if (!m_options.lockAtStart &&
        guard.Acquire(m_pszExeName, m_options.lockDir) != platform::CInstanceLock::Result::Acquired)
        return;
    CPolicyListManager manager;
    manager.m_pApp = this;
    ostable::RecoverInterruptedRegistration(manager);
}

bool CZarntoolApp::RunStartup(const QStringList& arguments) {
    ReadSettingsAndLanguage();
    m_clLog.LogString(strid::kStarted);
    if (m_options.lockAtStart && !TakeInstanceLock()) {
        Stop();
        return false;
    }
    if (const int missing = CheckInstallation()) {
        // The settings file's message is shown as text; the others by number.
        if (missing == strid::kNoSettingsFile)
            m_clLog.ShowMessage(LoadString(missing), LOG_FATAL);
        else
            m_clLog.ShowMessageId(missing, LOG_FATAL);
        Stop();
        return false;
    }
    if (!CheckRights()) {
        Stop();
        return false;
    }
    // The settings name the system's commands: the restore needs them read and checked.
    FinishInterruptedRegistration();
    const QString lang = GetProfileString(settings::Application(), settings::Lang());
    m_pszAppName = LoadString(strid::kProductName);
    m_csLicensePath = Paths().License(lang);
    if (!StartSockets()) return false;

    CZarnCommandLineInfo cmdInfo(this);
    cmdInfo.ParseCommandLine(arguments);
    if (!cmdInfo.m_bOptionE && !platform::FileExists(Paths().PolicyTable())) {
        m_clLog.ShowMessageId(strid::kNoPolicyTableFile, LOG_FATAL);
        Stop();
        return false;
    }
    PrepareUi();
    Run(cmdInfo);
    ReleaseUi();
    Stop();
    return false;
}

std::unique_ptr<QCoreApplication> CZarntoolApp::MakeQtApp(int& argc, char** argv) {
    return m_options.makeQtApp ? m_options.makeQtApp(argc, argv) : nullptr;
}

void CZarntoolApp::PrepareUi() {
    if (m_options.prepareUi) m_options.prepareUi(*this);
}

void CZarntoolApp::ReleaseUi() {
    if (m_options.releaseUi) m_options.releaseUi(*this);
}

void CZarntoolApp::FrameworkMessage(const QString& caption, const QString& text) {
    if (m_options.frameworkMessage)
        m_options.frameworkMessage(caption, text);
    else
        DebugOutput(caption + QStringLiteral(": ") + text);
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
