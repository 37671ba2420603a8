// An HTTP fetch of a 100,000-line body from a loopback server, next to curl fetching the same
// body from the same server. All times are wall-clock times.
#include <benchmark/benchmark.h>
#include <spawn.h>
#include <sys/wait.h>

#include "net/httpexchange.h"
#include "net/loopbackserver.h"
#include "platform/codepage.h"
#include "policy/policylistmanager.h"
#include "support/testsupport.h"

extern char** environ;

namespace {

constexpr int kLines = 100000;

QByteArray Body() {
    QByteArray body = "route-info\r\n";
    for (int i = 1; i < kLines; ++i) {
        body += "net" + QByteArray::number(i) + ",2001:db8:" + QByteArray::number(i >> 8, 16) +
                ':' + QByteArray::number(i & 0xFF, 16) + "00::/56\r\n";
    }
    return body;
}

struct Server {
    Server() {
        body = Body();
        response =
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=Shift_JIS\r\nContent-Length: " +
            QByteArray::number(body.size()) + "\r\n\r\n" + body;
        if (!server.Listen()) std::abort();
        server.Start([this](int fd, nettest::CLoopbackServer& s) {
            s.ReadRequest(fd);
            nettest::CLoopbackServer::SendAll(fd, response);
        });
    }
    QByteArray body;
    QByteArray response;
    nettest::CLoopbackServer server;
};

Server& TheServer() {
    static Server server;
    return server;
}

void BM_ExchangeAndBodyLines(benchmark::State& state) {
    Server& s = TheServer();
    const QByteArray address = s.server.Address().toLatin1();
    const QByteArray request = net::BuildHttpRequest(address);
    for (auto _ : state) {
        net::CHttpResponse response;
        const auto result = net::ExchangeHttp(address, request, 30000, response);
        if (result.outcome != net::HttpOutcome::Complete || !response.IsStatusOk()) {
            state.SkipWithError("exchange failed");
            break;
        }
        const QStringList lines = response.BodyElements();
        if (lines.size() != kLines) state.SkipWithError("wrong line count");
        benchmark::DoNotOptimize(lines);
    }
    state.SetBytesProcessed(state.iterations() * s.response.size());
}
BENCHMARK(BM_ExchangeAndBodyLines)->Unit(benchmark::kMillisecond)->UseRealTime();

// GetHttp as the program runs it, rows included; arg 0: log threshold DEBUG (every trace line
// written), arg 1: threshold ERROR.
void BM_GetHttp(benchmark::State& state) {
    Server& s = TheServer();
    testsupport::CTestApp app;
    app.SetSetting(QStringLiteral("APPLICATION"), QStringLiteral("ADDRESS"), s.server.Address());
    app.Log().SetLogLevel(state.range(0) == 0 ? QStringLiteral("DEBUG") : QStringLiteral("ERROR"));
    for (auto _ : state) {
        CPolicyListManager manager;
        CPolicyList rows;
        if (manager.GetHttp(rows) != 1 || rows.size() != kLines - 1) {
            state.SkipWithError("GetHttp failed");
            break;
        }
        benchmark::DoNotOptimize(rows);
    }
}
BENCHMARK(BM_GetHttp)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(2.0);

void BM_Curl(benchmark::State& state) {
    Server& s = TheServer();
    const QByteArray url = "http://" + s.server.Address().toLatin1() + ":49881/v6/route-info";
    for (auto _ : state) {
        char* argv[] = {const_cast<char*>("curl"),
                        const_cast<char*>("-s"),
                        const_cast<char*>("-f"),
                        const_cast<char*>("-o"),
                        const_cast<char*>("/dev/null"),
                        const_cast<char*>(url.constData()),
                        nullptr};
        pid_t pid = 0;
        if (posix_spawnp(&pid, "curl", nullptr, nullptr, argv, environ) != 0) {
            state.SkipWithError("curl cannot be started");
            break;
        }
        int status = 0;
        waitpid(pid, &status, 0);
        if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
            state.SkipWithError("curl failed");
            break;
        }
    }
    state.SetBytesProcessed(state.iterations() * s.response.size());
}
BENCHMARK(BM_Curl)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
