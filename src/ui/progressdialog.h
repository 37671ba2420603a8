#pragma once
// The progress window (template 140) of a registration or a network fetch that runs on a worker
// thread: what is being done, "n / m" commands done (or the seconds a fetch has waited), the
// command line running now, and "中止", which asks the work to stop.
#include <QWidget>

#include "ostable/workerjob.h"
#include "ui/dialog/dialogex.h"

class CAppServices;

class CProgressDlg : public CDialogEx {
    Q_OBJECT
public:
    enum class EKind { Register, Fetch };

    CProgressDlg(CAppServices& services, EKind kind, CWorkerJob& job, QWidget* parent = nullptr);

    // Shows the job's progress now (a timer calls it while the window is up).
    void Refresh();

protected:
    bool OnInitDialog() override;
    // "中止", Esc and the close box ask the work to stop; the window closes when it has.
    void OnCancel() override;
    // Enter does not close the window.
    void OnOK() override {}

private:
    // "中止" disabled and, for a registration, the text that the table is being put back.
    void ShowStopping();

    EKind m_eKind;
    CWorkerJob& m_job;
    CAppServices& m_services;
};

namespace progress {

// The work is shown in the progress window only when it lasts longer than this.
constexpr int kShowDelayMs = 300;

// Runs `work` on a worker thread and returns its result; the calling (window) thread goes on
// handling its events meanwhile, so windows repaint and timers fire. The controls and menu of
// `owner` are disabled while the work runs. For the first kShowDelayMs user input waits; then
// the progress window opens, modal to `owner` (a window of its own when `owner` is null).
// Without a widget application the work runs on the calling thread.
// SIGINT, SIGTERM and SIGHUP while the work runs stop it as "中止" does (logged with message
// 529); boxes are then no longer shown, and when the work has ended the program closes: every
// event loop ends, and EndingSignal gives the signal's number.
int RunWithProgress(CAppServices& services, QWidget* owner, CProgressDlg::EKind kind,
                    CWorkerJob::Work work);

// The exit status of a program closed by a signal is this plus the signal's number.
constexpr int kExitSignal = 128;
// The signal that closed the program during work run here; 0 for none.
int EndingSignal();

}  // namespace progress
