#include "net/dhcp.h"

#include <algorithm>
#include <random>

#include "services/appservices.h"
#include "platform/hwaddr.h"
#include "services/settingskeys.h"

namespace {

const QString kClassMessage = QStringLiteral("CDhcp");
const QString kClassOption = QStringLiteral("CDhcpOption");
const QString kClassClientId = QStringLiteral("CDhcpOptionClientId");
const QString kClassElapsedTime = QStringLiteral("CDhcpOptionElapsedTime");
const QString kClassPrefixPolicy = QStringLiteral("CDhcpOptionPrefixPolicy");
const QString kClassRequest = QStringLiteral("CDhcpOptionRequest");

void TraceOp(CAppServices* app, const QString& className, const char* operation, bool start) {
    if (app == nullptr) return;
    const QString op = QString::fromLatin1(operation);
    if (start)
        app->m_clLog.TraceStart(className, op);
    else
        app->m_clLog.TraceEnd(className, op);
}

void TraceVal(CAppServices* app, const QString& name, const QString& value) {
    if (app != nullptr) app->m_clLog.TraceValue(name, value);
}

void Put16(QByteArray& buffer, qsizetype offset, std::uint16_t value) {
    buffer[offset] = char(value >> 8);
    buffer[offset + 1] = char(value & 0xFF);
}

void Put32(QByteArray& buffer, qsizetype offset, std::uint32_t value) {
    buffer[offset] = char(value >> 24);
    buffer[offset + 1] = char((value >> 16) & 0xFF);
    buffer[offset + 2] = char((value >> 8) & 0xFF);
    buffer[offset + 3] = char(value & 0xFF);
}

std::uint16_t Get16(const std::uint8_t* p) { return std::uint16_t((p[0] << 8) | p[1]); }

}  // namespace

// ---------------------------------------------------------------------------------------------
// CDhcpOption

CDhcpOption::CDhcpOption() : m_pApp(CAppServices::Current()) {}

void CDhcpOption::Trace(const char* operation, bool start) const {
    TraceOp(m_pApp, kClassOption, operation, start);
}

void CDhcpOption::GeneratePacket() {}

bool CDhcpOption::ParsePacket(qsizetype offset, std::span<const std::uint8_t> received) {
    Trace("ParsePacket", true);
    m_clPacket.clear();
    m_bPacket = false;
    m_sCode = 0;
    m_sLength = 0;
    m_nTotalLength = 0;
    const qsizetype count = qsizetype(received.size());
    if (offset < 0 || offset > count || count - offset < 4) {
        TraceVal(m_pApp, QStringLiteral("nOffset"), QString::number(offset));
        return false;
    }
    const std::uint8_t* p = received.data() + offset;
    const std::uint16_t code = Get16(p);
    const std::uint16_t length = Get16(p + 2);
    if (count - offset - 4 < length) {
        TraceVal(m_pApp, QStringLiteral("nLength"), QString::number(length));
        return false;
    }
    m_sCode = code;
    m_sLength = length;
    m_nTotalLength = int(length) + 4;
    m_clPacket = QByteArray(reinterpret_cast<const char*>(p), m_nTotalLength);
    m_bPacket = true;
    Trace("ParsePacket", false);
    return true;
}

void CDhcpOption::Release() {
    Trace("Release", true);
    if (m_bPacket) {
        TraceVal(m_pApp, QStringLiteral("m_bPacket"), QStringLiteral("true"));
        m_clPacket.clear();
        m_clPacket.squeeze();
        m_bPacket = false;
    }
    Trace("Release", false);
}

// ---------------------------------------------------------------------------------------------
// CDhcpOptionClientId

CDhcpOptionClientId::CDhcpOptionClientId() { m_sCode = 1; }

std::uint32_t CDhcpOptionClientId::SecondsSince2000(std::time_t now) {
    // 2000-01-01 00:00:00 UTC is 946684800 seconds after the epoch. The value is the same on
    // every machine, whatever its time zone.
    constexpr std::int64_t kEpoch2000 = 946684800;
    return std::uint32_t(std::int64_t(now) - kEpoch2000);
}

void CDhcpOptionClientId::GenerateTime() {
    TraceOp(m_pApp, kClassClientId, "GenerateTime", true);
    m_nTime = SecondsSince2000(std::time(nullptr));
    TraceOp(m_pApp, kClassClientId, "GenerateTime", false);
}

