#include "ostable/workerjob.h"

#include <QThread>

#include "services/applog.h"
#include "policy/policylistmanager.h"

CWorkerJob::CWorkerJob(Work work) : m_work(std::move(work)) {
    m_pThread.reset(QThread::create([this] {
        // The starting thread keeps its event loop going: it shows the work's message boxes.
        CAppLog::HandBoxesToApplicationThread(true);
        RunWork();
    }));
}

CWorkerJob::~CWorkerJob() {
    if (m_pThread && m_pThread->isRunning()) m_pThread->wait();
}

void CWorkerJob::Start() {
    m_clStarted.start();
    m_pThread->start();
}

int CWorkerJob::RunHere() {
    RunWork();
    return m_nResult;
}

void CWorkerJob::RunWork() {
    m_nResult = m_work ? m_work(*this) : 0;
    m_bFinished.store(true, std::memory_order_release);
}

void CWorkerJob::Attach(CPolicyListManager& manager) {
    manager.m_pCancel = &m_cancel;
    manager.m_progress = [this](qsizetype done, qsizetype total) {
        QMutexLocker lock(&m_mutex);
        m_progress.done = done;
        m_progress.total = total;
    };
    manager.m_command = [this](const QString& command) {
        QMutexLocker lock(&m_mutex);
        m_progress.command = command;
    };
}

CWorkerJob::CProgress CWorkerJob::Progress() const {
    QMutexLocker lock(&m_mutex);
    return m_progress;
}
