// The main window on large tables: opening it on a 10,000-row policy table file, and
// registering 1,000 rows through the netsh stand-in. Trace lines go to a real log at level
// DEBUG, as in a run with the shipped settings.
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "app/zarntoolapp.h"
#include "platform/codepage.h"
#include "ui/zarntooldlg.h"

namespace {

bool CopyFile(const QString& from, const QString& to) {
    QDir().mkpath(QFileInfo(to).absolutePath());
    QFile::remove(to);
    return QFile::copy(from, to);
}

// An installation tree with the settings file, the language library and the netsh stand-in.
class BenchInstall {
public:
    BenchInstall() {
        const QString dir = Dir();
        const QString stage = QStringLiteral(CORVANE_STAGE_DIR);
        CopyFile(QStringLiteral(CORVANE_SOURCE_DIR "/conf/zarntool.ini"), dir + "conf/zarntool.ini");
        CopyFile(stage + "/conf/langs/Japanese/lang.json", dir + "conf/langs/Japanese/lang.json");
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
    }
    QString Dir() const { return m_dir.path() + u'/'; }

    // A policy table file of `count` switched-on rows of all three origins.
    void WriteTable(int count) {
        QByteArray bytes;
        for (int i = 0; i < count; ++i) {
            const QString line = QStringLiteral("1,%1,Network %2,%3,%4,2001:db8:%5:%6::/64\r\n")
                                     .arg(i % 3)
                                     .arg(i)
                                     .arg(i % 100)
                                     .arg((i * 7919) % 100000)
                                     .arg(i / 65536, 0, 16)
                                     .arg(i % 65536, 0, 16);
            bytes += platform::ToCp932(line);
        }
        QFile f(Dir() + "conf/policytable.conf");
        if (f.open(QIODevice::WriteOnly | QIODevice::Truncate)) f.write(bytes);
    }

    std::unique_ptr<CZarntoolApp> app;

private:
    QTemporaryDir m_dir;
};

void BM_EditorOpensOnLargeTable(benchmark::State& state) {
    BenchInstall install;
    install.WriteTable(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CZarntoolDlg dlg;
        dlg.Create();
        dlg.show();
        QApplication::processEvents();
        benchmark::DoNotOptimize(dlg.m_listPolicy.GetItemCount());
        state.PauseTiming();
        dlg.hide();
        state.ResumeTiming();
    }
}
BENCHMARK(BM_EditorOpensOnLargeTable)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_EditorRegistersThroughNetsh(benchmark::State& state) {
    BenchInstall install;
    install.WriteTable(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        state.PauseTiming();
        QFile::remove(install.Dir() + "netsh.table");  // the Windows default table to start with
        CZarntoolDlg dlg;
        dlg.Create();
        dlg.show();
        state.ResumeTiming();
        dlg.OnBnClickedSave();
        if (dlg.GetResult() != IDOK) state.SkipWithError("registration failed");
    }
}
BENCHMARK(BM_EditorRegistersThroughNetsh)->Arg(1000)->Iterations(1)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication qtApp(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
