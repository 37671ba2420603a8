#pragma once
// A TCP server on a loopback address and port 49881, run on its own thread, for exercising the
// HTTP exchange against real sockets. Each connection is handed to a handler.
#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>

namespace nettest {

class CLoopbackServer {
public:
    // Handles one accepted connection (the descriptor is closed afterwards).
    using Handler = std::function<void(int fd, CLoopbackServer& server)>;

    CLoopbackServer() = default;
    ~CLoopbackServer();
    CLoopbackServer(const CLoopbackServer&) = delete;
    CLoopbackServer& operator=(const CLoopbackServer&) = delete;

    // Listens on a loopback IPv4 address of its own (127.a.b.c, chosen at random so that
    // tests running side by side do not meet) or, with ipv6, on ::1. Port 49881.
    bool Listen(bool ipv6 = false);
    // The address to put in the "ADDRESS" setting.
    QString Address() const { return m_address; }

    // Accepts connections until Stop, handing each to the handler.
    void Start(Handler handler);
    void Stop();

    int Connections() const { return m_connections.load(); }
    // Requests read by ReadRequest, in order.
    QList<QByteArray> Requests();

    // Reads a request up to and including the empty line ("\r\n\r\n"); records it.
    QByteArray ReadRequest(int fd);
    // Sends all bytes; false on failure.
    static bool SendAll(int fd, const QByteArray& bytes);
    // Waits until Stop has been called, at most `ms` milliseconds.
    void WaitForStop(int ms);
    bool Stopping() const { return m_stop.load(); }

private:
    int m_listen = -1;
    QString m_address;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<int> m_connections{0};
    std::mutex m_mutex;
    QList<QByteArray> m_requests;
};

// A handler that reads the request, then sends each chunk after a short pause (so that the
// chunks tend to arrive separately), then closes the connection or, with holdOpen, keeps it
// open until the server stops.
CLoopbackServer::Handler SendChunks(QList<QByteArray> chunks, bool holdOpen = false,
                                    int pauseMs = 40);

// An address on the loopback network on which nothing listens at port 49881.
QString UnusedLoopbackAddress();

}  // namespace nettest
