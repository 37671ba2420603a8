#pragma once
// DHCPv6 messages as the program uses them: the Information-request it sends (Client
// Identifier, Elapsed Time and Option Request options) and the Reply it reads, whose policy
// option (the private prefix-policy layout, or the standard address-selection option 84) is
// turned into policy rows. All integers on the wire are big-endian.
//
// Message: type (1 byte), transaction id (3 bytes), options.
// Option: code (2 bytes), data length n (2 bytes), n data bytes.
//
// Buffers are owned by value types; Release frees them early and may be called any number of
// times. Every read of received bytes is bounded by the number of bytes received.
#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <ctime>
#include <span>

#include "policy/policy.h"

class CAppServices;

class CDhcpOption {
public:
    CDhcpOption();
    virtual ~CDhcpOption() = default;
    CDhcpOption(const CDhcpOption&) = default;
    CDhcpOption& operator=(const CDhcpOption&) = default;

    // Builds the raw bytes from the fields. The base option has no fields and builds nothing.
    virtual void GeneratePacket();

    // Reads one option starting at `offset` of the received bytes. False, with the option
    // left empty, when its header or its data would pass the end of what was received.
    bool ParsePacket(qsizetype offset, std::span<const std::uint8_t> received);

    // Frees the raw bytes if held.
    void Release();

    // The raw bytes: header and data exactly as on the wire (empty when not held).
    const QByteArray& Packet() const { return m_clPacket; }

    bool m_bPacket = false;
    std::uint16_t m_sCode = 0;
    std::uint16_t m_sLength = 0;  // data bytes after the 4-byte header
    int m_nTotalLength = 0;       // m_sLength + 4
    CAppServices* m_pApp = nullptr;

protected:
    void Trace(const char* operation, bool start) const;
    QByteArray m_clPacket;
};

// Client Identifier (code 1) with a DUID of type 1 (link-layer address plus time) or, for any
// other DUID type, of the link-layer address alone.
class CDhcpOptionClientId : public CDhcpOption {
public:
    CDhcpOptionClientId();

    // Seconds since 2000-01-01 00:00:00 UTC, low 32 bits.
    void GenerateTime();
    static std::uint32_t SecondsSince2000(std::time_t now);
    // The first adapter's hardware address, at most 8 bytes; none gives length 0.
    void GenerateLinkLayerAddress();
    void GeneratePacket() override;

    std::uint16_t m_sDUIDType = 1;
    std::uint16_t m_sHardwareType = 1;  // Ethernet
    std::uint32_t m_nTime = 0;          // host order; written big-endian
    std::array<std::uint8_t, 8> m_byLinkLayerAddress{};
    int m_nLinkLayerAddressLength = 0;
};

// Elapsed Time (code 8), always 0.
class CDhcpOptionElapsedTime : public CDhcpOption {
public:
    CDhcpOptionElapsedTime();
    void GeneratePacket() override;

    std::uint16_t m_sElapsedTime = 0;
};

// Option Request (code 6): the codes of the options the client wants in the Reply. Servers
// that add an option only when it is asked for need it to send the policy at all.
class CDhcpOptionRequest : public CDhcpOption {
public:
    CDhcpOptionRequest();
    void GeneratePacket() override;

    QList<std::uint16_t> m_clCode;
};

// Reader of the policy options, in two layouts.
//
// Private layout (any configured code): entries of label, precedence, an unused byte, prefix
// length P and the prefix in whole 16-bit groups (P rounded up to 16 bits, in bytes).
//
// Address-selection option (code 84): one flags byte (A, automatic row addition, 0x02; P,
// privacy preference, 0x01), then table options (code 85), each holding label, precedence,
// prefix length P (at most 128) and the prefix in P rounded up to whole bytes.
class CDhcpOptionPrefixPolicy : public CDhcpOption {
public:
    static constexpr std::uint16_t kAddrSelCode = 84;
    static constexpr std::uint16_t kAddrSelTableCode = 85;

    // Appends one row per entry of `option` (private layout) to `rows`. An entry whose 4 bytes
    // or prefix bytes would pass the end of the option ends the walk; rows made before it stay.
    void ParsePolicy(const CDhcpOption& option, CPolicyList& rows);

    // Appends one row per table option inside `option` (address-selection layout) to `rows`.
    // The flags are traced only: the table has no place for them. A table option cut by the
    // end, too short for its prefix or with P above 128 ends the walk; rows made before it
    // stay. Options of other codes inside are skipped.
    void ParseAddrSel(const CDhcpOption& option, CPolicyList& rows);

    // True when the address-selection option holds its flags byte and nothing but whole table
    // options after it, each with P at most 128 and its prefix bytes: the rows it gives are
    // all the rows it carries.
    static bool AddrSelWhole(const CDhcpOption& option);

    // Number of prefix bytes a private-layout entry with prefix length p carries.
    static int PrefixBytes(int p) { return (p + 15) / 16 * 2; }
    // Number of prefix bytes an address-selection table entry with prefix length p carries.
    static int AddrSelPrefixBytes(int p) { return (p + 7) / 8; }

private:
    // Appends the switched-off network row for one entry; `prefix` holds its prefix bytes.
    void AppendRow(CPolicyList& rows, const QString& networkName, int label, int precedence,
                   int prefixLength, std::span<const std::uint8_t> prefix) const;
    QString NetworkName() const;
};

class CDhcp {
public:
    CDhcp();
    ~CDhcp() = default;
    CDhcp(const CDhcp&) = delete;
    CDhcp& operator=(const CDhcp&) = delete;

    // Draws a new transaction id from two values r1, r2 in 0..32767: the low 24 bits of
    // r1 * r2, most significant byte first.
    void GenerateTransactionId();
    static std::array<std::uint8_t, 3> TransactionIdFromDraws(unsigned r1, unsigned r2);

    // 4 plus the total length of every option.
    int GetPacketLength() const;
    // Builds the packet (owned by the message) and returns its bytes.
    const std::uint8_t* GetPacket();
    // Reads type, transaction id and options from `count` received bytes.
    void ParsePacket(int count, const std::uint8_t* bytes);
    // Appends a copy of an option whose raw bytes have been built.
    void AddOption(const CDhcpOption& option) { m_clOption.append(option); }
    // Frees the packet if held, then every option's raw bytes.
    void Release();

    std::uint8_t m_byMessageType = 0;
    std::array<std::uint8_t, 3> m_byTransactionId{};
    bool m_bPacket = false;
    int m_nPacketLength = 0;
    QList<CDhcpOption> m_clOption;
    CAppServices* m_pApp = nullptr;

private:
    void Trace(const char* operation, bool start) const;
    QByteArray m_clPacket;
};
