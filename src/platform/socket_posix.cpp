#include "platform/socket.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>
#include <memory>
#include <string>

namespace platform {
namespace {

static_assert(CSocketAddress::kMaxBytes >= sizeof(sockaddr_storage));

struct AddrInfoFree {
    void operator()(addrinfo* list) const { ::freeaddrinfo(list); }
};

const sockaddr* AddressOf(const CSocketAddress& address) {
    return reinterpret_cast<const sockaddr*>(address.bytes);
}

}  // namespace

int ResolveAddresses(const char* node, std::uint16_t port, EAddressFamily family, ESocketType type,
                     std::vector<CSocketAddress>& addresses) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_flags = node == nullptr ? AI_PASSIVE : 0;
    hints.ai_family = family == EAddressFamily::Ipv6 ? AF_INET6 : AF_UNSPEC;
    hints.ai_socktype = type == ESocketType::Stream ? SOCK_STREAM : SOCK_DGRAM;
    const std::string service = std::to_string(port);
    addrinfo* raw = nullptr;
    const int rc = ::getaddrinfo(node, service.c_str(), &hints, &raw);
    if (rc != 0) return rc == EAI_SYSTEM ? errno : rc;
    const std::unique_ptr<addrinfo, AddrInfoFree> list(raw);
    for (const addrinfo* ai = list.get(); ai != nullptr; ai = ai->ai_next) {
        if (ai->ai_addrlen > sizeof(CSocketAddress::bytes)) continue;
        CSocketAddress& address = addresses.emplace_back();
        address.family = ai->ai_family;
        address.type = ai->ai_socktype;
        address.protocol = ai->ai_protocol;
        address.length = std::uint32_t(ai->ai_addrlen);
        std::memcpy(address.bytes, ai->ai_addr, ai->ai_addrlen);
    }
    return 0;
}

bool CSocket::Open(int family, int type, int protocol) {
    m_fd.Reset(::socket(family, type | SOCK_CLOEXEC, protocol));
    return m_fd.IsValid();
}

int CSocket::OpenFor(const CSocketAddress& address) {
    return Open(address.family, address.type, address.protocol) ? 0 : errno;
}

int CSocket::SetExclusivePort() {
    const int off = 0;
    if (::setsockopt(Get(), SOL_SOCKET, SO_REUSEADDR, &off, sizeof(off)) != 0 ||
        ::setsockopt(Get(), SOL_SOCKET, SO_REUSEPORT, &off, sizeof(off)) != 0)
        return errno;
    return 0;
}

int CSocket::Bind(const CSocketAddress& address) {
    return ::bind(Get(), AddressOf(address), address.length) == 0 ? 0 : errno;
}

int CSocket::ConnectBy(const CSocketAddress& address, const CDeadline& deadline,
                       const CCancelEvent* cancel) {
    const int flags = ::fcntl(Get(), F_GETFL);
    if (flags < 0 || ::fcntl(Get(), F_SETFL, flags | O_NONBLOCK) != 0) return errno;
    if (::connect(Get(), AddressOf(address), address.length) == 0) return 0;
    if (errno != EINPROGRESS) return errno;
    const int ready = WaitReady(Get(), EReady::Write, deadline, cancel);
    if (ready == kWaitCancelled) return ECANCELED;
    if (ready < 0) return errno;
    if (ready == 0) return ETIMEDOUT;
    int error = 0;
    socklen_t size = sizeof error;
    if (::getsockopt(Get(), SOL_SOCKET, SO_ERROR, &error, &size) != 0) return errno;
    return error;
}

CIoResult CSocket::SendBy(const void* data, std::size_t size, const CDeadline& deadline,
                          const CCancelEvent* cancel) {
    const auto* bytes = static_cast<const char*>(data);
    std::size_t sent = 0;
    while (sent < size) {
        const ssize_t n = ::send(Get(), bytes + sent, size - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += std::size_t(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
            const int ready = WaitReady(Get(), EReady::Write, deadline, cancel);
            if (ready == kWaitCancelled) return {EIo::Cancelled, 0, sent};
            if (ready < 0) return {EIo::WaitFailed, errno, sent};
            if (ready == 0) return {EIo::TimedOut, 0, sent};
            continue;
        }
        return {EIo::Failed, n < 0 ? errno : 0, sent};
    }
    return {EIo::Done, 0, sent};
}

CIoResult CSocket::SendTo(const CSocketAddress& to, const void* data, std::size_t size) {
    const ssize_t n = ::sendto(Get(), data, size, 0, AddressOf(to), to.length);
    if (n < 0) return {EIo::Failed, errno, 0};
    return {EIo::Done, 0, std::size_t(n)};
}

CIoResult CSocket::ReceiveBy(void* buffer, std::size_t size, const CDeadline& deadline,
                             const CCancelEvent* cancel) {
    for (;;) {
        const int ready = WaitReady(Get(), EReady::Read, deadline, cancel);
        if (ready == kWaitCancelled) return {EIo::Cancelled, 0, 0};
        if (ready < 0) return {EIo::WaitFailed, errno, 0};
        if (ready == 0) return {EIo::TimedOut, 0, 0};
        const ssize_t n = ::recv(Get(), buffer, size, MSG_DONTWAIT);
        if (n >= 0) return {EIo::Done, 0, std::size_t(n)};
        if (errno != EINTR && errno != EAGAIN && errno != EWOULDBLOCK)
            return {EIo::Failed, errno, 0};
    }
}

int CSocket::SetReceiveInterface() {
    const int on = 1;
    return ::setsockopt(Get(), IPPROTO_IPV6, IPV6_RECVPKTINFO, &on, sizeof on) == 0 ? 0 : errno;
}

CIoResult CSocket::ReceiveNow(void* buffer, std::size_t size, int* interfaceIndex) {
    *interfaceIndex = 0;
    iovec io{buffer, size};
    alignas(cmsghdr) unsigned char control[CMSG_SPACE(sizeof(in6_pktinfo))];
    msghdr message{};
    message.msg_iov = &io;
    message.msg_iovlen = 1;
    message.msg_control = control;
    message.msg_controllen = sizeof control;
    ssize_t n;
    do {
        n = ::recvmsg(Get(), &message, MSG_DONTWAIT);
    } while (n < 0 && errno == EINTR);
    if (n < 0) {
        if (errno == EAGAIN || errno == EWOULDBLOCK) return {EIo::TimedOut, 0, 0};
        return {EIo::Failed, errno, 0};
    }
    for (cmsghdr* c = CMSG_FIRSTHDR(&message); c != nullptr; c = CMSG_NXTHDR(&message, c)) {
        if (c->cmsg_level != IPPROTO_IPV6 || c->cmsg_type != IPV6_PKTINFO) continue;
        in6_pktinfo info;
        std::memcpy(&info, CMSG_DATA(c), sizeof info);
        *interfaceIndex = int(info.ipi6_ifindex);
    }
    // A datagram longer than the buffer was cut: it counts as the buffer's size plus one, so
    // that a reader bounded by the buffer takes it as too long.
    if (message.msg_flags & MSG_TRUNC) return {EIo::Done, 0, size + 1};
    return {EIo::Done, 0, std::size_t(n)};
}

}  // namespace platform
