#include "platform/netinfo.h"

#include <arpa/inet.h>
#include <linux/if_addr.h>
#include <linux/if_addrlabel.h>
#include <linux/if_arp.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>

#include "platform/fd.h"

namespace platform {
namespace {

std::string ErrorText(const char* step, int error) {
    return std::string(step) + ": " + std::strerror(error);
}

NetAddress Mapped(const void* ipv4) {
    NetAddress a{};
    a[10] = a[11] = 0xFF;
    std::memcpy(a.data() + 12, ipv4, 4);
    return a;
}

using MessageHandler = std::function<void(const nlmsghdr*)>;

// Sends one request and hands every answer to it to `handle` until the acknowledgement, the
// error or the dump's end. A kernel error is returned in *kernelError (0: none).
bool Exchange(const CFd& fd, nlmsghdr* request, const MessageHandler& handle, int* kernelError,
              std::string* reason) {
    static std::atomic<std::uint32_t> s_seq{0};
    request->nlmsg_seq = ++s_seq;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    ssize_t sent = -1;
    do {
        sent = ::sendto(fd.Get(), request, request->nlmsg_len, 0,
                        reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
    } while (sent < 0 && errno == EINTR);
    if (sent < 0) {
        *reason = ErrorText("sendto", errno);
        return false;
    }
    *kernelError = 0;
    alignas(nlmsghdr) static thread_local char buffer[32768];
    for (;;) {
        const ssize_t n = ::recv(fd.Get(), buffer, sizeof buffer, 0);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            *reason = ErrorText("recv", n < 0 ? errno : EPROTO);
            return false;
        }
        int left = int(n);  // bounded by the bytes received
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left); h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != request->nlmsg_seq) continue;
            if (h->nlmsg_type == NLMSG_DONE) return true;
            if (h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                    *reason = "netlink: short error message";
                    return false;
                }
                *kernelError = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
                return true;
            }
            handle(h);
            if (!(h->nlmsg_flags & NLM_F_MULTI)) return true;
        }
    }
}

bool OpenRoute(CFd* fd, std::string* reason) {
    fd->Reset(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE));
    if (fd->IsValid()) return true;
    *reason = ErrorText("socket", errno);
    return false;
}

// Calls `visit` with each attribute of a message whose fixed part is `fixed` bytes long.
template <typename Visit>
void ForEachAttribute(const nlmsghdr* h, std::size_t fixed, Visit visit) {
    if (h->nlmsg_len < NLMSG_LENGTH(fixed)) return;
    int bytes = int(h->nlmsg_len - NLMSG_LENGTH(fixed));
    auto* a = reinterpret_cast<const rtattr*>(static_cast<const char*>(NLMSG_DATA(h)) + NLMSG_ALIGN(fixed));
    for (; RTA_OK(a, bytes); a = RTA_NEXT(a, bytes)) visit(a);
}

bool PreferTemporary(const std::string& name) {
    if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return false;
    const std::string path = "/proc/sys/net/ipv6/conf/" + name + "/use_tempaddr";
    std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "re"), &std::fclose);
    int value = 0;
    return file && std::fscanf(file.get(), "%d", &value) == 1 && value >= 2;
}

bool DumpLinks(const CFd& fd, std::vector<CNetInterface>& interfaces, std::string* reason) {
    struct {
        nlmsghdr header;
        ifinfomsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifinfomsg));
    request.header.nlmsg_type = RTM_GETLINK;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.body.ifi_family = AF_UNSPEC;
    int error = 0;
    const bool ok = Exchange(fd, &request.header, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWLINK || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifinfomsg))) return;
        const auto* body = static_cast<const ifinfomsg*>(NLMSG_DATA(h));
        CNetInterface i;
        i.ifindex = body->ifi_index;
        i.tunnel = body->ifi_type == ARPHRD_TUNNEL || body->ifi_type == ARPHRD_TUNNEL6 ||
                   body->ifi_type == ARPHRD_SIT;
        std::string name;
        ForEachAttribute(h, sizeof(ifinfomsg), [&](const rtattr* a) {
            if (a->rta_type == IFLA_IFNAME)
                name.assign(static_cast<const char*>(RTA_DATA(a)), strnlen(static_cast<const char*>(RTA_DATA(a)), RTA_PAYLOAD(a)));
        });
        i.preferTemporary = PreferTemporary(name);
        interfaces.push_back(i);
    }, &error, reason);
    if (ok && error != 0) *reason = ErrorText("RTM_GETLINK", error);
    return ok && error == 0;
}

