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

// True when RTM_NEWADDRLABEL takes the prefix. The kernel refuses a prefix length above 128
// (ip6addrlbl_newdel) and an IPv4-mapped prefix (::ffff:0:0/96 and within) longer than /96
// (ip6addrlbl_alloc: its label entries are typed by address kind, and a mapped entry is only
// kept for the whole /96); both give EINVAL. IPv4 sources never use the kernel's labels.
bool Holds(const std::array<std::uint8_t, 16>& prefix, int length);

// Every entry of the table; false with errno's text in *error (and errno in *code) when the
// dump fails.
bool Dump(std::vector<CLabel>& labels, std::string* error, int* code = nullptr);

// Makes the table (entries for all interfaces) hold exactly `wanted`: each wanted entry is
// added or replaced first, then every other entry is deleted, so no prefix is ever without
// a label in between. False with the first failure in *error and its errno in *code (EPERM
// without CAP_NET_ADMIN); the table may then be part way, and Replace with the entries Dump
// gave before puts it back.
//
// Test hook: NETSH_TEST_NETLINK_FAIL="<k>[:<errno>]" makes the k-th request to the kernel (a
// dump, an add or a delete) fail with that errno (EIO when none is given) without sending it;
// NETSH_TEST_NETLINK_STEPS names a file that carries the count from one process to the next.
bool Replace(const std::vector<CLabel>& wanted, std::string* error, int* code = nullptr);

}  // namespace addrlabel
