// Policy table file of 100,000 rows: WritePolicyFile and GetPolicyFile.
//   log=DEBUG  the shipped setting: every trace line is written to zarntool.log
//   log=INFO   LOG_LEVEL=INFO in the settings file: trace lines are filtered out
//   log=none   no application object at all: the file handling alone
#include <benchmark/benchmark.h>

#include <QCoreApplication>
#include <QFile>
#include <memory>

#include "policy/policylistmanager.h"
#include "support/testsupport.h"

namespace {

constexpr int kRows = 100'000;

CPolicyList MakeRows() {
    CPolicyList rows;
    rows.reserve(kRows);
    for (int i = 0; i < kRows; ++i) {
        CPolicy row;
        row.m_bDisabled = i % 5 == 0;
        row.m_nSource = i % 3;
        row.m_csNetworkName = QStringLiteral("Network %1").arg(i);
        row.m_csLabel = QString::number(i % 100);
        row.m_csPriority = QString::number(100 - i % 100);
        row.m_csAddress = QStringLiteral("2001:db8:%1::/48").arg(i % 65536, 0, 16);
        rows.append(row);
    }
    return rows;
}

enum class LogMode { Debug, Info, None };

// An application prepared as start-up leaves it, with the log threshold from the settings file.
struct Setup {
    explicit Setup(LogMode mode) {
        if (mode == LogMode::None) return;
        app = std::make_unique<testsupport::CTestApp>();
        app->SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("LOG_LEVEL"),
                        mode == LogMode::Debug ? QStringLiteral("DEBUG") : QStringLiteral("INFO"));
        app->Log().SetLogLevel(app->App().GetProfileString(QStringLiteral("APPLICATION"),
                                                           QStringLiteral("LOG_LEVEL"), QStringLiteral("DEBUG")));
    }
    QString Path() const {
        return app ? app->Dir() + QStringLiteral("conf/policytable.conf") : dir.path() + QStringLiteral("/p.conf");
    }
    std::unique_ptr<testsupport::CTestApp> app;
    QTemporaryDir dir;
};

void BM_WritePolicyFile(benchmark::State& state) {
    Setup setup(static_cast<LogMode>(state.range(0)));
    const CPolicyList rows = MakeRows();
    CPolicyListManager manager;
    for (auto _ : state) {
        if (manager.WritePolicyFile(rows, setup.Path()) != 1) state.SkipWithError("write failed");
    }
    state.counters["rows"] = kRows;
    state.counters["bytes"] = double(QFile(setup.Path()).size());
}

void BM_ReadPolicyFile(benchmark::State& state) {
    Setup setup(static_cast<LogMode>(state.range(0)));
    {
        CPolicyListManager writer;
        writer.m_pApp = nullptr;
        if (writer.WritePolicyFile(MakeRows(), setup.Path()) != 1) state.SkipWithError("setup failed");
    }
    CPolicyListManager manager;
    CPolicyList rows;
    for (auto _ : state) {
        if (manager.GetPolicyFile(rows, setup.Path()) != 1 || rows.size() != kRows)
            state.SkipWithError("read failed");
    }
    state.counters["rows"] = kRows;
}

void LogModes(benchmark::internal::Benchmark* b) {
    b->ArgName("log(0=DEBUG,1=INFO,2=none)")->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);
    b->MeasureProcessCPUTime()->UseRealTime();
}

BENCHMARK(BM_WritePolicyFile)->Apply(LogModes);
BENCHMARK(BM_ReadPolicyFile)->Apply(LogModes);

}  // namespace

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