void AddAddress(const nlmsghdr* h, std::vector<CNetLocalAddress>& addresses) {
    if (h->nlmsg_type != RTM_NEWADDR || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrmsg))) return;
    const auto* body = static_cast<const ifaddrmsg*>(NLMSG_DATA(h));
    const bool ipv4 = body->ifa_family == AF_INET;
    const std::size_t size = ipv4 ? 4 : 16;
    CNetLocalAddress l;
    l.ipv4 = ipv4;
    l.prefixLength = body->ifa_prefixlen;
    l.ifindex = int(body->ifa_index);
    std::uint32_t flags = body->ifa_flags;
    bool haveLocal = false;
    bool haveAddress = false;
    ForEachAttribute(h, sizeof(ifaddrmsg), [&](const rtattr* a) {
        if ((a->rta_type == IFA_LOCAL || (a->rta_type == IFA_ADDRESS && !haveLocal)) && RTA_PAYLOAD(a) == size) {
            l.address = ipv4 ? Mapped(RTA_DATA(a)) : NetAddress{};
            if (!ipv4) std::memcpy(l.address.data(), RTA_DATA(a), 16);
            haveLocal = haveLocal || a->rta_type == IFA_LOCAL;
            haveAddress = true;
        } else if (a->rta_type == IFA_FLAGS && RTA_PAYLOAD(a) == sizeof(std::uint32_t)) {
            std::memcpy(&flags, RTA_DATA(a), sizeof flags);
        }
    });
    if (!haveAddress) return;
    l.deprecated = flags & IFA_F_DEPRECATED;
    l.temporary = flags & IFA_F_TEMPORARY;
    l.home = flags & IFA_F_HOMEADDRESS;
    l.tentative = flags & IFA_F_TENTATIVE;
    l.optimistic = flags & IFA_F_OPTIMISTIC;
    addresses.push_back(l);
}

bool DumpAddresses(const CFd& fd, int family, std::vector<CNetLocalAddress>& addresses, std::string* reason) {
    struct {
        nlmsghdr header;
        ifaddrmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrmsg));
    request.header.nlmsg_type = RTM_GETADDR;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.body.ifa_family = std::uint8_t(family);
    int error = 0;
    const bool ok = Exchange(fd, &request.header, [&](const nlmsghdr* h) { AddAddress(h, addresses); },
                             &error, reason);
    if (ok && error != 0) *reason = ErrorText("RTM_GETADDR", error);
    return ok && error == 0;
}

}  // namespace

bool ReadNetInterfaces(std::vector<CNetInterface>& interfaces,
                       std::vector<CNetLocalAddress>& addresses, std::string* reason) {
    interfaces.clear();
    addresses.clear();
    CFd fd;
    if (!OpenRoute(&fd, reason) || !DumpLinks(fd, interfaces, reason) ||
        !DumpAddresses(fd, AF_INET6, addresses, reason) || !DumpAddresses(fd, AF_INET, addresses, reason))
        return false;
    std::stable_sort(interfaces.begin(), interfaces.end(),
                     [](const CNetInterface& a, const CNetInterface& b) { return a.ifindex < b.ifindex; });
    std::stable_sort(addresses.begin(), addresses.end(),
                     [](const CNetLocalAddress& a, const CNetLocalAddress& b) { return a.ifindex < b.ifindex; });
    return true;
}

bool LookUpRoute(const NetAddress& address, bool ipv4, CNetRoute* route, std::string* reason) {
    *route = CNetRoute{};
    struct {
        nlmsghdr header;
        rtmsg body;
        char attributes[64];
    } request{};
    const std::size_t size = ipv4 ? 4 : 16;
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(rtmsg));
    request.header.nlmsg_type = RTM_GETROUTE;
    request.header.nlmsg_flags = NLM_F_REQUEST;
    request.body.rtm_family = std::uint8_t(ipv4 ? AF_INET : AF_INET6);
    request.body.rtm_dst_len = std::uint8_t(size * 8);
    auto* a = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) + NLMSG_ALIGN(request.header.nlmsg_len));
    a->rta_type = RTA_DST;
    a->rta_len = std::uint16_t(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(a), address.data() + (ipv4 ? 12 : 0), size);
    request.header.nlmsg_len = NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(a->rta_len);
    CFd fd;
    if (!OpenRoute(&fd, reason)) return false;
    int error = 0;
    const bool ok = Exchange(fd, &request.header, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWROUTE || h->nlmsg_len < NLMSG_LENGTH(sizeof(rtmsg))) return;
        const auto* body = static_cast<const rtmsg*>(NLMSG_DATA(h));
        // Types a datagram socket's connect() gets through: unreachable, prohibit and blackhole
        // routes fail it, and so does a broadcast address without SO_BROADCAST (EACCES).
        const unsigned char t = body->rtm_type;
        route->reachable = t == RTN_UNICAST || t == RTN_LOCAL || t == RTN_MULTICAST || t == RTN_ANYCAST;
        ForEachAttribute(h, sizeof(rtmsg), [&](const rtattr* x) {
            if (x->rta_type == RTA_OIF && RTA_PAYLOAD(x) == sizeof(std::uint32_t)) {
                std::uint32_t oif = 0;
                std::memcpy(&oif, RTA_DATA(x), sizeof oif);
                route->ifindex = int(oif);
            } else if (x->rta_type == RTA_PREFSRC && RTA_PAYLOAD(x) == size) {
                route->hasSource = true;
                if (ipv4) route->source = Mapped(RTA_DATA(x));
                else std::memcpy(route->source.data(), RTA_DATA(x), 16);
            }
        });
    }, &error, reason);
    if (!ok) return false;
    // No route at all (ENETUNREACH, EHOSTUNREACH, ...) is an answer too.
    if (error != 0) route->reachable = false;
    return true;
}

