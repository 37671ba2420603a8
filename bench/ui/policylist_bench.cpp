// Loading, de-duplicating and sorting large tables in the policy list, with trace lines written
// to a real log as in a run at log level DEBUG.
#include <QApplication>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include "app/application.h"
#include "ui/policylistctrl.h"

namespace {

// A table of `count` rows; every twentieth repeats an earlier address space in capitals.
CPolicyList MakeTable(int count) {
    CPolicyList rows;
    rows.reserve(count);
    for (int i = 0; i < count; ++i) {
        CPolicy p;
        const int n = (i % 20 == 19) ? i - 7 : i;
        QString address = QStringLiteral("2001:db8:%1:%2::/64")
                              .arg(n / 65536, 0, 16)
                              .arg(n % 65536, 0, 16);
        if (n != i) address = address.toUpper();
        p.m_csAddress = address;
        p.m_csNetworkName = QStringLiteral("Network %1").arg(i);
        p.m_csLabel = QString::number(i % 100);
        p.m_csPriority = QString::number((i * 7919) % 100000);
        p.m_nSource = i % 3;
        p.m_bDisabled = (i % 5) == 0;
        rows.append(p);
    }
    return rows;
}

struct BenchApp {
    BenchApp() {
        CZarntoolApp::Options options;
        options.appDir = dir.path() + u'/';
        app = std::make_unique<CZarntoolApp>(options);
        app->m_szAppDir = options.appDir;
        app->m_clLog.m_sLogPath = options.appDir + QStringLiteral("zarntool.log");
    }
    QTemporaryDir dir;
    std::unique_ptr<CZarntoolApp> app;
};

void BM_PolicyListLoadAndSort(benchmark::State& state) {
    BenchApp app;
    const CPolicyList table = MakeTable(static_cast<int>(state.range(0)));
    for (auto _ : state) {
        CPolicyListCtrl list(*app.app);
        list.Init();
        list.AddAll(table);
        list.Resort();
        benchmark::DoNotOptimize(list.GetItemCount());
    }
    state.counters["rows_kept"] = static_cast<double>(table.size() - table.size() / 20);
}
BENCHMARK(BM_PolicyListLoadAndSort)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void BM_PolicyListHeaderSort(benchmark::State& state) {
    BenchApp app;
    CPolicyListCtrl list(*app.app);
    list.Init();
    list.AddAll(MakeTable(static_cast<int>(state.range(0))));
    int column = 1;
    for (auto _ : state) {
        list.Sort(column, true);
        column = column == 4 ? 1 : column + 1;
    }
}
BENCHMARK(BM_PolicyListHeaderSort)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
