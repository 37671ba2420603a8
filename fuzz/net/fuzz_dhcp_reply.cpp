// Fuzzes the reading of a received DHCPv6 message and of its prefix-policy options.
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
    reply.Release();
    reply.Release();
    return 0;
}