bool ReadAddressLabels(std::vector<CNetAddressLabel>& labels, std::string* reason) {
    labels.clear();
    struct {
        nlmsghdr header;
        ifaddrlblmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrlblmsg));
    request.header.nlmsg_type = RTM_GETADDRLABEL;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.body.ifal_family = AF_INET6;
    CFd fd;
    if (!OpenRoute(&fd, reason)) return false;
    int error = 0;
    const bool ok = Exchange(fd, &request.header, [&](const nlmsghdr* h) {
        if (h->nlmsg_type != RTM_NEWADDRLABEL || h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrlblmsg))) return;
        const auto* body = static_cast<const ifaddrlblmsg*>(NLMSG_DATA(h));
        CNetAddressLabel l;
        l.length = body->ifal_prefixlen;
        l.ifindex = int(body->ifal_index);
        bool havePrefix = false;
        bool haveLabel = false;
        ForEachAttribute(h, sizeof(ifaddrlblmsg), [&](const rtattr* a) {
            if (a->rta_type == IFAL_ADDRESS && RTA_PAYLOAD(a) == 16) {
                std::memcpy(l.prefix.data(), RTA_DATA(a), 16);
                havePrefix = true;
            } else if (a->rta_type == IFAL_LABEL && RTA_PAYLOAD(a) == sizeof(std::uint32_t)) {
                std::memcpy(&l.label, RTA_DATA(a), sizeof l.label);
                haveLabel = true;
            }
        });
        if (havePrefix && haveLabel) labels.push_back(l);
    }, &error, reason);
    if (ok && error != 0) *reason = ErrorText("RTM_GETADDRLABEL", error);
    return ok && error == 0;
}

bool ResolveHost(const std::string& name, std::vector<CResolvedAddress>& addresses,
                 std::string* reason) {
    addresses.clear();
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* list = nullptr;
    const int rc = ::getaddrinfo(name.c_str(), nullptr, &hints, &list);
    if (rc != 0) {
        *reason = rc == EAI_SYSTEM ? std::strerror(errno) : ::gai_strerror(rc);
        return false;
    }
    const std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(list, &::freeaddrinfo);
    for (const addrinfo* i = list; i; i = i->ai_next) {
        CResolvedAddress r;
        if (i->ai_family == AF_INET && i->ai_addrlen >= sizeof(sockaddr_in)) {
            r.ipv4 = true;
            r.address = Mapped(&reinterpret_cast<const sockaddr_in*>(i->ai_addr)->sin_addr);
        } else if (i->ai_family == AF_INET6 && i->ai_addrlen >= sizeof(sockaddr_in6)) {
            std::memcpy(r.address.data(), &reinterpret_cast<const sockaddr_in6*>(i->ai_addr)->sin6_addr, 16);
        } else {
            continue;
        }
        const bool seen = std::any_of(addresses.begin(), addresses.end(), [&](const CResolvedAddress& x) {
            return x.ipv4 == r.ipv4 && x.address == r.address;
        });
        if (!seen) addresses.push_back(r);
    }
    if (addresses.empty()) *reason = ::gai_strerror(EAI_NONAME);
    return !addresses.empty();
}

std::string NetAddressText(const NetAddress& address, bool ipv4) {
    char text[INET6_ADDRSTRLEN] = {};
    ::inet_ntop(ipv4 ? AF_INET : AF_INET6, address.data() + (ipv4 ? 12 : 0), text, sizeof text);
    return text;
}

}  // namespace platform
