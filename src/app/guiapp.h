#pragma once
// The window program's frame: start-up with a QApplication, the widget style around the run,
// and the run modes (agreement, then editor or apply mode) called directly.
#include "app/application.h"
#include "ui/dialog/messagepresenter.h"

class CZarntoolGuiApp : public CZarntoolApp {
public:
    CZarntoolGuiApp();

    void Run(const CZarnCommandLineInfo& cmdInfo) override;

protected:
    std::unique_ptr<QCoreApplication> MakeQtApp(int& argc, char** argv) override;
    void PrepareUi() override;
    void ReleaseUi() override;
    void FrameworkMessage(const QString& caption, const QString& text) override;

private:
    CQtMessagePresenter m_presenter;
};
