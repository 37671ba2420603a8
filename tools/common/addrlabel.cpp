#include "common/addrlabel.h"

#include <linux/if_addrlabel.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <fcntl.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstdio>
#include <cstring>
#include <memory>

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

// The first failure of a call: its text and errno.
struct CError {
    std::string text;
    int code = 0;
};

bool Failed(CError& error, const char* step, int code) {
    error.text = std::string(step) + ": " + std::strerror(code);
    error.code = code;
    return false;
}

bool Report(bool ok, const CError& error, std::string* text, int* code) {
    if (!ok && text) *text = error.text;
    if (!ok && code) *code = error.code;
    return ok;
}

// The steps counted so far, from NETSH_TEST_NETLINK_STEPS's file when set, else in this process.
unsigned long NextStep() {
    static unsigned long steps = 0;
    const char* path = std::getenv("NETSH_TEST_NETLINK_STEPS");
    if (!path || !*path) return ++steps;
    char text[32] = {};
    const std::unique_ptr<int, void (*)(int*)> fd(new int(::open(path, O_RDWR | O_CREAT | O_CLOEXEC, 0600)),
                                                 [](int* owned) {
                                                     if (*owned >= 0) ::close(*owned);
                                                     delete owned;
                                                 });
    if (*fd < 0) return ++steps;
    const ssize_t n = ::pread(*fd, text, sizeof text - 1, 0);
    const unsigned long step = std::strtoul(n > 0 ? text : "0", nullptr, 10) + 1;
    const int length = std::snprintf(text, sizeof text, "%lu\n", step);
    // A count that cannot be kept in the file falls back to this process's own.
    const bool kept = ::ftruncate(*fd, 0) == 0 && ::pwrite(*fd, text, std::size_t(length), 0) == length;
    return kept ? step : ++steps;
}

// True (with the failure in `error`) when the test hook makes this step fail.
bool Injected(CError& error) {
    const char* spec = std::getenv("NETSH_TEST_NETLINK_FAIL");
    if (!spec || !*spec) return false;
    char* end = nullptr;
    const unsigned long at = std::strtoul(spec, &end, 10);
    const int code = *end == ':' ? int(std::strtol(end + 1, nullptr, 10)) : EIO;
    if (NextStep() != at) return false;
    return !Failed(error, "netlink (injected)", code > 0 ? code : EIO);
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

bool Send(const CSocket& socket, const CRequest& request, CError& error) {
    sockaddr_nl kernel{};
    kernel.nl_family = AF_NETLINK;
    for (;;) {
        const ssize_t n = ::sendto(socket.Fd(), &request, request.header.nlmsg_len, 0,
                                   reinterpret_cast<const sockaddr*>(&kernel), sizeof kernel);
        if (n >= 0) return true;
        if (errno != EINTR) return Failed(error, "sendto", errno);
    }
}

// Reads answers to the request numbered `seq` until its acknowledgement, error or dump end;
// each RTM_NEWADDRLABEL message goes to `labels` when given.
bool Receive(const CSocket& socket, std::uint32_t seq, std::vector<CLabel>* labels,
             CError& error) {
    alignas(nlmsghdr) char buffer[16384];
    for (;;) {
        const ssize_t n = ::recv(socket.Fd(), buffer, sizeof buffer, 0);
        if (n < 0) {
            if (errno == EINTR) continue;
            return Failed(error, "recv", errno);
        }
        int left = static_cast<int>(n);  // bounded by the bytes received
        for (auto* h = reinterpret_cast<nlmsghdr*>(buffer); NLMSG_OK(h, left);
             h = NLMSG_NEXT(h, left)) {
            if (h->nlmsg_seq != seq) continue;
            if (h->nlmsg_type == NLMSG_DONE) return true;
            if (h->nlmsg_type == NLMSG_ERROR) {
                if (h->nlmsg_len < NLMSG_LENGTH(sizeof(nlmsgerr)))
                    return Failed(error, "netlink: short error message", EPROTO);
                const int code = -static_cast<const nlmsgerr*>(NLMSG_DATA(h))->error;
                if (code == 0) return true;
                return Failed(error, "netlink", code);
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
             std::uint32_t seq, CError& error) {
    if (Injected(error)) return false;
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

bool DumpInto(std::vector<CLabel>& labels, CError& error) {
    labels.clear();
    if (Injected(error)) return false;
    const CSocket socket;
    if (socket.Fd() < 0) return Failed(error, "socket(NETLINK_ROUTE)", errno);
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
        if (errno != EINTR) return Failed(error, "sendto", errno);
    }
    return Receive(socket, 1, &labels, error);
}

bool ReplaceAll(const std::vector<CLabel>& wanted, CError& error) {
    std::vector<CLabel> present;
    if (!DumpInto(present, error)) return false;
    const CSocket socket;
    if (socket.Fd() < 0) return Failed(error, "socket(NETLINK_ROUTE)", errno);
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

}  // namespace

bool Holds(const std::array<std::uint8_t, 16>& prefix, int length) {
    if (length < 0 || length > 128) return false;
    const bool mapped = std::all_of(prefix.begin(), prefix.begin() + 10,
                                    [](std::uint8_t b) { return b == 0; }) &&
                        prefix[10] == 0xFF && prefix[11] == 0xFF;
    return !(mapped && length > 96);
}

bool Dump(std::vector<CLabel>& labels, std::string* error, int* code) {
    CError failure;
    return Report(DumpInto(labels, failure), failure, error, code);
}

bool Replace(const std::vector<CLabel>& wanted, std::string* error, int* code) {
    CError failure;
    return Report(ReplaceAll(wanted, failure), failure, error, code);
}

}  // namespace addrlabel
