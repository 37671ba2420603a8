#pragma once
// The application object: the services of the run plus start-up, the single-instance guard
// and the hand-over to the run modes.
#include <QCoreApplication>
#include <QHash>
#include <QString>
#include <QStringList>
#include <functional>
#include <memory>

#include "services/appservices.h"
#include "platform/instancelock.h"

class CZarnCommandLineInfo;

class CZarntoolApp : public CAppServices {
public:
    struct Options {
        // Program directory ending in "/"; empty means the folder of the program file.
        QString appDir;
        bool appDirFromProgram = true;  // false: use appDir as given, even when empty
        // Program file name without extension (names the single-instance lock).
        QString exeName;
        // Folder of the single-instance lock file; empty means the user's runtime folder.
        QString lockDir;
        // False: start-up does not take the lock; the run takes it around each change of the
        // table (the long-running watcher, which must not keep the editor out).
        bool lockAtStart = true;
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
        // The run may change the system's table (the window program always; corvane for its
        // installing commands): on the system store, start-up stops without administrator
        // rights, before the agreement and before anything is changed.
        bool changesTable = true;
    };

    CZarntoolApp();
    explicit CZarntoolApp(Options options);
    ~CZarntoolApp() override;
    CZarntoolApp(const CZarntoolApp&) = delete;
    CZarntoolApp& operator=(const CZarntoolApp&) = delete;

    // Start-up; the whole run happens inside. Always returns false.
    bool InitInstance(int argc, char** argv);
    bool InitInstance(const QStringList& arguments);  // arguments without the program name
    // Shutdown: releases the single-instance lock.
    int ExitInstance();

    QCoreApplication* QtApp() const { return m_pQtApp.get(); }
    const Options& GetOptions() const { return m_options; }

    // The run (agreement, then editor or apply mode): the installed run function. Until one is
    // installed it only traces that it was reached.
    virtual void Run(const CZarnCommandLineInfo& cmdInfo);

protected:
    // The steps a program puts around start-up; by default they are the options' functions.
    // The Qt application object (null: none is made here).
    virtual std::unique_ptr<QCoreApplication> MakeQtApp(int& argc, char** argv);
    // Preparation and release of the user interface around the run.
    virtual void PrepareUi();
    virtual void ReleaseUi();
    // The framework's own box (socket start-up failure): no log line.
    virtual void FrameworkMessage(const QString& caption, const QString& text);

private:
    bool RunStartup(const QStringList& arguments);
    // Start-up's steps: the program directory, the settings file and the language library;
    // the single-instance guard; the installation's files (0, or the message naming what is
    // missing); the socket library.
    void ReadSettingsAndLanguage();
    bool TakeInstanceLock();
    int CheckInstallation() const;
    bool CheckRights();
    bool StartSockets();
    // A registration journal left behind: the table it saved is put back before anything else
    // may change the table (ostable::RecoverInterruptedRegistration).
    void FinishInterruptedRegistration();
    bool FindLanguageDirectory() const;
    void Stop();  // logs string 301

    Options m_options;
    std::unique_ptr<QCoreApplication> m_pQtApp;
    int m_qtArgc = 0;
    QList<QByteArray> m_qtArgStorage;
    std::vector<char*> m_qtArgv;
    platform::CInstanceLock m_hMutex;
};
