#pragma once
// Work that runs on a thread of its own while the thread that started it goes on handling its
// events: a registration or a network fetch behind the progress window. The work reports its
// progress here and finds the cancel request here; the window reads the one and sets the other.
#include <QElapsedTimer>
#include <QMutex>
#include <QString>
#include <atomic>
#include <functional>
#include <memory>

#include "platform/cancelevent.h"

class CPolicyListManager;
class QThread;

class CWorkerJob {
public:
    using Work = std::function<int(CWorkerJob& job)>;

    explicit CWorkerJob(Work work);
    // Waits for the work to end.
    ~CWorkerJob();
    CWorkerJob(const CWorkerJob&) = delete;
    CWorkerJob& operator=(const CWorkerJob&) = delete;

    // The thread the work runs on; its finished() signal says the work has ended.
    QThread* Thread() const { return m_pThread.get(); }
    void Start();
    // Runs the work on the calling thread instead (no event loop to keep going).
    int RunHere();
    bool IsFinished() const { return m_bFinished.load(std::memory_order_acquire); }
    // The work's answer once it has finished.
    int Result() const { return m_nResult; }
    // Milliseconds since Start (the starting thread only).
    qint64 ElapsedMs() const { return m_clStarted.elapsed(); }

    // Any thread.
    void RequestCancel() { m_cancel.Set(); }
    bool IsCancelRequested() const { return m_cancel.IsSet(); }

    // Lets a manager's registration report each command here and stop at the cancel request,
    // and its fetches end their wait at once.
    void Attach(CPolicyListManager& manager);

    struct CProgress {
        qsizetype done = 0;
        qsizetype total = 0;  // 0 until the commands are planned
        QString command;      // the command line running now
    };
    CProgress Progress() const;

private:
    void RunWork();

    Work m_work;
    std::unique_ptr<QThread> m_pThread;
    std::atomic<bool> m_bFinished{false};
    int m_nResult = 0;
    QElapsedTimer m_clStarted;
    platform::CCancelEvent m_cancel;
    mutable QMutex m_mutex;
    CProgress m_progress;
};
