// AppendLog throughput: every line looks the log's path up again and appends one CP932 line to
// the file kept open.
#include <benchmark/benchmark.h>

#include <QTemporaryDir>

#include "services/applog.h"
#include "services/resourceset.h"

namespace {

void BM_AppendLog(benchmark::State& state) {
    QTemporaryDir dir;
    CAppLog log;
    log.m_sLogPath = dir.path() + QStringLiteral("/zarntool.log");
    const QString text = QStringLiteral("netsh interface ipv6 add prefixpolicy 2001:db8::/32 40 1");
    for (auto _ : state) benchmark::DoNotOptimize(log.AppendLog(LOG_INFO, text));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendLog)->UseRealTime();

// A trace line as every operation writes it: string lookup, inserts, escaping, CP932, append.
void BM_TraceStart(benchmark::State& state) {
    QTemporaryDir dir;
    CAppLog log;
    log.SetResources(&CResourceSet::ProgramSet());
    log.m_sLogPath = dir.path() + QStringLiteral("/zarntool.log");
    for (auto _ : state)
        benchmark::DoNotOptimize(
            log.TraceStart(QStringLiteral("CPolicyListManager"), QStringLiteral("GetDhcp")));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_TraceStart)->UseRealTime();

// Below the threshold nothing touches the file.
void BM_AppendLogFilteredOut(benchmark::State& state) {
    CAppLog log;
    log.SetLogLevel(QStringLiteral("INFO"));
    log.m_sLogPath = QStringLiteral("/nonexistent/zarntool.log");
    const QString text = QStringLiteral("CPolicyクラスのCheckAddressの処理を開始します。");
    for (auto _ : state) benchmark::DoNotOptimize(log.AppendLog(LOG_DEBUG, text));
    state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_AppendLogFilteredOut);

}  // namespace

BENCHMARK_MAIN();
