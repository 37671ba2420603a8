#include "ui/progressdialog.h"

#include <QApplication>
#include <QEventLoop>
#include <QLabel>
#include <QMenuBar>
#include <QPointer>
#include <QPushButton>
#include <QThread>
#include <QTimer>

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
                                         : m_eKind == EKind::Lookup ? strid::kProgressOrdering
                                                                    : strid::kProgressFetching));
    Refresh();
    return true;
}

void CProgressDlg::Refresh() {
    if (m_eKind != EKind::Register) {
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
    EnableDlgItem(IDCANCEL, false);
    if (m_eKind == EKind::Register)
        SetDlgItemText(IDC_PROGRESS_TEXT, m_services.LoadString(strid::kProgressRestoring));
}

namespace progress {

int RunWithProgress(CAppServices& services, QWidget* owner, CProgressDlg::EKind kind,
                    CWorkerJob::Work work) {
    CWorkerJob job(std::move(work));
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

}  // namespace progress
