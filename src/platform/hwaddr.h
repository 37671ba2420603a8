#pragma once
// The hardware (link-layer) address of the machine's first network adapter.
#include <array>
#include <cstdint>

namespace platform {

struct CHardwareAddress {
    std::array<std::uint8_t, 8> bytes{};
    int length = 0;  // 0 to 8
};

// Takes the first adapter in the system's interface order (ascending interface index) that
// has a hardware address: the loopback and adapters whose address is empty or all zero are
// passed over. At most 8 bytes are kept. No such adapter gives length 0 and true.
// False when the interface list cannot be read; *error is then the errno of the query.
bool FirstAdapterHardwareAddress(CHardwareAddress* address, int* error);

}  // namespace platform
