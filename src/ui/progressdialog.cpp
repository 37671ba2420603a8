#include "ui/progressdialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMenuBar>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>
#include <atomic>

#include "platform/cancelevent.h"
#include "platform/signalwatch.h"
#include "ui/dialog/messagepresenter.h"
#include "resids.h"
#include "services/appservices.h"

namespace {

// How often the window reads the job's progress.
constexpr int kRefreshMs = 50;

// Disables the controls and the menu of a dialog for its lifetime and gives back their state.
class CDisabledControls {
public:
    explicit CDisabledControls(QWidget* owner) {
        auto* dialog = qobject_cast<CDialogEx*>(owner);
        if (!dialog) return;
        for (QWidget* w : {dialog->ClientArea(), static_cast<QWidget*>(dialog->GetMenu())}) {
            if (w && w->isEnabled()) {
                w->setEnabled(false);
                m_disabled.append(w);
            }
        }
    }
    ~CDisabledControls() {
        for (const QPointer<QWidget>& w : m_disabled)
            if (w) w->setEnabled(true);
    }
    CDisabledControls(const CDisabledControls&) = delete;
    CDisabledControls& operator=(const CDisabledControls&) = delete;

private:
    QList<QPointer<QWidget>> m_disabled;
};

std::atomic<int> g_endingSignal{0};

// SIGINT, SIGTERM and SIGHUP while work runs: the work stops as "中止" stops it, nobody is asked
// anything any more (an open box closes with its default answer, later ones are only logged),
// and once the work has ended the program closes: every event loop ends.
class CCloseOnSignal {
public:
    CCloseOnSignal(CAppServices& services, CWorkerJob& job)
        : m_watch(m_cancel, [&services, &job](int signal) {
              job.RequestCancel();
              services.m_clLog.LogFormat({QString::number(signal), platform::CSignalWatch::Name(signal)},
                                         strid::kSignalReceived, LOG_WARN);
              CQtMessagePresenter::SetUnattended();
              if (QCoreApplication* app = QCoreApplication::instance())
                  QMetaObject::invokeMethod(app, &CCloseOnSignal::CloseBoxes, Qt::QueuedConnection);
          }) {}
    ~CCloseOnSignal() {
        const int signal = m_watch.Signal();
        if (signal == 0) return;
        g_endingSignal.store(signal);
        QCoreApplication::exit(progress::kExitSignal + signal);
    }
    CCloseOnSignal(const CCloseOnSignal&) = delete;
    CCloseOnSignal& operator=(const CCloseOnSignal&) = delete;

private:
    static void CloseBoxes() {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) box->reject();
    }

    platform::CCancelEvent m_cancel;  // set by the watch; the job's own is set beside it
    platform::CSignalWatch m_watch;
};

}  // namespace

CProgressDlg::CProgressDlg(CAppServices& services, EKind kind, CWorkerJob& job, QWidget* parent)
    : CDialogEx(IDD_PROGRESS_DIALOG, services, parent),
      m_eKind(kind),
      m_job(job),
      m_services(services) {}

bool CProgressDlg::OnInitDialog() {
    CDialogEx::OnInitDialog();
    // Enter never stops the work by accident: only a click or Space on "中止" does.
    if (auto* stop = GetDlgItemAs<QPushButton>(IDCANCEL)) stop->setAutoDefault(false);
    if (auto* command = GetDlgItemAs<QLabel>(IDC_PROGRESS_COMMAND)) {
        command->setWordWrap(true);
        command->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    }
    SetDlgItemText(IDC_PROGRESS_TEXT,
                   m_services.LoadString(m_eKind == EKind::Register ? strid::kProgressRegistering
                                                                    : strid::kProgressFetching));
    Refresh();
    return true;
}

void CProgressDlg::Refresh() {
    // A cancel that came from elsewhere (a signal) shows as "中止" does.
    if (m_job.IsCancelRequested() && IsDlgItemEnabled(IDCANCEL)) ShowStopping();
    if (m_eKind == EKind::Fetch) {
        const qint64 seconds = m_job.ElapsedMs() / 1000;
        SetDlgItemText(IDC_PROGRESS_COUNT,
                       CAppLog::FormatMessage(m_services.LoadString(strid::kProgressSeconds),
                                              {QString::number(seconds)}));
        return;
    }
    const CWorkerJob::CProgress progress = m_job.Progress();
    if (progress.total > 0)
        SetDlgItemText(IDC_PROGRESS_COUNT,
                       CAppLog::FormatMessage(
                           m_services.LoadString(strid::kProgressCount),
                           {QString::number(progress.done), QString::number(progress.total)}));
    SetDlgItemText(IDC_PROGRESS_COMMAND, progress.command);
}

void CProgressDlg::OnCancel() {
    if (m_job.IsCancelRequested()) return;
    m_job.RequestCancel();
    ShowStopping();
}

void CProgressDlg::ShowStopping() {
    EnableDlgItem(IDCANCEL, false);
    if (m_eKind == EKind::Register)
        SetDlgItemText(IDC_PROGRESS_TEXT, m_services.LoadString(strid::kProgressRestoring));
}

namespace progress {

int RunWithProgress(CAppServices& services, QWidget* owner, CProgressDlg::EKind kind,
                    CWorkerJob::Work work) {
    CWorkerJob job(std::move(work));
    const CCloseOnSignal closeOnSignal(services, job);
    if (!qobject_cast<QApplication*>(QCoreApplication::instance())) return job.RunHere();

    CDisabledControls disabled(owner);
    QEventLoop loop;
    QObject::connect(job.Thread(), &QThread::finished, &loop, &QEventLoop::quit);
    job.Start();

    // A short job ends before anything is shown; until then input waits, as it did when the
    // work ran on this thread, while painting and timers go on.
    QTimer delay;
    delay.setSingleShot(true);
    QObject::connect(&delay, &QTimer::timeout, &loop, &QEventLoop::quit);
    delay.start(kShowDelayMs);
    while (!job.IsFinished() && delay.isActive()) loop.exec(QEventLoop::ExcludeUserInputEvents);

    if (!job.IsFinished()) {
        CProgressDlg dlg(services, kind, job, owner);
        if (dlg.Create()) {
            dlg.setWindowModality(owner ? Qt::WindowModal : Qt::ApplicationModal);
            dlg.show();
        }
        // The pointer with its busy mark: the window still takes clicks.
        QGuiApplication::setOverrideCursor(Qt::BusyCursor);
        QTimer refresh;
        QObject::connect(&refresh, &QTimer::timeout, &dlg, &CProgressDlg::Refresh);
        refresh.start(kRefreshMs);
        while (!job.IsFinished()) loop.exec();
        refresh.stop();
        QGuiApplication::restoreOverrideCursor();
        dlg.hide();
    }
    job.Thread()->wait();
    return job.Result();
}

int EndingSignal() { return g_endingSignal.load(); }

}  // namespace progress
