#include "loopbackserver.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <random>

namespace nettest {
namespace {

constexpr int kPort = 49881;

QString RandomLoopback(std::mt19937& rng) {
    std::uniform_int_distribution<int> part(1, 254);
    return QStringLiteral("127.%1.%2.%3").arg(part(rng)).arg(part(rng)).arg(part(rng));
}

std::mt19937& Rng() {
    static std::mt19937 rng(std::random_device{}());
    return rng;
}

}  // namespace

CLoopbackServer::~CLoopbackServer() { Stop(); }

bool CLoopbackServer::Listen(bool ipv6) {
    for (int attempt = 0; attempt < 200; ++attempt) {
        const int fd = ::socket(ipv6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (fd < 0) return false;
        // A connection of an earlier test may still linger in TIME_WAIT on the fixed port.
        const int reuse = 1;
        ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &reuse, sizeof reuse);
        int rc;
        QString address;
        if (ipv6) {
            sockaddr_in6 sa{};
            sa.sin6_family = AF_INET6;
            sa.sin6_port = htons(kPort);
            sa.sin6_addr = in6addr_loopback;
            address = QStringLiteral("::1");
            rc = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        } else {
            address = RandomLoopback(Rng());
            sockaddr_in sa{};
            sa.sin_family = AF_INET;
            sa.sin_port = htons(kPort);
            ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
            rc = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa));
        }
        if (rc == 0 && ::listen(fd, 16) == 0) {
            m_listen = fd;
            m_address = address;
            return true;
        }
        const int error = errno;
        ::close(fd);
        if (error != EADDRINUSE) return false;
        // ::1 is shared by everything on the machine: wait for the port to come free.
        if (ipv6) std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

void CLoopbackServer::Start(Handler handler) {
    m_stop = false;
    m_thread = std::thread([this, handler = std::move(handler)] {
        while (!m_stop) {
            pollfd pfd{m_listen, POLLIN, 0};
            if (::poll(&pfd, 1, 20) <= 0) continue;
            const int fd = ::accept4(m_listen, nullptr, nullptr, SOCK_CLOEXEC);
            if (fd < 0) continue;
            ++m_connections;
            const int one = 1;
            ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof(one));
            handler(fd, *this);
            ::close(fd);
        }
    });
}

void CLoopbackServer::Stop() {
    m_stop = true;
    if (m_thread.joinable()) m_thread.join();
    if (m_listen >= 0) {
        ::close(m_listen);
        m_listen = -1;
    }
}

QList<QByteArray> CLoopbackServer::Requests() {
    std::lock_guard<std::mutex> lock(m_mutex);
    return m_requests;
}

QByteArray CLoopbackServer::ReadRequest(int fd) {
    QByteArray request;
    char buffer[4096];
    while (!request.contains("\r\n\r\n") && !m_stop) {
        pollfd pfd{fd, POLLIN, 0};
        if (::poll(&pfd, 1, 20) <= 0) continue;
        const ssize_t n = ::recv(fd, buffer, sizeof(buffer), 0);
        if (n <= 0) break;
        request.append(buffer, n);
    }
    std::lock_guard<std::mutex> lock(m_mutex);
    m_requests.append(request);
    return request;
}

bool CLoopbackServer::SendAll(int fd, const QByteArray& bytes) {
    qsizetype sent = 0;
    while (sent < bytes.size()) {
        const ssize_t n =
            ::send(fd, bytes.constData() + sent, std::size_t(bytes.size() - sent), MSG_NOSIGNAL);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        sent += n;
    }
    return true;
}

void CLoopbackServer::WaitForStop(int ms) {
    const auto until = std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
    while (!m_stop && std::chrono::steady_clock::now() < until)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
}

CLoopbackServer::Handler SendChunks(QList<QByteArray> chunks, bool holdOpen, int pauseMs) {
    return [chunks = std::move(chunks), holdOpen, pauseMs](int fd, CLoopbackServer& server) {
        server.ReadRequest(fd);
        for (qsizetype i = 0; i < chunks.size(); ++i) {
            if (i > 0 && pauseMs > 0)
                std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
            if (!CLoopbackServer::SendAll(fd, chunks[i])) return;
        }
        if (holdOpen) server.WaitForStop(60000);
    };
}

QString UnusedLoopbackAddress() {
    for (int attempt = 0; attempt < 100; ++attempt) {
        const QString address = RandomLoopback(Rng());
        const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        sockaddr_in sa{};
        sa.sin_family = AF_INET;
        sa.sin_port = htons(kPort);
        ::inet_pton(AF_INET, address.toLatin1().constData(), &sa.sin_addr);
        // Free for binding means nothing listens there.
        const bool free = ::bind(fd, reinterpret_cast<sockaddr*>(&sa), sizeof(sa)) == 0;
        ::close(fd);
        if (free) return address;
    }
    return QStringLiteral("127.0.0.1");
}

}  // namespace nettest
