#include "common/addrlabel.h"

#include <linux/if_addrlabel.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace addrlabel {
namespace {

// One rtnetlink socket, closed with its owner.
class CSocket {
public:
    CSocket() : m_fd(::socket(AF_NETLINK, SOCK_RAW | SOCK_CLOEXEC, NETLINK_ROUTE)) {}
    ~CSocket() {
        if (m_fd >= 0) ::close(m_fd);
    }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    int Fd() const { return m_fd; }

private:
    int m_fd;
};

std::string ErrorText(const char* step, int error) {
    return std::string(step) + ": " + std::strerror(error);
}

struct CRequest {
    nlmsghdr header;
    ifaddrlblmsg body;
    char attributes[64];
};

void AddAttribute(CRequest& request, unsigned short type, const void* data, std::size_t size) {
    auto* attribute = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(&request) +
                                                NLMSG_ALIGN(request.header.nlmsg_len));
    attribute->rta_type = type;
    attribute->rta_len = static_cast<unsigned short>(RTA_LENGTH(size));
    std::memcpy(RTA_DATA(attribute), data, size);
    request.header.nlmsg_len =
        NLMSG_ALIGN(request.header.nlmsg_len) + RTA_ALIGN(attribute->rta_len);
}

bool Send(const CSocket& socket, const CRequest& request, std::string* error) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t n = ::sendto(socket.Fd(), &request, request.header.nlmsg_len, 0,
                                   reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
        if (n >= 0) return true;
        if (errno != EINTR) {
            *error = ErrorText("sendto", errno);
            return false;
        }
    }
}

// Reads answers to the request numbered `seq` until its acknowledgement, error or dump end;
// each RTM_NEWADDRLABEL message goes to `labels` when given.
bool Receive(const CSocket& socket, std::uint32_t seq, std::vector<CLabel>* labels,
             std::string* error) {
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(socket.Fd(), buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            *error = ErrorText("recv", errno);
            return false;
        }
        int left = static_cast<int>(n);  // bounded by the bytes received
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != seq) continue;
            if (h->nlmsg_type == NLMSG_DONE) return true;
            if (h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr))) {
                    *error = "netlink: short error message";
                    return false;
                }
                const int code = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
                if (code == 0) return true;
                *error = ErrorText("netlink", code);
                errno = code;
                return false;
            }
            if (h->nlmsg_type != RTM_NEWADDRLABEL || !labels ||
                h->nlmsg_len < NLMSG_LENGTH(sizeof(ifaddrlblmsg)))
                continue;
            const auto* body = static_cast<const ifaddrlblmsg*>(NLMSG_DATA(h));
            CLabel entry;
            entry.length = body->ifal_prefixlen;
            entry.ifindex = body->ifal_index;
            bool haveAddress = false;
            bool haveLabel = false;
            int attributeBytes =
                static_cast<int>(h->nlmsg_len - NLMSG_LENGTH(sizeof(ifaddrlblmsg)));
            for (auto* a = reinterpret_cast<rtattr*>(reinterpret_cast<char*>(NLMSG_DATA(h)) +
                                                     NLMSG_ALIGN(sizeof(ifaddrlblmsg)));
                 RTA_OK(a, attributeBytes); a = RTA_NEXT(a, attributeBytes)) {
                if (a->rta_type == IFAL_ADDRESS && RTA_PAYLOAD(a) == entry.prefix.size()) {
                    std::memcpy(entry.prefix.data(), RTA_DATA(a), entry.prefix.size());
                    haveAddress = true;
                } else if (a->rta_type == IFAL_LABEL && RTA_PAYLOAD(a) == sizeof(std::uint32_t)) {
                    std::memcpy(&entry.label, RTA_DATA(a), sizeof entry.label);
                    haveLabel = true;
                }
            }
            if (haveAddress && haveLabel) labels->push_back(entry);
        }
    }
}