void CDhcpOptionClientId::GenerateLinkLayerAddress() {
    TraceOp(m_pApp, kClassClientId, "GenerateLinkLayerAddress", true);
    m_byLinkLayerAddress.fill(0);
    m_nLinkLayerAddressLength = 0;
    platform::CHardwareAddress address;
    int error = 0;
    if (!platform::FirstAdapterHardwareAddress(&address, &error)) {
        TraceVal(m_pApp, QStringLiteral("getifaddrs"), QString::number(error));
        return;
    }
    m_nLinkLayerAddressLength = std::clamp(address.length, 0, int(m_byLinkLayerAddress.size()));
    std::copy_n(address.bytes.begin(), m_nLinkLayerAddressLength, m_byLinkLayerAddress.begin());
    TraceVal(m_pApp, QStringLiteral("m_nLinkLayerAddressLength"),
             QString::number(m_nLinkLayerAddressLength));
    TraceOp(m_pApp, kClassClientId, "GenerateLinkLayerAddress", false);
}

void CDhcpOptionClientId::GeneratePacket() {
    TraceOp(m_pApp, kClassClientId, "GeneratePacket", true);
    const int l = std::clamp(m_nLinkLayerAddressLength, 0, int(m_byLinkLayerAddress.size()));
    const int n = l + 4 + (m_sDUIDType == 1 ? 4 : 0);
    m_clPacket = QByteArray(n + 4, '\0');
    Put16(m_clPacket, 0, m_sCode);
    Put16(m_clPacket, 2, std::uint16_t(n));
    Put16(m_clPacket, 4, m_sDUIDType);
    Put16(m_clPacket, 6, m_sHardwareType);
    qsizetype addressAt = 8;
    if (m_sDUIDType == 1) {
        TraceVal(m_pApp, QStringLiteral("m_sDUIDType"), QStringLiteral("1"));
        Put32(m_clPacket, 8, m_nTime);
        addressAt = 12;
    }
    for (int i = 0; i < l; ++i) m_clPacket[addressAt + i] = char(m_byLinkLayerAddress[i]);
    m_sLength = std::uint16_t(n);
    m_nTotalLength = n + 4;
    m_bPacket = true;
    TraceOp(m_pApp, kClassClientId, "GeneratePacket", false);
}

// ---------------------------------------------------------------------------------------------
// CDhcpOptionElapsedTime

CDhcpOptionElapsedTime::CDhcpOptionElapsedTime() { m_sCode = 8; }

void CDhcpOptionElapsedTime::GeneratePacket() {
    TraceOp(m_pApp, kClassElapsedTime, "GeneratePacket", true);
    m_clPacket = QByteArray(6, '\0');
    Put16(m_clPacket, 0, m_sCode);
    Put16(m_clPacket, 2, 2);
    Put16(m_clPacket, 4, m_sElapsedTime);
    m_sLength = 2;
    m_nTotalLength = 6;
    m_bPacket = true;
    TraceOp(m_pApp, kClassElapsedTime, "GeneratePacket", false);
}

// ---------------------------------------------------------------------------------------------
// CDhcpOptionRequest

CDhcpOptionRequest::CDhcpOptionRequest() { m_sCode = 6; }

void CDhcpOptionRequest::GeneratePacket() {
    TraceOp(m_pApp, kClassRequest, "GeneratePacket", true);
    const int n = int(m_clCode.size()) * 2;
    m_clPacket = QByteArray(n + 4, '\0');
    Put16(m_clPacket, 0, m_sCode);
    Put16(m_clPacket, 2, std::uint16_t(n));
    for (qsizetype i = 0; i < m_clCode.size(); ++i) Put16(m_clPacket, 4 + 2 * i, m_clCode[i]);
    m_sLength = std::uint16_t(n);
    m_nTotalLength = n + 4;
    m_bPacket = true;
    TraceOp(m_pApp, kClassRequest, "GeneratePacket", false);
}

// ---------------------------------------------------------------------------------------------
// CDhcpOptionPrefixPolicy

QString CDhcpOptionPrefixPolicy::NetworkName() const {
    return m_pApp != nullptr
               ? m_pApp->GetProfileString(settings::Dhcp(), settings::NetworkName(),
                                          QStringLiteral("Network(DHCP_DEFAULT)"))
               : QStringLiteral("Network(DHCP_DEFAULT)");
}

