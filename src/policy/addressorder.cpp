// Destination ordering as glibc's getaddrinfo does it (sysdeps/posix/getaddrinfo.c: the
// source lookup per result, rfc3484_sort and its tables, gai.conf's defaults), over sources
// chosen as the kernel chooses them.
#include <QVarLengthArray>
#include <algorithm>

#include "policy/addressorder.h"
#include "policy/addressorder_p.h"

namespace addressorder {
namespace {

struct CEntry {
    Address prefix{};
    int length = 0;
    std::uint32_t value = 0;
};

Address Make(std::initializer_list<std::uint8_t> head, std::uint8_t last = 0) {
    Address a{};
    std::copy(head.begin(), head.end(), a.begin());
    a[15] = std::uint8_t(a[15] | last);
    return a;
}

const Address kLoopback = Make({}, 1);
const Address k6to4 = Make({0x20, 0x02});
const Address kAll = Make({});
const Address kMapped = Make({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF});
const Address kSiteLocal = Make({0xFE, 0xC0});
const Address kUla = Make({0xFC});
const Address kTeredo = Make({0x20, 0x01});

// glibc's built-in tables, longest prefix first as it scans them.
QList<CEntry> BuiltInPrecedences() {
    return {{kLoopback, 128, 50}, {k6to4, 16, 30}, {kAll, 96, 20}, {kMapped, 96, 10}, {kAll, 0, 40}};
}

QList<CEntry> BuiltInLabels() {
    return {{kLoopback, 128, 0}, {k6to4, 16, 2},  {kAll, 96, 3},    {kMapped, 96, 4},
            {kSiteLocal, 10, 5}, {kUla, 7, 6},    {kTeredo, 32, 7}, {kAll, 0, 1}};
}

// A table as glibc builds it from gai.conf: the rows' values, "::/0" with `nullValue` when no
// row has length 0, longest first with ties in file order (its merge sort is stable).
QList<CEntry> Prepared(const QList<CTableRow>& rows, bool labels) {
    if (rows.isEmpty()) return labels ? BuiltInLabels() : BuiltInPrecedences();
    QList<CEntry> entries;
    entries.reserve(rows.size() + 1);
    bool hasAll = false;
    for (const CTableRow& r : rows) {
        entries.append({r.prefix, r.length, labels ? r.label : r.precedence});
        hasAll = hasAll || r.length == 0;
    }
    if (!hasAll) entries.append({kAll, 0, labels ? 1u : 40u});
    std::stable_sort(entries.begin(), entries.end(),
                     [](const CEntry& a, const CEntry& b) { return a.length > b.length; });
    return entries;
}

// The value of the first (longest) entry covering the address, or the whole prefix of `length`.
std::uint32_t Match(const QList<CEntry>& table, const Address& a, int length = 128) {
    for (const CEntry& e : table)
        if (e.length <= length && Covers(e.prefix, e.length, a)) return e.value;
    return 0;  // unreachable: every table ends with ::/0
}

bool IsV4Loopback(const Address& a) { return a[12] == 127; }

// glibc's get_scope: IPv6 by the address's kind, IPv4 by its default scope table.
int GlibcScope(const Address& a, bool ipv4) {
    if (ipv4) {
        if ((a[12] == 169 && a[13] == 254) || IsV4Loopback(a)) return 2;
        return 14;
    }
    if (a[0] == 0xFF) return a[1] & 0x0F;
    if ((a[0] == 0xFE && (a[1] & 0xC0) == 0x80) || a == kLoopback) return 2;
    if (a[0] == 0xFE && (a[1] & 0xC0) == 0xC0) return 5;
    return 14;
}

// What the sort knows of one result.
struct CItem {
    bool got = false;
    bool ipv4 = false;
    Address dst{};
    Address src{};
    bool deprecated = false;
    bool home = false;
    int prefixLength = 0;
    std::uint32_t index = 0xFFFFFFFFu;
    int native = 0;
    int dstScope = 0;
    int srcScope = 0;
    std::uint32_t dstLabel = 0;
    std::uint32_t srcLabel = 0;
    std::uint32_t precedence = 0;
};

struct CVerdict {
    int sign = 0;  // -1: the first goes first
    int rule = 0;
};

int LeadingZeros(std::uint32_t x) {
    int n = 0;
    for (std::uint32_t mask = 0x80000000u; n < 32 && (x & mask) == 0; mask >>= 1) ++n;
    return n;
}

std::uint32_t Word(const Address& a, int i) {
    return std::uint32_t(a[4 * i]) << 24 | std::uint32_t(a[4 * i + 1]) << 16 |
           std::uint32_t(a[4 * i + 2]) << 8 | std::uint32_t(a[4 * i + 3]);
}

// Rule 9's counts: for IPv4 only within the source's subnet; for IPv6 within the first 32-bit
// word where either pair differs.
void CommonBits(const CItem& a1, const CItem& a2, int* bit1, int* bit2) {
    if (a1.ipv4) {
        for (const auto& [item, bit] : {std::pair{&a1, bit1}, std::pair{&a2, bit2}}) {
            const std::uint32_t dst = Word(item->dst, 3);
            const std::uint32_t src = Word(item->src, 3);
            // A zero length shifts by 32, which the x86 shift reads as 0: an all-ones mask.
            const int length = std::clamp(item->prefixLength, 0, 32);
            const std::uint32_t mask = length == 0 ? 0xFFFFFFFFu : 0xFFFFFFFFu << (32 - length);
            *bit = (src & mask) == (dst & mask) ? LeadingZeros(dst ^ src) : 0;
        }
        return;
    }
    int i = 0;
    while (i < 4 && Word(a1.dst, i) == Word(a1.src, i) && Word(a2.dst, i) == Word(a2.src, i)) ++i;
    *bit1 = *bit2 = 0;
    if (i < 4) {
        *bit1 = LeadingZeros(Word(a1.dst, i) ^ Word(a1.src, i));
        *bit2 = LeadingZeros(Word(a2.dst, i) ^ Word(a2.src, i));
    }
}

CVerdict Prefer(bool first, bool second, int rule) {
    if (first && !second) return {-1, rule};
    if (!first && second) return {1, rule};
    return {};
}

// rfc3484_sort.
CVerdict Compare(const CItem& a1, const CItem& a2, qsizetype i1, qsizetype i2) {
    CVerdict v = Prefer(a1.got, a2.got, 1);
    if (v.sign) return v;
    if (a1.got) {
        v = Prefer(a1.dstScope == a1.srcScope, a2.dstScope == a2.srcScope, 2);
        if (!v.sign) v = Prefer(!a1.deprecated, !a2.deprecated, 3);
        if (!v.sign) v = Prefer(a1.home, a2.home, 4);
        if (!v.sign) v = Prefer(a1.dstLabel == a1.srcLabel, a2.dstLabel == a2.srcLabel, 5);
        if (v.sign) return v;
    }
    if (a1.precedence != a2.precedence) return {a1.precedence > a2.precedence ? -1 : 1, 6};
    if (a1.got && a1.index != a2.index) {
        v = Prefer(a1.native != 0, a2.native != 0, 7);
        if (v.sign) return v;
    }
    if (a1.dstScope != a2.dstScope) return {a1.dstScope < a2.dstScope ? -1 : 1, 8};
    if (a1.got && a1.ipv4 == a2.ipv4) {
        int bit1 = 0;
        int bit2 = 0;
        CommonBits(a1, a2, &bit1, &bit2);
        if (bit1 != bit2) return {bit1 > bit2 ? -1 : 1, 9};
    }
    return {i1 < i2 ? -1 : 1, 10};
}

// glibc's qsort_r as getaddrinfo meets it: a top-down merge sort that takes from the first half
// while the comparison is not positive. The comparison need not be transitive, so the very
// algorithm decides the order.
void MergeSort(qsizetype* b, qsizetype n, qsizetype* tmp, const QList<CItem>& items) {
    if (n <= 1) return;
    const qsizetype n1 = n / 2;
    qsizetype* b1 = b;
    qsizetype* b2 = b + n1;
    MergeSort(b1, n1, tmp, items);
    MergeSort(b2, n - n1, tmp, items);
    qsizetype left = n1;
    qsizetype right = n - n1;
    qsizetype* out = tmp;
    while (left > 0 && right > 0) {
        if (Compare(items[*b1], items[*b2], *b1, *b2).sign <= 0) {
            *out++ = *b1++;
            --left;
        } else {
            *out++ = *b2++;
            --right;
        }
    }
    while (left-- > 0) *out++ = *b1++;
    std::copy(tmp, out, b);
}

// The machine's address as glibc's interface list records it (flags, prefix length, index);
// nullptr when the list is missing (no IPv6 address but loopback) or lacks the address.
const CLocalAddress* InterfaceEntry(const CMachine& machine, const Address& a) {
    bool seenIpv6 = false;
    const CLocalAddress* found = nullptr;
    for (const CLocalAddress& l : machine.addresses) {
        seenIpv6 = seenIpv6 || (!l.ipv4 && l.address != kLoopback);
        if (!found && l.address == a) found = &l;
    }
    return seenIpv6 ? found : nullptr;
}

int Native(const CMachine& machine, std::uint32_t index) {
    for (const CInterface& i : machine.interfaces)
        if (std::uint32_t(i.ifindex) == index) return i.tunnel ? 0 : 1;
    return 0;
}

// The source getaddrinfo finds for one destination: the route's for IPv4, the kernel's choice
// for IPv6; none when connect() would fail (no route, or a link-scope destination without an
// interface given).
struct CKernelView {
    const CKernelLabels& labels;
    QList<std::uint32_t> addressLabels;
};

bool FindSource(const CKernelView& kernel, const CMachine& machine, const CDestination& d,
                Address* source) {
    if (!d.route.reachable) return false;
    if (d.ipv4) {
        if (!d.route.hasSource) return false;
        *source = d.route.source;
        return true;
    }
    if (NeedsScopeId(d.address)) return false;
    CLocalAddress chosen;
    if (!ChooseSource(kernel.labels, kernel.addressLabels, machine, d.address, d.route.ifindex, &chosen))
        return false;
    *source = chosen.address;
    return true;
}

CItem MakeItem(const QList<CEntry>& precedences, const QList<CEntry>& labels,
               const CKernelView& kernel, const CMachine& machine, const CDestination& d) {
    CItem item;
    item.ipv4 = d.ipv4;
    item.dst = d.address;
    item.got = FindSource(kernel, machine, d, &item.src);
    if (item.got) {
        // A loopback IPv4 source is looked up as 127.0.0.1.
        Address key = item.src;
        if (d.ipv4 && IsV4Loopback(key)) key = Make({0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0xFF, 127}, 1);
        if (const CLocalAddress* entry = InterfaceEntry(machine, key)) {
            item.deprecated = entry->deprecated || entry->optimistic;
            item.home = entry->home;
            item.prefixLength = entry->prefixLength;
            item.index = std::uint32_t(entry->ifindex);
            item.native = Native(machine, item.index);
        }
        item.srcScope = GlibcScope(item.src, d.ipv4);
        item.srcLabel = Match(labels, item.src);
    }
    item.dstScope = GlibcScope(d.address, d.ipv4);
    item.dstLabel = Match(labels, d.address);
    item.precedence = Match(precedences, d.address);
    return item;
}

// The labels the system store gives the kernel for `table`: glibc's label table for it, that is
// its rows and, when none is zero-length, the "::/0" row with label 1 that glibc adds; glibc's
// built-in rows for an empty table.
QList<CTableRow> StoreKernelRows(const QList<CTableRow>& table) {
    if (table.isEmpty()) return GlibcBuiltInTable();
    QList<CTableRow> rows = table;
    if (std::none_of(rows.begin(), rows.end(), [](const CTableRow& r) { return r.length == 0; }))
        rows.append({kAll, 0, 40, 1});
    return rows;
}

}  // namespace

QList<COrdered> Order(const QList<CTableRow>& table, const CMachine& machine,
                      const QList<CDestination>& destinations, const QList<CTableRow>* kernelTable) {
    const QList<CEntry> precedences = Prepared(table, false);
    const QList<CEntry> labels = Prepared(table, true);
    const CKernelLabels kernelLabels(kernelTable ? *kernelTable : StoreKernelRows(table));
    const CKernelView kernel{kernelLabels, AddressLabels(kernelLabels, machine)};
    QList<CItem> items;
    items.reserve(destinations.size());
    for (const CDestination& d : destinations)
        items.append(MakeItem(precedences, labels, kernel, machine, d));
    const qsizetype n = items.size();
    QVarLengthArray<qsizetype, 64> order(n);
    QVarLengthArray<qsizetype, 64> tmp(n);
    for (qsizetype i = 0; i < n; ++i) order[i] = i;
    // getaddrinfo sorts only when there is more than one result.
    if (n > 1) MergeSort(order.data(), n, tmp.data(), items);
    QList<COrdered> result;
    result.reserve(n);
    for (qsizetype k = 0; k < n; ++k) {
        const CItem& it = items[order[k]];
        COrdered o;
        o.input = order[k];
        o.reachable = it.got;
        o.source = it.src;
        o.sourceIpv4 = it.ipv4;
        o.precedence = it.precedence;
        o.label = it.dstLabel;
        o.sourceLabel = it.srcLabel;
        if (k + 1 < n) o.rule = Compare(it, items[order[k + 1]], order[k], order[k + 1]).rule;
        result.append(o);
    }
    return result;
}

QList<CTableRow> GlibcBuiltInTable() {
    const QList<CEntry> precedences = BuiltInPrecedences();
    QList<CTableRow> rows;
    for (const CEntry& l : BuiltInLabels()) rows.append({l.prefix, l.length, Match(precedences, l.prefix, l.length), l.value});
    std::stable_sort(rows.begin(), rows.end(),
                     [](const CTableRow& a, const CTableRow& b) { return a.label < b.label; });
    return rows;
}

}  // namespace addressorder
