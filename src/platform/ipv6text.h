#pragma once
// Reading the numeric text form of an IPv6 address.
#include <array>
#include <cstdint>

namespace platform {

// Reads a numeric IPv6 address (the forms the system's own parser takes; never a name lookup)
// into its 16 bytes, in network order. False for anything else; `bytes` is then unchanged.
bool ParseIpv6Address(const char* text, std::array<std::uint8_t, 16>& bytes);

}  // namespace platform