void CDhcpOptionPrefixPolicy::AppendRow(CPolicyList& rows, const QString& networkName, int label,
                                        int precedence, int prefixLength,
                                        std::span<const std::uint8_t> prefix) const {
    static constexpr char kHex[] = "0123456789abcdef";
    CPolicy row;
    QString address;
    if (prefixLength == 0) {
        address = QStringLiteral("::");
    } else {
        // Whole 16-bit groups for the address formatter: an odd byte count gets a zero byte.
        QString digits;
        digits.reserve(qsizetype(prefix.size()) * 2 + 2);
        for (const std::uint8_t byte : prefix) {
            digits += QLatin1Char(kHex[byte >> 4]);
            digits += QLatin1Char(kHex[byte & 0x0F]);
        }
        if (prefix.size() % 2 != 0) digits += QStringLiteral("00");
        const CAppLog::CQuietTrace quiet;  // no lines per row
        address = row.FixAddress(digits);
    }
    row.m_csNetworkName = networkName;
    row.m_csLabel = QString::number(label);
    row.m_csPriority = QString::number(precedence);
    row.m_csAddress = address + u'/' + QString::number(prefixLength);
    row.m_nSource = 1;
    row.m_bDisabled = true;
    rows.append(row);
}

void CDhcpOptionPrefixPolicy::ParsePolicy(const CDhcpOption& option, CPolicyList& rows) {
    TraceOp(m_pApp, kClassPrefixPolicy, "ParsePolicy", true);
    const QString networkName = NetworkName();

    // The walk never passes the declared total nor the bytes actually held.
    const QByteArray& raw = option.Packet();
    const auto* p = reinterpret_cast<const std::uint8_t*>(raw.constData());
    const qsizetype end = std::min<qsizetype>(option.m_nTotalLength, raw.size());

    qsizetype offset = 4;
    while (offset < end) {
        if (end - offset < 4) {
            TraceVal(m_pApp, QStringLiteral("nOffset"), QString::number(offset));
            break;
        }
        const int label = p[offset];
        const int precedence = p[offset + 1];
        const int prefixLength = p[offset + 3];
        offset += 4;
        const int b = prefixLength == 0 ? 0 : PrefixBytes(prefixLength);
        if (end - offset < b) {
            TraceVal(m_pApp, QStringLiteral("nOffset"), QString::number(offset));
            break;
        }
        AppendRow(rows, networkName, label, precedence, prefixLength,
                  std::span(p + offset, std::size_t(b)));
        offset += b;
    }
    TraceOp(m_pApp, kClassPrefixPolicy, "ParsePolicy", false);
}

bool CDhcpOptionPrefixPolicy::AddrSelWhole(const CDhcpOption& option) {
    const QByteArray& raw = option.Packet();
    const auto* p = reinterpret_cast<const std::uint8_t*>(raw.constData());
    const qsizetype end = std::min<qsizetype>(option.m_nTotalLength, raw.size());
    if (end < 5 || end != option.m_nTotalLength) return false;
    for (qsizetype offset = 5; offset < end;) {
        if (end - offset < 4) return false;
        const std::uint16_t code = Get16(p + offset);
        const qsizetype length = Get16(p + offset + 2);
        if (end - offset - 4 < length) return false;
        if (code == kAddrSelTableCode &&
            (length < 3 || p[offset + 6] > 128 || length - 3 < AddrSelPrefixBytes(p[offset + 6])))
            return false;
        offset += 4 + length;
    }
    return true;
}