bool Request(const CSocket& socket, std::uint16_t type, std::uint16_t flags, const CLabel& entry,
             std::uint32_t seq, std::string* error) {
    CRequest request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrlblmsg));
    request.header.nlmsg_type = type;
    request.header.nlmsg_flags = static_cast<std::uint16_t>(NLM_F_REQUEST | NLM_F_ACK | flags);
    request.header.nlmsg_seq = seq;
    request.body.ifal_family = AF_INET6;
    request.body.ifal_prefixlen = static_cast<std::uint8_t>(entry.length);
    request.body.ifal_index = entry.ifindex;
    AddAttribute(request, IFAL_ADDRESS, entry.prefix.data(), entry.prefix.size());
    AddAttribute(request, IFAL_LABEL, &entry.label, sizeof entry.label);
    return Send(socket, request, error) && Receive(socket, seq, nullptr, error);
}

bool SamePrefix(const CLabel& a, const CLabel& b) {
    return a.length == b.length && a.ifindex == b.ifindex && a.prefix == b.prefix;
}

// The prefix with every bit after its length cleared, as the kernel keeps it.
CLabel Masked(CLabel entry) {
    for (int bit = entry.length; bit < 128; ++bit)
        entry.prefix[std::size_t(bit / 8)] &= std::uint8_t(~(0x80u >> (bit % 8)));
    return entry;
}

}  // namespace

bool Dump(std::vector<CLabel>& labels, std::string* error) {
    labels.clear();
    const CSocket socket;
    if (socket.Fd() < 0) {
        *error = ErrorText("socket(NETLINK_ROUTE)", errno);
        return false;
    }
    struct {
        nlmsghdr header;
        ifaddrlblmsg body;
    } request{};
    request.header.nlmsg_len = NLMSG_LENGTH(sizeof(ifaddrlblmsg));
    request.header.nlmsg_type = RTM_GETADDRLABEL;
    request.header.nlmsg_flags = NLM_F_REQUEST | NLM_F_DUMP;
    request.header.nlmsg_seq = 1;
    request.body.ifal_family = AF_INET6;
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    while (::sendto(socket.Fd(), &request, request.header.nlmsg_len, 0,
                    reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel) < 0) {
        if (errno != EINTR) {
            *error = ErrorText("sendto", errno);
            return false;
        }
    }
    return Receive(socket, 1, &labels, error);
}

bool Replace(const std::vector<CLabel>& wanted, std::string* error) {
    std::vector<CLabel> present;
    if (!Dump(present, error)) return false;
    const CSocket socket;
    if (socket.Fd() < 0) {
        *error = ErrorText("socket(NETLINK_ROUTE)", errno);
        return false;
    }
    // The kernel deletes by prefix alone and replaces only the first entry of a prefix it meets,
    // so a prefix whose entries differ from the wanted one loses all of them before it is added.
    std::uint32_t seq = 1;
    auto removeAll = [&](const CLabel& entry) {
        for (const CLabel& p : present) {
            if (SamePrefix(p, entry) && !Request(socket, RTM_DELADDRLABEL, 0, p, ++seq, error))
                return false;
        }
        return true;
    };
    std::vector<CLabel> masked;
    for (const CLabel& w : wanted) masked.push_back(Masked(w));
    for (const CLabel& w : masked) {
        std::size_t count = 0;
        bool same = false;
        for (const CLabel& p : present) {
            if (!SamePrefix(p, w)) continue;
            ++count;
            same = p.label == w.label;
        }
        if (count == 1 && same) continue;
        if (!removeAll(w) ||
            !Request(socket, RTM_NEWADDRLABEL, NLM_F_CREATE | NLM_F_EXCL, w, ++seq, error))
            return false;
    }
    for (std::size_t i = 0; i < present.size(); ++i) {
        bool wantedToo = false;
        bool seen = false;  // a prefix listed twice is removed once for all its entries
        for (const CLabel& w : masked) wantedToo = wantedToo || SamePrefix(present[i], w);
        for (std::size_t j = 0; j < i; ++j) seen = seen || SamePrefix(present[i], present[j]);
        if (!wantedToo && !seen && !removeAll(present[i])) return false;
    }
    return true;
}

}  // namespace addrlabel
