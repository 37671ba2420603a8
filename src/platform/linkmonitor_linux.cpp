#include "platform/linkmonitor.h"

#include <linux/if_addr.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <sys/socket.h>

#include <cerrno>
#include <cstring>

#include "platform/deadline.h"

namespace platform {
namespace {

constexpr std::size_t kBuffer = 32768;
constexpr int kDumpWaitMs = 5000;

void ReadLink(const nlmsghdr* h, std::vector<CLinkEvent>& events) {
    const auto* info = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
    CLinkEvent e;
    e.kind = h->nlmsg_type == RTM_DELLINK ? CLinkEvent::EKind::LinkGone : CLinkEvent::EKind::Link;
    e.index = info->ifi_index;
    e.up = (info->ifi_flags & IFF_UP) && (info->ifi_flags & IFF_RUNNING);
    e.multicast = (info->ifi_flags & IFF_MULTICAST) && !(info->ifi_flags & IFF_LOOPBACK);
    int left = int(IFLA_PAYLOAD(h));
    for (const rtattr* a = IFLA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if (a->rta_type != IFLA_IFNAME) continue;
        const auto* text = static_cast<const char*>(RTA_DATA(a));
        e.name.assign(text, strnlen(text, RTA_PAYLOAD(a)));
    }
    events.push_back(std::move(e));
}

void ReadAddress(const nlmsghdr* h, std::vector<CLinkEvent>& events) {
    const auto* info = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
    if (info->ifa_family != AF_INET6) return;
    CLinkEvent e;
    e.kind = h->nlmsg_type == RTM_DELADDR ? CLinkEvent::EKind::AddressRemoved
                                          : CLinkEvent::EKind::AddressAdded;
    e.index = int(info->ifa_index);
    std::uint32_t flags = info->ifa_flags;
    bool found = false;
    int left = int(IFA_PAYLOAD(h));
    for (const rtattr* a = IFA_RTA(info); RTA_OK(a, left); a = RTA_NEXT(a, left)) {
        if ((a->rta_type == IFA_ADDRESS || a->rta_type == IFA_LOCAL) && RTA_PAYLOAD(a) == 16) {
            std::memcpy(e.address.data(), RTA_DATA(a), 16);
            found = true;
        }
        if (a->rta_type == IFA_FLAGS && RTA_PAYLOAD(a) == 4)
            std::memcpy(&flags, RTA_DATA(a), 4);
    }
    if (!found) return;
    e.linkLocal = e.address[0] == 0xfe && (e.address[1] & 0xc0) == 0x80;
    e.usable = !(flags & (IFA_F_TENTATIVE | IFA_F_DADFAILED));
    events.push_back(e);
}

// Reads the messages of one datagram of `length` bytes. 1 when the dump numbered `seq` has
// ended, -1 with errno set when the kernel answered it with an error, else 0.
int ReadMessages(const unsigned char* buffer, int length, std::uint32_t seq,
                 std::vector<CLinkEvent>& events) {
    int left = length;
    for (auto* h = reinterpret_cast<const nlmsghdr*>(buffer); NLMSG_OK(h, left);
         h = NLMSG_NEXT(h, left)) {
        const bool ours = seq != 0 && h->nlmsg_seq == seq;
        if (h->nlmsg_type == NLMSG_DONE && ours) return 1;
        if (h->nlmsg_type == NLMSG_ERROR && ours) {
            const auto* err = static_cast<const nlmsgerr*>(NLMSG_DATA(h));
            if (h->nlmsg_len >= NLMSG_LENGTH(sizeof(nlmsgerr)) && err->error != 0) {
                errno = -err->error;
                return -1;
            }
            continue;
        }
        if (h->nlmsg_type == RTM_NEWLINK || h->nlmsg_type == RTM_DELLINK) {
            if (h->nlmsg_len >= NLMSG_LENGTH(sizeof(ifinfomsg))) ReadLink(h, events);
        } else if (h->nlmsg_type == RTM_NEWADDR || h->nlmsg_type == RTM_DELADDR) {
            if (h->nlmsg_len >= NLMSG_LENGTH(sizeof(ifaddrmsg))) ReadAddress(h, events);
        }
    }
    return 0;
}

}  // namespace

int CLinkMonitor::Open(std::vector<CLinkEvent>& events) {
    m_fd.Reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC | SOCK_NONBLOCK, NETLINK_ROUTE));
    if (!m_fd.IsValid()) return errno;
    sockaddr_nl local{};
    local.nl_family = AF_NETLINK;
    local.nl_groups = RTMGRP_LINK | RTMGRP_IPV6_IFADDR;
    if (::bind(m_fd.Get(), reinterpret_cast<const sockaddr*>(&local), sizeof local) != 0)
        return errno;
    if (const int error = Dump(RTM_GETLINK, events)) return error;
    return Dump(RTM_GETADDR, events);
}

int CLinkMonitor::Dump(int type, std::vector<CLinkEvent>& events) {
    struct {
        nlmsghdr header;
        rtgenmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtgenmsg));
    request.header.nlmsg_type = std::uint16_t(type);
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = ++m_seq;
    request.body.rtgen_family = type == RTM_GETADDR ? AF_INET6 : AF_UNSPEC;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    if (::sendto(m_fd.Get(), &request, request.header.nlmsg_len, 0,
                 reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0)
        return errno;
    std::vector<unsigned char> buffer(kBuffer);
    const CDeadline deadline(kDumpWaitMs);
    for (;;) {
        const int ready = WaitReady(m_fd.Get(), EReady::Read, deadline);
        if (ready < 0) return errno;
        if (ready == 0) return ETIMEDOUT;
        const ssize_t n = ::recv(m_fd.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN) continue;
            return errno;
        }
        const int done = ReadMessages(buffer.data(), int(n), m_seq, events);
        if (done < 0) return errno;
        if (done > 0) return 0;
    }
}

int CLinkMonitor::Read(std::vector<CLinkEvent>& events) {
    std::vector<unsigned char> buffer(kBuffer);
    for (;;) {
        const ssize_t n = ::recv(m_fd.Get(), buffer.data(), buffer.size(), MSG_DONTWAIT);
        if (n < 0) {
            if (errno == EINTR) continue;
            return errno == EAGAIN || errno == EWOULDBLOCK ? 0 : errno;
        }
        if (n == 0) return 0;
        ReadMessages(buffer.data(), int(n), 0, events);
    }
}

}  // namespace platform
