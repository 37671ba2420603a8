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

#include "app/application.h"
#include "platform/codepage.h"
#include "ui/mainwindow.h"

namespace {

class CProgressBenchInstall {
public:
    explicit CProgressBenchInstall(int rows) {
        const QString dir = Dir();
        const QString stage = QStringLiteral(CORVANE_STAGE_DIR);
        QDir().mkpath(dir + "conf/langs/Japanese");
        QFile::copy(QStringLiteral(CORVANE_SOURCE_DIR "/conf/zarntool.ini"),
                    dir + "conf/zarntool.ini");
        QFile::copy(stage + "/conf/langs/Japanese/lang.json",
                    dir + "conf/langs/Japanese/lang.json");
        QFile::link(stage + "/netsh", dir + "netsh");
        qputenv("NETSH_PREFIXPOLICY_FILE", QFile::encodeName(dir + "netsh.table"));
        CZarntoolApp::Options options;
        options.appDir = dir;
        app = std::make_unique<CZarntoolApp>(options);
        app->m_szAppDir = dir;
        app->m_clLog.m_sLogPath = dir + "zarntool.log";
        app->m_pszProfileName = dir + "conf/zarntool.ini";
        CResourceSet set;
        set.Load(dir + "conf/langs/Japanese/lang.json");
        app->SetLanguageResources(set);
        QByteArray bytes;
        for (int i = 0; i < rows; ++i)
            bytes += platform::ToCp932(QStringLiteral("1,0,Network %1,%2,%3,2001:db8:%4::/48\r\n")
                                           .arg(i)
                                           .arg(i % 100)
                                           .arg(i % 1000)
                                           .arg(i, 0, 16));
        QFile f(dir + "conf/policytable.conf");
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
    }
    QString Dir() const { return m_dir.path() + u'/'; }
    std::unique_ptr<CZarntoolApp> app;

private:
    QTemporaryDir m_dir;
};

void BM_RegistrationTimerGap(benchmark::State& state) {
    CProgressBenchInstall install(int(state.range(0)));
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
