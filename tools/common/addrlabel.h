#pragma once
// The kernel's IPv6 address label table (source address selection) over rtnetlink: a dump of
// the table and a replacement of the whole table, for the network namespace of the caller.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace addrlabel {

struct CLabel {
    std::array<std::uint8_t, 16> prefix{};
    int length = 0;
    std::uint32_t label = 0;
    std::uint32_t ifindex = 0;
};

// Every entry of the table; false with errno's text in *error when the dump fails.
bool Dump(std::vector<CLabel>& labels, std::string* error);

// Makes the table (entries for all interfaces) hold exactly `wanted`: each wanted entry is
// added or replaced first, then every other entry is deleted, so no prefix is ever without
// a label in between. False with the first failure in *error (EPERM without CAP_NET_ADMIN).
bool Replace(const std::vector<CLabel>& wanted, std::string* error);

}  // namespace addrlabel
