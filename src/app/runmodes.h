#pragma once
// The run start-up hands over to: the terms-of-use agreement on every start, then editor mode
// (/e: the main window, modally) or apply mode (the policy table file installed into the
// operating system's table without any window).
#include <functional>
#include <memory>

class CAppServices;
class CDialogEx;
class CZarntoolApp;
class CZarnCommandLineInfo;

namespace runmodes {

// Makes the main window for editor mode over the run's services; null when this build has none.
using MainWindowFactory = std::function<std::unique_ptr<CDialogEx>(CAppServices& services)>;

// The run. Shows the agreement; on acceptance runs editor or apply mode.
void Run(CZarntoolApp& app, const CZarnCommandLineInfo& cmd,
         const MainWindowFactory& mainWindow = {});

// Editor mode: the main window runs modally as the application's main window.
void RunEditor(CZarntoolApp& app, const MainWindowFactory& mainWindow);

// The apply attempt: reads conf/policytable.conf, empties the operating system's table and
// adds the switched-on rows in file order, behind the wait cursor. Shows box 404 on success;
// the operations show their own failures. Returns 1 on success, 0 on failure.
int ApplyPolicyTable(CZarntoolApp& app);

}  // namespace runmodes
