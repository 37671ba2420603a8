// Fuzzes the reading of a received DHCPv6 message and of its policy options, in the private
// layout and as address-selection options with their table options.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "net/dhcp.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    if (size > 65535) return 0;  // one datagram at most
    CDhcp reply;
    reply.ParsePacket(int(size), data);

    // Every option lies within the bytes received, one after the other from offset 4.
    qsizetype offset = 4;
    for (const CDhcpOption& option : reply.m_clOption) {
        if (option.Packet().size() != option.m_nTotalLength) std::abort();
        if (option.m_nTotalLength != option.m_sLength + 4) std::abort();
        offset += option.m_nTotalLength;
        if (offset > qsizetype(size)) std::abort();
    }

    // Read every option as a policy option, whatever its code.
    CPolicyList rows;
    for (const CDhcpOption& option : reply.m_clOption) {
        CDhcpOptionPrefixPolicy policy;
        const qsizetype before = rows.size();
        policy.ParsePolicy(option, rows);
        // An entry takes at least 4 bytes.
        if ((rows.size() - before) * 4 > option.m_sLength) std::abort();
    }
    for (const CPolicy& row : rows)
        if (row.m_nSource != 1 || !row.m_bDisabled || !row.m_csAddress.contains(u'/')) std::abort();

    // Read every option as an address-selection option too, whatever its code.
    CPolicyList tableRows;
    for (const CDhcpOption& option : reply.m_clOption) {
        CDhcpOptionPrefixPolicy policy;
        const qsizetype before = tableRows.size();
        policy.ParseAddrSel(option, tableRows);
        // After the flags byte, a table option takes at least 7 bytes.
        if ((tableRows.size() - before) * 7 > std::max(option.m_sLength - 1, 0)) std::abort();
    }
    for (const CPolicy& row : tableRows) {
        if (row.m_nSource != 1 || !row.m_bDisabled) std::abort();
        const qsizetype slash = row.m_csAddress.lastIndexOf(u'/');
        bool ok = false;
        const int prefixLength = row.m_csAddress.mid(slash + 1).toInt(&ok);
        if (slash < 2 || !ok || prefixLength < 0 || prefixLength > 128) std::abort();
        // At most 128 bits: never more than eight groups.
        if (row.m_csAddress.left(slash).split(u':', Qt::SkipEmptyParts).size() > 8) std::abort();
    }
    reply.Release();
    reply.Release();
    return 0;
}
