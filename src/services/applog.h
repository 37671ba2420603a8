#pragma once
// The log-and-message object: writes zarntool.log (one line per entry, CP932 with CR LF, each
// line one append on a file kept open that follows the path; see platform::CLogFile) and shows
// every message box, logging its text after the user has answered so that every message the user
// sees is in the log. Any thread may log; a worker's message boxes can be handed to the
// application's thread.
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include "platform/logfile.h"
#include <atomic>

#include "services/results.h"

class CResourceSet;

// What a message box needs; the user-interface layer renders it.
struct CMessageBoxRequest {
    QString text;
    int kind = LOG_INFO;   // 0..5; see CAppLog::ShowMessage
    QString caption;       // string 701
    QString yesText;       // string 105
    QString noText;        // string 106
    QString cancelText;    // string 107
    QObject* owner = nullptr;  // owner window, or none
    int id = 0;                // the message's string id; 0 for a text given as is
};

class IMessagePresenter {
public:
    virtual ~IMessagePresenter() = default;
    // Shows the box modally; returns IDOK, IDYES or IDNO.
    virtual int Present(const CMessageBoxRequest& request) = 0;
};

class CAppLog {
public:
    CAppLog() = default;

    void SetLogLevel(const QString& word);
    int AppendLog(int level, const QString& text);
    int LogString(int id);
    int LogFormat(const QStringList& inserts, int id, int level);
    int TraceStart(const QString& className, const QString& methodName);
    int TraceEnd(const QString& className, const QString& methodName);
    int TraceValue(const QString& name, const QString& value);

    // Bulk work over rows (reading, validating or writing many) runs its steps for each row
    // inside one: while it lives, the calling thread's method trace lines (TraceStart, TraceEnd,
    // TraceValue) are left out, so that a row costs at most the one line the bulk work writes
    // about it itself (a refused row). Every other line is written as always. They nest.
    class CQuietTrace {
    public:
        CQuietTrace();
        ~CQuietTrace();
        CQuietTrace(const CQuietTrace&) = delete;
        CQuietTrace& operator=(const CQuietTrace&) = delete;
    };
    int ShowMessage(const QString& text, int kind);
    int ShowMessageId(int id, int kind);
    int ShowMessageFormat(const QStringList& inserts, int id, int kind);

    // Windows message-insert formatting: %1..%4 replaced by the inserts when 1 to 4 are given;
    // an empty list or more than four gives the text without inserts.
    static QString FormatMessage(const QString& text, const QStringList& inserts);

    // Where texts come from (the active resource set); without one, texts are empty.
    void SetResources(const CResourceSet* resources) { m_pResources = resources; }
    QString LoadString(int id) const;

    // Message boxes asked for on the calling thread from now on are shown by the application's
    // thread, which must keep handling its events until the calling thread is done (a worker
    // behind the progress window).
    static void HandBoxesToApplicationThread(bool on);

    // The box renderer; without one, boxes are written to standard error and answered with
    // the default button (OK, or No for a question).
    void SetPresenter(IMessagePresenter* presenter) { m_pPresenter = presenter; }

    // While held, a log that cannot be written is not yet reported (start-up holds it until
    // the language is known); releasing reports a failure that happened meanwhile, once.
    void HoldFailureNotice(bool hold);
    IMessagePresenter* Presenter() const { return m_pPresenter; }

    int m_nLogLevel = LOG_DEBUG;
    QString m_sLogPath;
    QPointer<QObject> m_hOwnerWnd;

private:
    int Show(const QString& text, int kind, int id);
    void ReportUnwritableLog();

    const CResourceSet* m_pResources = nullptr;
    IMessagePresenter* m_pPresenter = nullptr;
    platform::CLogFile m_clFile;  // the log at m_sLogPath, kept open between lines
    std::atomic<bool> m_bLogFailed{false};
    std::atomic<bool> m_bHoldFailureNotice{false};
    std::atomic<bool> m_bLogFailureReported{false};  // said on standard error once per run
};

// Text sent where Windows would use the debugger output: standard error.
void DebugOutput(const QString& text);