void CDhcpOptionPrefixPolicy::ParseAddrSel(const CDhcpOption& option, CPolicyList& rows) {
    TraceOp(m_pApp, kClassPrefixPolicy, "ParseAddrSel", true);
    const QByteArray& raw = option.Packet();
    const auto* p = reinterpret_cast<const std::uint8_t*>(raw.constData());
    const qsizetype end = std::min<qsizetype>(option.m_nTotalLength, raw.size());
    if (end < 5) {
        TraceVal(m_pApp, QStringLiteral("nLength"),
                 QString::number(std::max<qsizetype>(end - 4, 0)));
        TraceOp(m_pApp, kClassPrefixPolicy, "ParseAddrSel", false);
        return;
    }
    const bool automaticRows = (p[4] & 0x02) != 0;
    const bool privacy = (p[4] & 0x01) != 0;
    TraceVal(m_pApp, QStringLiteral("bAutomaticRowAddition"),
             automaticRows ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    TraceVal(m_pApp, QStringLiteral("bPrivacyPreference"),
             privacy ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    const QString networkName = NetworkName();

    qsizetype offset = 5;
    while (offset < end) {
        if (end - offset < 4) {
            TraceVal(m_pApp, QStringLiteral("nOffset"), QString::number(offset));
            break;
        }
        const std::uint16_t code = Get16(p + offset);
        const qsizetype length = Get16(p + offset + 2);
        if (end - offset - 4 < length) {
            TraceVal(m_pApp, QStringLiteral("nOffset"), QString::number(offset));
            break;
        }
        const qsizetype data = offset + 4;
        offset = data + length;
        if (code != kAddrSelTableCode) {
            TraceVal(m_pApp, QStringLiteral("sCode"), QString::number(code));
            continue;
        }
        const int prefixLength = length >= 3 ? p[data + 2] : 0;
        if (length < 3 || prefixLength > 128 || length - 3 < AddrSelPrefixBytes(prefixLength)) {
            TraceVal(m_pApp, QStringLiteral("nOffset"), QString::number(data - 4));
            break;
        }
        AppendRow(rows, networkName, p[data], p[data + 1], prefixLength,
                  std::span(p + data + 3, std::size_t(AddrSelPrefixBytes(prefixLength))));
    }
    TraceOp(m_pApp, kClassPrefixPolicy, "ParseAddrSel", false);
}

// ---------------------------------------------------------------------------------------------
// CDhcp

CDhcp::CDhcp() : m_pApp(CAppServices::Current()) {}

void CDhcp::Trace(const char* operation, bool start) const {
    TraceOp(m_pApp, kClassMessage, operation, start);
}

std::array<std::uint8_t, 3> CDhcp::TransactionIdFromDraws(unsigned r1, unsigned r2) {
    const std::uint32_t product = std::uint32_t(r1) * std::uint32_t(r2);
    return {std::uint8_t((product >> 16) & 0xFF), std::uint8_t((product >> 8) & 0xFF),
            std::uint8_t(product & 0xFF)};
}

void CDhcp::GenerateTransactionId() {
    Trace("GenerateTransactionId", true);
    // Drawn from the system's random source rather than a generator seeded with the clock, so
    // that another host on the link cannot predict the id the answer has to carry.
    std::random_device source;
    std::uniform_int_distribution<unsigned> draw(0, 32767);
    const unsigned r1 = draw(source);
    const unsigned r2 = draw(source);
    m_byTransactionId = TransactionIdFromDraws(r1, r2);
    Trace("GenerateTransactionId", false);
}

int CDhcp::GetPacketLength() const {
    Trace("GetPacketLength", true);
    int length = 4;
    for (const CDhcpOption& option : m_clOption) length += option.m_nTotalLength;
    Trace("GetPacketLength", false);
    return length;
}

const std::uint8_t* CDhcp::GetPacket() {
    Trace("GetPacket", true);
    const int length = GetPacketLength();
    m_clPacket = QByteArray(length, '\0');
    m_clPacket[0] = char(m_byMessageType);
    for (int i = 0; i < 3; ++i) m_clPacket[1 + i] = char(m_byTransactionId[i]);
    qsizetype offset = 4;
    for (const CDhcpOption& option : m_clOption) {
        // An option contributes its declared total length; bytes it does not hold stay zero.
        const QByteArray& raw = option.Packet();
        const qsizetype n = std::min<qsizetype>(raw.size(), option.m_nTotalLength);
        std::copy_n(raw.constData(), n, m_clPacket.data() + offset);
        offset += option.m_nTotalLength;
    }
    m_nPacketLength = length;
    m_bPacket = true;
    Trace("GetPacket", false);
    return reinterpret_cast<const std::uint8_t*>(m_clPacket.constData());
}

void CDhcp::ParsePacket(int count, const std::uint8_t* bytes) {
    Trace("ParsePacket", true);
    m_clOption.clear();
    m_nPacketLength = std::max(count, 0);
    m_byMessageType = 0;
    m_byTransactionId.fill(0);
    if (bytes == nullptr) m_nPacketLength = 0;
    const std::span<const std::uint8_t> received(bytes, std::size_t(m_nPacketLength));
    if (m_nPacketLength >= 1) m_byMessageType = received[0];
    for (int i = 0; i < 3 && 1 + i < m_nPacketLength; ++i) m_byTransactionId[i] = received[1 + i];

    qsizetype offset = 4;
    while (offset < m_nPacketLength) {
        CDhcpOption option;
        if (!option.ParsePacket(offset, received)) break;
        m_clOption.append(option);
        offset += option.m_nTotalLength;
    }
    TraceVal(m_pApp, QStringLiteral("m_clOption.GetCount"), QString::number(m_clOption.size()));
    Trace("ParsePacket", false);
}

void CDhcp::Release() {
    Trace("Release", true);
    if (m_bPacket) {
        TraceVal(m_pApp, QStringLiteral("m_bPacket"), QStringLiteral("true"));
        m_clPacket.clear();
        m_clPacket.squeeze();
        m_bPacket = false;
    }
    for (CDhcpOption& option : m_clOption) option.Release();
    Trace("Release", false);
}
