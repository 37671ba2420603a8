// The main window on large tables: opening it on a 10,000-row policy table file, and
// registering 1,000 rows through the netsh stand-in. Lines go to a real log; the opening
// benchmarks take the log level as their second argument (0: DEBUG, the shipped setting, every
// trace line written; 1: INFO, trace lines filtered out).
#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstdio>

#include "benchinstall.h"
#include "ui/dialog/dialogex.h"
#include "ui/xsession.h"
#include "ui/mainwindow.h"
#include "platform/profile.h"

namespace {

using benchsupport::CBenchInstall;

QString LevelWord(int64_t arg) { return arg == 1 ? QStringLiteral("INFO") : QStringLiteral("DEBUG"); }

void LogLevels(benchmark::internal::Benchmark* b, int64_t rows) {
    b->ArgNames({"rows", "log(0=DEBUG,1=INFO)"})->Args({rows, 0})->Args({rows, 1});
}

void BM_EditorOpensOnLargeTable(benchmark::State& state) {
    CBenchInstall install;
    install.WriteTable(static_cast<int>(state.range(0)));
    install.app->m_clLog.SetLogLevel(LevelWord(state.range(1)));
    const QString log = install.Dir() + "zarntool.log";
    QFile::remove(log);
    for (auto _ : state) {
        CZarntoolDlg dlg(*install.app);
        dlg.Create();
        dlg.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(dlg.m_listPolicy.GetItemCount());
        state.PauseTiming();
        dlg.hide();
        state.ResumeTiming();
    }
    QFile file(log);
    qint64 lines = 0;
    if (file.open(QIODevice::ReadOnly)) lines = file.readAll().count('\n');
    state.counters["log_lines"] = benchmark::Counter(double(lines), benchmark::Counter::kAvgIterations);
}
BENCHMARK(BM_EditorOpensOnLargeTable)
    ->Apply([](benchmark::internal::Benchmark* b) { LogLevels(b, 10000); })
    ->Unit(benchmark::kMillisecond);

void BM_EditorRegistersThroughNetsh(benchmark::State& state) {
    CBenchInstall install;
    install.WriteTable(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(install.Dir() + "netsh.table");  // the Windows default table to start with
        CZarntoolDlg dlg(*install.app);
        dlg.Create();
        dlg.show();
        state.ResumeTiming();
        dlg.OnBnClickedSave();
        if (dlg.GetResult() != IDOK) state.SkipWithError("registration failed");
    }
}
BENCHMARK(BM_EditorRegistersThroughNetsh)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

// The staged program on a private X server: from the process start to the agreement on the
// screen, plus from the click on "利用する" to the main window on the screen, with a 10,000-row
// policy table file. The time the agreement waits for the click is not counted.
void BM_EditorProcessStartToWindowShown(benchmark::State& state) {
    if (!xsession::ToolsAvailable()) {
        state.SkipWithError("needs Xvfb and xdotool");
        return;
    }
    xsession::CStagedCopy install(QStringLiteral(CORVANE_STAGE_DIR));
    if (!install.IsValid() || !QFile::exists(install.Dir() + "zarntool")) {
        state.SkipWithError("no staged program");
        return;
    }
    {
        CBenchInstall rows;
        rows.WriteTable(static_cast<int>(state.range(0)));
        QFile::remove(install.Dir() + "conf/policytable.conf");
        QFile::copy(rows.Dir() + "conf/policytable.conf", install.Dir() + "conf/policytable.conf");
    }
    if (!platform::WriteProfileString(install.Dir() + "conf/zarntool.ini", "APPLICATION", "LOG_LEVEL",
                                      LevelWord(state.range(1)))) {
        state.SkipWithError("settings file not written");
        return;
    }
    QDir().mkpath(install.Dir() + "run");
    QFile(install.Dir() + "run").setPermissions(QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    xsession::CXvfb x;
    if (!x.IsRunning()) {
        state.SkipWithError("Xvfb did not start");
        return;
    }
    xsession::CXdo xdo(x.Display());
    const CDialogTemplate* agreementTemplate = CResourceSet::ProgramSet().Dialog(139);
    const QSize base = CDialogEx::DialogBaseUnits(CDialogEx::TemplateFont(*agreementTemplate));
    const QRect check = CDialogEx::MapDialogRect(agreementTemplate->Control(1013)->rect, base);
    const QRect use = CDialogEx::MapDialogRect(agreementTemplate->Control(1)->rect, base);

    for (auto _ : state) {
        QProcess program;
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("DISPLAY", x.Display());
        env.insert("QT_QPA_PLATFORM", "xcb");
        env.insert("NETSH_PREFIXPOLICY_FILE", install.Dir() + "netsh.table");
        env.insert("XDG_RUNTIME_DIR", install.Dir() + "run");
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        QElapsedTimer clock;
        clock.start();
        program.start(install.Dir() + "zarntool", {"/e"});
        const QStringList agreement = xdo.WaitForWindows("Corvane", 1);
        const double toAgreement = clock.nsecsElapsed() / 1e9;
        if (agreement.size() != 1) {
            program.kill();
            program.waitForFinished(5000);
            fprintf(stderr, "%s\n", program.readAll().constData());
            state.SkipWithError("no agreement window");
            break;
        }
        xdo.Focus(agreement[0]);
        xdo.ClickAt(agreement[0], QPoint(check.left() + 7, check.center().y()));
        clock.restart();
        xdo.ClickAt(agreement[0], use.center());
        QString main;
        while (main.isEmpty() && clock.elapsed() < 60000)
            for (const QString& id : xdo.WaitForWindows("Corvane", 1, 1000))
                if (id != agreement[0]) main = id;
        const double toMain = clock.nsecsElapsed() / 1e9;
        state.SetIterationTime(toAgreement + toMain);
        state.counters["to_agreement_ms"] = toAgreement * 1000;
        state.counters["accept_to_main_ms"] = toMain * 1000;
        program.kill();
        program.waitForFinished(5000);
        if (main.isEmpty()) {
            state.SkipWithError("no main window");
            break;
        }
    }
}
BENCHMARK(BM_EditorProcessStartToWindowShown)
    ->Apply([](benchmark::internal::Benchmark* b) { LogLevels(b, 10000); })
    ->Iterations(3)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
