#include "dhcpresponder.h"

#include <arpa/inet.h>
#include <net/if.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>

#include <chrono>
#include <future>
#include <memory>

#include "netns.h"
#include "platform/socket.h"

namespace nettest {

void CResponder::Start(const QString& netns, Script script) {
    auto ready = std::make_shared<std::promise<bool>>();
    auto readyFuture = ready->get_future();
    m_thread = CVethLink::StartIn(netns, [this, script, ready] {
        platform::CSocket s;
        bool ok = s.Open(AF_INET6, SOCK_DGRAM, 0);
        sockaddr_in6 local{};
        local.sin6_family = AF_INET6;
        local.sin6_port = htons(547);
        local.sin6_addr = in6addr_any;
        ok = ok && ::bind(s.Get(), reinterpret_cast<sockaddr*>(&local), sizeof(local)) == 0;
        ipv6_mreq group{};
        ::inet_pton(AF_INET6, "ff02::1:2", &group.ipv6mr_multiaddr);
        group.ipv6mr_interface =
            ::if_nametoindex(CVethLink::ServerInterface().toLatin1().constData());
        ok = ok && ::setsockopt(s.Get(), IPPROTO_IPV6, IPV6_JOIN_GROUP, &group, sizeof(group)) == 0;
        ready->set_value(ok);
        if (!ok) return;
        pollfd pfd{s.Get(), POLLIN, 0};
        const auto until =
            std::chrono::steady_clock::now() + std::chrono::seconds(m_repeat ? 120 : 20);
        while (!m_stop && std::chrono::steady_clock::now() < until) {
            if (::poll(&pfd, 1, 20) <= 0) continue;
            char buffer[2048];
            sockaddr_in6 from{};
            socklen_t fromLength = sizeof(from);
            const ssize_t n = ::recvfrom(s.Get(), buffer, sizeof(buffer), 0,
                                         reinterpret_cast<sockaddr*>(&from), &fromLength);
            if (n < 0) continue;
            ++m_requests;
            const QByteArray request(buffer, int(n));
            if (!m_repeat) m_request = request;
            m_sourcePort = ntohs(from.sin6_port);
            char text[INET6_ADDRSTRLEN] = {};
            ::inet_ntop(AF_INET6, &from.sin6_addr, text, sizeof(text));
            m_source = QString::fromLatin1(text);
            for (const QByteArray& answer : script(request)) {
                if (m_stop) break;
                ::sendto(s.Get(), answer.constData(), std::size_t(answer.size()), 0,
                         reinterpret_cast<sockaddr*>(&from), fromLength);
                if (m_answerPauseMs > 0)
                    std::this_thread::sleep_for(std::chrono::milliseconds(m_answerPauseMs));
            }
            if (!m_repeat) break;
        }
    });
    m_ready = readyFuture.get();
}

}  // namespace nettest
