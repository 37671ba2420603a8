#pragma once
// The application object: owns the log, the program directory, the settings file and the
// active resource set, runs start-up checks and hands over to the run modes.
#include <QCoreApplication>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "services/applog.h"
#include "services/resourceset.h"
#include "platform/instancelock.h"

class CZarnCommandLineInfo;

class CZarntoolApp {
public:
    struct Options {
        // Program directory ending in "/"; empty means the folder of the program file.
        QString appDir;
        bool appDirFromProgram = true;  // false: use appDir as given, even when empty
        // Program file name without extension (names the single-instance lock).
        QString exeName;
        // Folder of the single-instance lock file; empty means the user's runtime folder.
        QString lockDir;
        // Makes the Qt application object (a QApplication for the real program).
        std::function<std::unique_ptr<QCoreApplication>(int& argc, char** argv)> makeQtApp;
        // Renders message boxes; may be null (boxes go to standard error).
        IMessagePresenter* presenter = nullptr;
        // The run: agreement, then editor or apply mode. Null: the run only traces that it was
        // reached.
        std::function<void(CZarntoolApp& app, const CZarnCommandLineInfo& cmd)> run;
        // Preparation and release of the user interface around the run.
        std::function<void(CZarntoolApp& app)> prepareUi;
        std::function<void(CZarntoolApp& app)> releaseUi;
        // Shows the framework's own box (socket start-up failure): no log line.
        std::function<void(const QString& caption, const QString& text)> frameworkMessage;
        // Starts the socket library; null means platform::StartSocketLibrary. Tests inject a
        // failing one to reach the path that shows string 104.
        std::function<bool()> startSockets;
    };

    CZarntoolApp();
    explicit CZarntoolApp(Options options);
    virtual ~CZarntoolApp();
    CZarntoolApp(const CZarntoolApp&) = delete;
    CZarntoolApp& operator=(const CZarntoolApp&) = delete;

    // The current application object (the last one constructed and not yet destroyed).
    static CZarntoolApp* Current();

    // Start-up; the whole run happens inside. Always returns false.
    bool InitInstance(int argc, char** argv);
    bool InitInstance(const QStringList& arguments);  // arguments without the program name
    // Shutdown: releases the single-instance lock.
    int ExitInstance();

    // Settings file access (the file named by m_pszProfileName), read at every call.
    QString GetProfileString(const QString& section, const QString& key,
                             const QString& defaultValue = {}) const;
    int GetProfileInt(const QString& section, const QString& key, int defaultValue) const;
    bool WriteProfileString(const QString& section, const QString& key, const QString& value);
    // A value read in place of the file's for this run only (a command-line option); the file
    // is not changed.
    void OverrideProfileString(const QString& section, const QString& key, const QString& value);

    // Active resource set: the language library once loaded, else the program's own set.
    const CResourceSet& Resources() const;
    QString LoadString(int id) const { return Resources().String(id); }
    bool IsLanguageLoaded() const { return m_bLanguageLoaded; }
    // Makes `set` the active resource set (tests, and start-up once the library is loaded).
    void SetLanguageResources(const CResourceSet& set);

    QCoreApplication* QtApp() const { return m_pQtApp.get(); }
    const Options& GetOptions() const { return m_options; }

    // Members other parts of the program read.
    QString m_szAppDir;
    CAppLog m_clLog;
    QString m_csLicensePath;
    bool m_bNetworkUse = false;
    QString m_pszProfileName;
    QString m_pszHelpFilePath;
    QString m_pszAppName;
    QString m_pszExeName;
    QObject* m_pMainWnd = nullptr;

    // The run (agreement, then editor or apply mode): the installed run function. Until one is
    // installed it only traces that it was reached.
    void Run(const CZarnCommandLineInfo& cmdInfo);

private:
    bool RunStartup(const QStringList& arguments);
    bool FindLanguageDirectory() const;
    void Stop();  // logs string 301

    Options m_options;
    std::unique_ptr<QCoreApplication> m_pQtApp;
    int m_qtArgc = 0;
    QList<QByteArray> m_qtArgStorage;
    std::vector<char*> m_qtArgv;
    CResourceSet m_languageSet;
    bool m_bLanguageLoaded = false;
    platform::CInstanceLock m_hMutex;
    CZarntoolApp* m_previous = nullptr;
    QHash<QString, QString> m_profileOverrides;  // "section\nkey" -> value
};
