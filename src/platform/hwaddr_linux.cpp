#include "platform/hwaddr.h"

#include <ifaddrs.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <memory>

namespace platform {
namespace {

struct IfAddrsFree {
    void operator()(ifaddrs* list) const { ::freeifaddrs(list); }
};

}  // namespace

bool FirstAdapterHardwareAddress(CHardwareAddress* address, int* error) {
    *address = CHardwareAddress();
    ifaddrs* raw = nullptr;
    if (::getifaddrs(&raw) != 0) {
        if (error) *error = errno;
        return false;
    }
    std::unique_ptr<ifaddrs, IfAddrsFree> list(raw);

    int bestIndex = INT_MAX;
    for (const ifaddrs* it = list.get(); it != nullptr; it = it->ifa_next) {
        if (it->ifa_addr == nullptr || it->ifa_addr->sa_family != AF_PACKET) continue;
        if (it->ifa_flags & IFF_LOOPBACK) continue;
        const auto* ll = reinterpret_cast<const sockaddr_ll*>(it->ifa_addr);
        const int length = std::min<int>(ll->sll_halen, int(sizeof(ll->sll_addr)));
        if (length <= 0) continue;
        const bool allZero = std::all_of(ll->sll_addr, ll->sll_addr + length,
                                         [](unsigned char b) { return b == 0; });
        if (allZero) continue;
        if (ll->sll_ifindex >= bestIndex) continue;
        bestIndex = ll->sll_ifindex;
        address->length = std::min(length, int(address->bytes.size()));
        address->bytes.fill(0);
        std::copy_n(ll->sll_addr, address->length, address->bytes.begin());
    }
    return true;
}

}  // namespace platform
