#pragma once
// What the machine's network looks like to address selection: its interfaces and addresses
// with their flags, the route to one destination, and the system resolver's addresses for a
// name. Read over rtnetlink (and the resolver) on Linux.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace platform {

using NetAddress = std::array<std::uint8_t, 16>;  // IPv4 as IPv4-mapped

struct CNetInterface {
    int ifindex = 0;
    bool tunnel = false;           // IP-in-IP, IPv6-in-IPv6 or 6in4
    bool preferTemporary = false;  // use_tempaddr of 2 or more
};

struct CNetLocalAddress {
    NetAddress address{};
    bool ipv4 = false;
    int prefixLength = 0;
    int ifindex = 0;
    bool deprecated = false;
    bool temporary = false;
    bool home = false;
    bool tentative = false;   // duplicate address detection still running
    bool optimistic = false;  // usable while tentative
};

// Interfaces in ifindex order; addresses grouped by interface in that order, each interface's
// in the order the system lists them. False with a reason when the system cannot be asked.
bool ReadNetInterfaces(std::vector<CNetInterface>& interfaces,
                       std::vector<CNetLocalAddress>& addresses, std::string* reason);

struct CNetRoute {
    bool reachable = false;  // a route that lets a datagram socket connect
    int ifindex = 0;
    bool hasSource = false;
    NetAddress source{};     // the preferred source the route gives (IPv4)
};

// The route the system takes to `address`. False with a reason when it cannot be asked; an
// unreachable destination is a true answer with reachable false.
bool LookUpRoute(const NetAddress& address, bool ipv4, CNetRoute* route, std::string* reason);

struct CNetAddressLabel {
    NetAddress prefix{};
    int length = 0;
    std::uint32_t label = 0;
    int ifindex = 0;  // 0: every interface
};

// The kernel's IPv6 address label table, in its lookup order.
bool ReadAddressLabels(std::vector<CNetAddressLabel>& labels, std::string* reason);

struct CResolvedAddress {
    NetAddress address{};
    bool ipv4 = false;
};

// The addresses the system resolver gives for a host name or numeric address, in its order,
// each once. False with the resolver's reason when it gives none.
bool ResolveHost(const std::string& name, std::vector<CResolvedAddress>& addresses,
                 std::string* reason);

// Numeric text of an address (IPv4 dotted for an IPv4 one).
std::string NetAddressText(const NetAddress& address, bool ipv4);

}  // namespace platform
