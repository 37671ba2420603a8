// An HTTP fetch of a 100,000-line body from a loopback server, framed by Content-Length or sent
// in chunks, next to curl fetching the same body from the same server. All times are wall-clock
// times.
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

// The body in chunks of `chunk` bytes, the size line in capitals with an extension.
QByteArray Chunked(const QByteArray& body, qsizetype chunk) {
    QByteArray out;
    for (qsizetype at = 0; at < body.size(); at += chunk) {
        const QByteArray data = body.mid(at, chunk);
        out += QByteArray::number(data.size(), 16).toUpper() + ";x=1\r\n" + data + "\r\n";
    }
    return out + "0\r\n\r\n";
}

struct Server {
    // chunk 0: Content-Length; otherwise chunked in pieces of that many bytes.
    explicit Server(qsizetype chunk) {
        body = Body();
        const QByteArray head =
            "HTTP/1.1 200 OK\r\nContent-Type: text/plain; charset=Shift_JIS\r\n";
        response = chunk == 0 ? head + "Content-Length: " + QByteArray::number(body.size()) +
                                    "\r\n\r\n" + body
                              : head + "Transfer-Encoding: chunked\r\n\r\n" + Chunked(body, chunk);
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

// Arg 0: Content-Length; 4096: chunks of 4 KiB (as generated bodies usually come); 16: chunks
// of 16 bytes (framing outweighs the data).
Server& TheServer(qsizetype chunk = 0) {
    static Server plain(0);
    if (chunk == 0) return plain;
    static Server page(4096);
    static Server tiny(16);
    return chunk == 4096 ? page : tiny;
}

void BM_ExchangeAndBodyLines(benchmark::State& state) {
    Server& s = TheServer(state.range(0));
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
BENCHMARK(BM_ExchangeAndBodyLines)
    ->Arg(0)
    ->Arg(4096)
    ->Arg(16)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

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
