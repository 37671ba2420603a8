// The kernel's IPv6 source address choice (Linux net/ipv6/addrconf.c, ipv6_dev_get_saddr and
// ipv6_get_saddr_eval) and its label lookup (net/ipv6/addrlabel.c), on a described machine.
#include <algorithm>

#include "policy/addressorder.h"
#include "policy/addressorder_p.h"

namespace addressorder {
namespace {

// The kernel's address types (__ipv6_addr_type) that matter here.
enum : unsigned {
    kAny = 0x0000,
    kUnicast = 0x0001,
    kMulticast = 0x0002,
    kLoopback = 0x0010,
    kLinkLocal = 0x0020,
    kSiteLocal = 0x0040,
    kCompatV4 = 0x0080,
    kMapped = 0x1000,
};

struct CType {
    unsigned flags = kAny;
    int scope = 0;  // the source scope: 1 node, 2 link, 5 site, 14 global; -1 for "::"
};

CType KernelType(const Address& a) {
    const std::uint8_t b0 = a[0];
    if ((b0 & 0xE0) != 0x00 && (b0 & 0xE0) != 0xE0) return {kUnicast, 14};
    if (b0 == 0xFF) {
        const int mcScope = a[1] & 0x0F;
        const unsigned kind = mcScope == 1 ? kLoopback : mcScope == 2 ? kLinkLocal
                            : mcScope == 5 ? kSiteLocal : 0u;
        return {kMulticast | kind, mcScope};
    }
    if (b0 == 0xFE && (a[1] & 0xC0) == 0x80) return {kLinkLocal | kUnicast, 2};
    if (b0 == 0xFE && (a[1] & 0xC0) == 0xC0) return {kSiteLocal | kUnicast, 5};
    if ((b0 & 0xFE) == 0xFC) return {kUnicast, 14};
    if (std::all_of(a.begin(), a.begin() + 8, [](std::uint8_t x) { return x == 0; })) {
        const bool zero10 = std::all_of(a.begin() + 8, a.begin() + 12, [](std::uint8_t x) { return x == 0; });
        if (zero10) {
            const bool any = std::all_of(a.begin() + 12, a.end(), [](std::uint8_t x) { return x == 0; });
            if (any) return {kAny, -1};
            const bool one = a[12] == 0 && a[13] == 0 && a[14] == 0 && a[15] == 1;
            if (one) return {kLoopback | kUnicast, 2};
            return {kCompatV4 | kUnicast, 14};
        }
        if (a[8] == 0 && a[9] == 0 && a[10] == 0xFF && a[11] == 0xFF) return {kMapped, 14};
    }
    return {kUnicast, 14};
}

unsigned LabelType(const Address& a) { return KernelType(a).flags & (kMapped | kCompatV4 | kLoopback); }

bool IsOrchid(const Address& a) {  // 2001:10::/28
    return a[0] == 0x20 && a[1] == 0x01 && a[2] == 0x00 && (a[3] & 0xF0) == 0x10;
}

// One candidate's standing under each rule, in the kernel's order; greater is better.
struct CScore {
    std::array<int, 9> rules{};
};

struct CDest {
    Address address{};
    CType type;
    int ifindex = 0;
    std::uint32_t label = 0;
};

CScore Evaluate(std::uint32_t label, const CInterface* iface, const CLocalAddress& c,
                const CDest& d) {
    const CType t = KernelType(c.address);
    CScore s;
    s.rules[0] = c.address == d.address;
    s.rules[1] = t.scope >= d.type.scope ? -t.scope : t.scope - 128;
    const bool alwaysPreferred = (t.flags & (kMapped | kCompatV4 | kLoopback)) != 0;
    s.rules[2] = alwaysPreferred || !(c.deprecated || c.optimistic);
    s.rules[3] = d.ifindex == 0 || d.ifindex == c.ifindex;
    s.rules[4] = label == d.label;
    s.rules[5] = int(!c.temporary) ^ int(iface && iface->preferTemporary);
    s.rules[6] = IsOrchid(c.address) == IsOrchid(d.address);
    s.rules[7] = std::min(CommonPrefixLength(c.address, d.address), c.prefixLength);
    s.rules[8] = !c.optimistic;
    return s;
}

}  // namespace

bool NeedsScopeId(const Address& a) {
    const unsigned flags = KernelType(a).flags;
    return (flags & kLinkLocal) || ((flags & kMulticast) && (flags & (kLoopback | kLinkLocal)));
}

int CommonPrefixLength(const Address& a, const Address& b) {
    for (int i = 0; i < 16; ++i) {
        const unsigned x = unsigned(a[i] ^ b[i]);
        if (x == 0) continue;
        int n = 0;
        for (unsigned mask = 0x80; (x & mask) == 0; mask >>= 1) ++n;
        return i * 8 + n;
    }
    return 128;
}

bool Covers(const Address& prefix, int length, const Address& a) {
    int i = 0;
    for (; length >= 8; length -= 8, ++i) {
        if (prefix[i] != a[i]) return false;
    }
    if (length == 0) return true;
    const unsigned mask = (0xFF00u >> length) & 0xFFu;
    return (prefix[i] & mask) == (a[i] & mask);
}

CKernelLabels::CKernelLabels(const QList<CTableRow>& rows) {
    for (const CTableRow& r : rows) {
        CEntry e{r.prefix, r.length, r.label, LabelType(r.prefix)};
        // The kernel refuses a mapped prefix longer than /96 and only types an exact one.
        if (e.type == kMapped && r.length > 96) continue;
        if ((e.type == kMapped || e.type == kCompatV4) && r.length != 96) e.type = 0;
        if (e.type == kLoopback && r.length != 128) e.type = 0;
        // A later entry for the same prefix replaces the earlier one.
        auto same = std::find_if(m_entries.begin(), m_entries.end(), [&](const CEntry& x) {
            return x.length == e.length && CommonPrefixLength(x.prefix, e.prefix) >= e.length;
        });
        if (same != m_entries.end())
            *same = e;
        else
            m_entries.append(e);
    }
    std::stable_sort(m_entries.begin(), m_entries.end(),
                     [](const CEntry& a, const CEntry& b) { return a.length > b.length; });
}

std::uint32_t CKernelLabels::Label(const Address& a) const {
    const unsigned type = LabelType(a);
    for (const CEntry& e : m_entries) {
        if (e.type != 0 && e.type != type) continue;
        if (Covers(e.prefix, e.length, a)) return e.label;
    }
    return 0xFFFFFFFFu;  // the kernel's label for an address no entry covers
}

QList<std::uint32_t> AddressLabels(const CKernelLabels& labels, const CMachine& machine) {
    QList<std::uint32_t> result;
    result.reserve(machine.addresses.size());
    for (const CLocalAddress& c : machine.addresses) result.append(labels.Label(c.address));
    return result;
}

bool ChooseSource(const CKernelLabels& labels, const QList<std::uint32_t>& addressLabels,
                  const CMachine& machine, const Address& destination, int ifindex,
                  CLocalAddress* chosen) {
    CDest d;
    d.address = destination;
    d.type = KernelType(destination);
    d.ifindex = ifindex;
    d.label = labels.Label(destination);
    // Multicast and link-scope destinations take only the outgoing interface's addresses.
    const bool oifOnly = ifindex != 0 && ((d.type.flags & kMulticast) || d.type.scope <= 2);
    const CLocalAddress* best = nullptr;
    CScore bestScore;
    const CInterface* iface = nullptr;
    for (qsizetype k = 0; k < machine.addresses.size(); ++k) {
        const CLocalAddress& c = machine.addresses[k];
        if (c.ipv4 || (oifOnly && c.ifindex != ifindex)) continue;
        if (c.tentative && !c.optimistic) continue;
        const CType t = KernelType(c.address);
        if (t.flags == kAny || (t.flags & kMulticast)) continue;
        if (!iface || iface->ifindex != c.ifindex) {
            iface = nullptr;
            for (const CInterface& i : machine.interfaces)
                if (i.ifindex == c.ifindex) iface = &i;
        }
        const CScore score = Evaluate(addressLabels[k], iface, c, d);
        // The first candidate keeps its place until one is better by the first rule that differs.
        if (!best || score.rules > bestScore.rules) {
            best = &c;
            bestScore = score;
        }
    }
    if (!best) return false;
    *chosen = *best;
    return true;
}

bool ChooseIpv6Source(const QList<CTableRow>& kernelLabels, const CMachine& machine,
                      const Address& destination, int ifindex, CLocalAddress* chosen) {
    const CKernelLabels labels(kernelLabels);
    return ChooseSource(labels, AddressLabels(labels, machine), machine, destination, ifindex, chosen);
}

}  // namespace addressorder
