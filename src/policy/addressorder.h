#pragma once
// The order in which programs try a host's addresses under a policy table, as glibc's
// getaddrinfo sorts them (destination rules 1 to 10) with the source address the kernel picks
// for each (its source rules, with the table's labels). A pure function of the table, the
// machine's addresses and the route to each destination: nothing here asks the system.
#include <QList>
#include <array>
#include <cstdint>

#include "platform/netinfo.h"

namespace addressorder {

using Address = platform::NetAddress;  // IPv4 as IPv4-mapped (::ffff:a.b.c.d)

// One row as the system holds it once registered.
struct CTableRow {
    Address prefix{};
    int length = 0;
    std::uint32_t precedence = 0;
    std::uint32_t label = 0;
};

// The machine's interfaces and addresses, as the platform reads them.
using CLocalAddress = platform::CNetLocalAddress;
using CInterface = platform::CNetInterface;

struct CMachine {
    QList<CInterface> interfaces;   // in ifindex order
    QList<CLocalAddress> addresses; // grouped by interface, in ifindex order
};

// The route the system would take to one destination.
struct CRoute {
    bool reachable = false;
    int ifindex = 0;                // the route's outgoing interface
    bool hasSource = false;         // IPv4: the route's preferred source is known
    Address source{};               // IPv4 only; IPv6 sources are chosen here
};

struct CDestination {
    Address address{};
    bool ipv4 = false;
    CRoute route;
};

// One destination in its place: which input it was, the source (when reachable), the table's
// precedence and label for it and the label of its source, and the rule (1 to 10) that put it
// ahead of the next one; 0 for the last.
struct COrdered {
    qsizetype input = 0;
    bool reachable = false;
    Address source{};
    bool sourceIpv4 = false;
    std::uint32_t precedence = 0;
    std::uint32_t label = 0;
    std::uint32_t sourceLabel = 0;
    int rule = 0;
};

// The destinations in the order getaddrinfo returns them once `table` is registered (an empty
// table: glibc's built-in tables, and those rows as the kernel's labels). Ties keep the input
// order. `kernelLabels`, when given, is the kernel's label table in place of the one a
// registration of `table` would set (the precedence and label of its rows are used, the
// precedence ignored).
QList<COrdered> Order(const QList<CTableRow>& table, const CMachine& machine,
                      const QList<CDestination>& destinations,
                      const QList<CTableRow>* kernelLabels = nullptr);

// The source the kernel picks for an IPv6 destination leaving through `ifindex` (0: any),
// with `kernelLabels` as its label table; false when it has none to offer.
bool ChooseIpv6Source(const QList<CTableRow>& kernelLabels, const CMachine& machine,
                      const Address& destination, int ifindex, CLocalAddress* chosen);

// glibc's built-in rows (its gai.conf defaults), in the order its documentation lists them.
QList<CTableRow> GlibcBuiltInTable();

}  // namespace addressorder
