#pragma once
// Pieces the address ordering shares between its files.
#include "policy/addressorder.h"

namespace addressorder {

// Leading bits two addresses share (128 when equal).
int CommonPrefixLength(const Address& a, const Address& b);
// True when the first `length` bits of `a` are those of `prefix` (host bits ignored).
bool Covers(const Address& prefix, int length, const Address& a);

// The kernel's address label table made from the rows: longest prefix first; an address that no
// entry covers has the kernel's default label.
class CKernelLabels {
public:
    explicit CKernelLabels(const QList<CTableRow>& rows);
    std::uint32_t Label(const Address& a) const;

private:
    struct CEntry {
        Address prefix{};
        int length = 0;
        std::uint32_t label = 0;
        unsigned type = 0;  // mapped, v4-compatible or loopback entries match only that type
    };
    QList<CEntry> m_entries;
};

// A link-scope destination, which connect() refuses without an interface to send on.
bool NeedsScopeId(const Address& a);

// The kernel's label of each of the machine's addresses, in its order.
QList<std::uint32_t> AddressLabels(const CKernelLabels& labels, const CMachine& machine);

// The kernel's choice among the machine's IPv6 addresses (`addressLabels` from AddressLabels).
bool ChooseSource(const CKernelLabels& labels, const QList<std::uint32_t>& addressLabels,
                  const CMachine& machine, const Address& destination, int ifindex,
                  CLocalAddress* chosen);

}  // namespace addressorder
