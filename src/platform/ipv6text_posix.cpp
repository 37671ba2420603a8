#include "platform/ipv6text.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <iterator>

namespace platform {

bool ParseIpv6Address(const char* text, std::array<std::uint8_t, 16>& bytes) {
    in6_addr address{};
    if (::inet_pton(AF_INET6, text, &address) != 1) return false;
    std::copy(std::begin(address.s6_addr), std::end(address.s6_addr), bytes.begin());
    return true;
}

}  // namespace platform
