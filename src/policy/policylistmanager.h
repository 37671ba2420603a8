#pragma once
// The gateway towards the policy table file, the operating system's table (through netsh)
// and the network. Declared once; its members are defined in the folder of the subsystem
// they belong to: file operations in policy/, command operations in ostable/, fetches in net/.
// A manager holds nothing open between calls.
#include <QList>
#include <QString>
#include <functional>

#include "policy/policy.h"

class CAppServices;
namespace platform {
class CCancelEvent;
}

class CPolicyListManager {
public:
    CPolicyListManager();

    // Policy table file (policy/).
    // Lines that do not give a valid row are left out; their numbers go to `rejected` and,
    // when `reasons` is given, why each was refused (message id and its filled-in text; a line
    // without the six fields gives message 800).
    int GetPolicyFile(CPolicyList& list, const QString& path, QList<qsizetype>* rejected = nullptr,
                      QList<ErrorInfo>* reasons = nullptr);
    int GetStandardPolicyFile(CPolicyList& list, QList<qsizetype>* rejected = nullptr);
    // Removes every row that fails CPolicy::ValidateFields, logging each; returns how many.
    qsizetype DropInvalidRows(CPolicyList& list);
    int WritePolicyFile(const CPolicyList& list, const QString& path);
    // The bytes WritePolicyFile writes for `list`.
    static QByteArray PolicyFileBytes(const CPolicyList& list);

    // Operating-system table through netsh, and the diagnostic snapshot (ostable/).
    QString ExecuteCommand(const QString& commandLine);
    // Runs the program `words[0]` with those words, as ExecuteCommand runs a split command line.
    QString ExecuteWords(const QStringList& words);
    int GetCurrent(CPolicyList& list);
    int ConvertToPolicy(const QString& output, CPolicyList& list);
    int RemoveAllPolicy();
    int AddPolicy(CPolicyList& list);
    int DividePolicy(CPolicyList& list);
    QString GetCurrentString();

    // Registration: installs the switched-on rows of `rows` in place of the system's table.
    // Everything is planned and checked before the first change (PlanPolicy); the table is
    // read first, and when any command fails, that table is put back (RestorePolicy) and
    // the user is told whether that worked. 1 installed; 0 nothing changed or put back.
    // `restore`, when given, tells whether a failed registration had to put the table back and
    // whether that worked. A cancel request (m_pCancel) ends it like a failure, without a
    // failure message: the table is put back and the user told so.
    enum class ERestore { NotNeeded, Restored, NotRestored };
    int RegisterPolicy(const CPolicyList& rows, ERestore* restore = nullptr);
    // The add commands' rows for `rows`, all of which are installed: each row validated,
    // prefixes typed twice refused (message 511), the Vista/7 division done, and a divided
    // prefix that another row also yields kept once (see the rule in PlanPolicy).
    int PlanPolicy(const CPolicyList& rows, CPolicyList& plan);
    // Makes the system's table `saved` again: deletes what it lists now, adds `saved` in
    // order. Every command is logged; failures are logged, not shown. 1 when all succeeded.
    int RestorePolicy(const CPolicyList& saved);

    // Installing a policy table file, the one way apply mode and corvane do it (ostable/):
    // the file must be found and read; a file with any refused line changes nothing (message
    // 521); its rows then go through `registration`, RegisterPolicy itself when not given
    // (apply mode runs it behind its progress window). `path` empty: the installation's policy
    // table file. `beforeBox` runs before the routine shows message 521 (apply mode ends its
    // wait cursor there). Failures are traced; the caller shows the outcome as it presents it.
    enum class EInstall {
        Installed,
        FileNotFound,  // missing, or found but not readable
        LineRefused,   // message 521 shown; nothing changed
        NotChanged,    // the registration failed before anything needed putting back
        Restored,      // the registration failed; the previous table is back
        NotRestored,   // the registration failed and the previous table could not be put back
    };
    using Registration = std::function<int(const CPolicyList& rows, ERestore* restore)>;
    EInstall InstallPolicyFile(const QString& path = {}, const Registration& registration = {},
                               const std::function<void()>& beforeBox = {});
    QString GetCurrentIpconfigString();

    // Network retrieval (net/).
    int GetDhcp(CPolicyList& list);
    int GetHttp(CPolicyList& list);

    // Every network wait lasts this long (30 s). Only tests shorten it.
    static constexpr int kNetworkWaitMs = 30000;
    // Called after each command of a registration (not of its restore) with the commands run
    // and the commands planned.
    std::function<void(qsizetype done, qsizetype total)> m_progress;
    // Called with each command line of a registration or of its restore before it runs (through
    // a script: when its output is read, once the script has run).
    std::function<void(const QString& command)> m_command;
    // When set (from any thread), a registration stops after the command (through scripts: the
    // script) that is running and puts the previous table back; a fetch stops waiting at once and fetches nothing.
    const platform::CCancelEvent* m_pCancel = nullptr;
    bool CancelRequested() const;
    void SetNetworkWaitForTesting(int milliseconds) { m_nNetworkWaitMs = milliseconds; }

    CAppServices* m_pApp = nullptr;
    QString m_csNetshPrefix;

private:
    enum class EOnFailure { StopAndShow, LogAndContinue };
    int ReadCurrent(CPolicyList& list, bool showFailure);
    // Runs one delete or add command per row; returns the number of commands that failed, or
    // -1 when a registration's command was not run because a cancel was requested.
    int RunRowCommands(const CPolicyList& rows, bool isDelete, EOnFailure onFailure);
    // Logs one command's result as RunRowCommands does and counts it as done: 0, or 1 when it
    // failed (with `onFailure` shown or only logged). `notFound`: what an absent entry prints.
    int ReportCommand(const QString& command, bool isDelete, const QString& result, EOnFailure onFailure,
                      const QString& notFound);
    // The deletes, then the adds: each one command when [APPLICATION] BATCH is 0, else netsh
    // scripts (scriptrunner.cpp). Stops at the first failure with StopAndShow (`inDeletes` then
    // tells whether it was a delete); the failures, or -1 for a cancel.
    int RunChanges(const CPolicyList& deletes, const CPolicyList& adds, EOnFailure onFailure, bool* inDeletes);
    // The commands of [APPLICATION] BATCH's scripts at most; 0 when every command runs alone.
    qsizetype ScriptPieceLength() const;
    // Runs the command lines as one netsh script; the output of each.
    QStringList RunScript(const QStringList& commandLines);

    int m_nNetworkWaitMs = kNetworkWaitMs;
    qsizetype m_nProgressDone = 0;
    qsizetype m_nProgressTotal = 0;  // 0: no registration under way
};
