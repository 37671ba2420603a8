// The window during a 1,000-row registration through the netsh stand-in: the longest gap
// between two ticks of a 10 ms timer on the window's thread, and the registration's total time.
// Arg 1: the registration on a worker behind the progress window ("登録" as it is); arg 0: the
// same commands and file write run on the window's own thread, as the window did before.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <algorithm>

#include "benchinstall.h"
#include "ui/mainwindow.h"

namespace {

using benchsupport::CBenchInstall;

void BM_RegistrationTimerGap(benchmark::State& state) {
    CBenchInstall install;
    install.WriteTable(int(state.range(0)));
    const bool worker = state.range(1) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(install.Dir() + "netsh.table");  // the Windows default table to start with
        CZarntoolDlg dlg(*install.app);
        dlg.Create();
        dlg.show();
        QApplication::processEvents();
        QElapsedTimer clock;
        qint64 last = 0;
        qint64 gap = 0;
        QTimer timer;
        timer.setInterval(10);
        QObject::connect(&timer, &QTimer::timeout, [&] {
            const qint64 now = clock.elapsed();
            gap = std::max(gap, now - last);
            last = now;
        });
        state.ResumeTiming();
        clock.start();
        timer.start();
        bool ok = true;
        if (worker) {
            dlg.OnBnClickedSave();
            ok = dlg.GetResult() == IDOK;
        } else {
            CPolicyList rows;
            dlg.m_listPolicy.GetPolicyList(rows);
            CPolicyListManager manager = dlg.m_clManager;
            ok = manager.RegisterPolicy(rows) == 1 &&
                 manager.WritePolicyFile(rows, install.Dir() + "conf/policytable.conf") == 1;
        }
        const qint64 total = clock.elapsed();
        gap = std::max(gap, total - last);
        timer.stop();
        if (!ok) state.SkipWithError("registration failed");
        state.counters["longest_gap_ms"] = double(gap);
        state.counters["total_ms"] = double(total);
    }
}
BENCHMARK(BM_RegistrationTimerGap)
    ->Args({1000, 1})
    ->Args({1000, 0})
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace
