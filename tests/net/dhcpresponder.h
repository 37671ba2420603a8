#pragma once
// A DHCPv6 server for the tests, run in the server namespace of a veth link.
#include <QByteArray>
#include <QList>
#include <QString>
#include <atomic>
#include <functional>
#include <thread>

namespace nettest {

// Listens on [::]:547 in the server namespace, joined to ff02::1:2 on its link, takes one
// request and sends back what the script makes of it, to the sender's address and port.
class CResponder {
public:
    using Script = std::function<QList<QByteArray>(const QByteArray& request)>;

    // Starts the server thread; m_ready tells whether it listens.
    void Start(const QString& netns, Script script);
    void Join() {
        m_stop = true;
        if (m_thread.joinable()) m_thread.join();
    }
    ~CResponder() { Join(); }
    // Ready for another Start once the previous run has ended.
    void Reset() {
        Join();
        m_stop = false;
        m_ready = false;
        m_request.clear();
        m_sourcePort = 0;
        m_source.clear();
    }

    // Pause between the answers of the script, so that they keep arriving over a while.
    int m_answerPauseMs = 0;
    // Answers every request until Join (at most two minutes), not only the first; set before
    // Start. m_requests counts the requests taken.
    bool m_repeat = false;
    std::atomic<int> m_requests{0};
    bool m_ready = false;
    QByteArray m_request;
    int m_sourcePort = 0;
    QString m_source;

private:
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
};

}  // namespace nettest
