#include "net/dhcpexchange.h"

#include <algorithm>
#include <cerrno>

#include "net/dhcp.h"
#include "services/applog.h"
#include "resids.h"

namespace net {
namespace {

constexpr std::uint8_t kInformationRequest = 11;
constexpr std::uint8_t kReply = 7;
constexpr std::size_t kReceiveBuffer = 65536;
constexpr std::uint16_t kClientPort = 546;
constexpr std::uint16_t kServerPort = 547;
constexpr std::uint16_t kRefreshTimeCode = 32;

CDhcpFailure Failure(const char* step, int error, int message) {
    return {QString::fromLatin1(step), error, message};
}

}  // namespace

std::optional<CDhcpFailure> CDhcpExchange::Open() {
    using platform::EAddressFamily;
    using platform::ESocketType;
    // Local address: the unspecified address, port 546.
    std::vector<platform::CSocketAddress> local;
    int error = platform::ResolveAddresses(nullptr, kClientPort, EAddressFamily::Ipv6,
                                           ESocketType::Datagram, local);
    if (error != 0 || local.empty()) return Failure("getaddrinfo(NULL..)", error, strid::kServerUnreachable);
    // Destination: All_DHCP_Relay_Agents_and_Servers, port 547.
    std::vector<platform::CSocketAddress> server;
    error = platform::ResolveAddresses("ff02::1:2", kServerPort, EAddressFamily::Ipv6,
                                       ESocketType::Datagram, server);
    if (error != 0 || server.empty()) return Failure("getaddrinfo", error, strid::kServerUnreachable);
    m_server = server.front();

    if ((error = m_socket.OpenFor(m_server)) != 0) return Failure("socket", error, strid::kServerUnreachable);
    // Exclusive use of the port: the bind below fails while another socket holds port 546 and
    // no other socket can join ours.
    if ((error = m_socket.SetExclusivePort()) != 0) return Failure("setsockoptReuse", error, strid::kServerUnreachable);
    if ((error = m_socket.Bind(local.front())) != 0) return Failure("bind", error, strid::kServerUnreachable);
    return std::nullopt;
}

QByteArray InformationRequest(const std::array<std::uint8_t, 3>& transactionId,
                              const QList<std::uint16_t>& requested, std::uint16_t elapsed) {
    CDhcp request;
    request.m_byMessageType = kInformationRequest;
    request.m_byTransactionId = transactionId;
    CDhcpOptionClientId clientId;
    clientId.GenerateTime();
    clientId.GenerateLinkLayerAddress();
    clientId.GeneratePacket();
    request.AddOption(clientId);
    CDhcpOptionElapsedTime elapsedTime;
    elapsedTime.m_sElapsedTime = elapsed;
    elapsedTime.GeneratePacket();
    request.AddOption(elapsedTime);
    if (!requested.isEmpty()) {
        CDhcpOptionRequest oro;
        oro.m_clCode = requested;
        oro.GeneratePacket();
        request.AddOption(oro);
    }
    const std::uint8_t* packet = request.GetPacket();
    QByteArray bytes(reinterpret_cast<const char*>(packet), request.GetPacketLength());
    request.Release();
    return bytes;
}

CPolicyReply ReadPolicyReply(std::span<const std::uint8_t> received, std::uint16_t policyCode) {
    CPolicyReply out;
    CDhcp reply;
    reply.ParsePacket(int(received.size()), received.data());
    out.reply = reply.m_byMessageType == kReply;
    for (const CDhcpOption& option : std::as_const(reply.m_clOption)) {
        if (!out.reply) break;
        const QByteArray& raw = option.Packet();
        const auto* p = reinterpret_cast<const std::uint8_t*>(raw.constData());
        if (option.m_sCode == kRefreshTimeCode && option.m_sLength == 4 && raw.size() >= 8)
            out.refreshTime = std::uint32_t(p[4]) << 24 | std::uint32_t(p[5]) << 16 |
                              std::uint32_t(p[6]) << 8 | p[7];
        if (option.m_sCode != policyCode) continue;
        out.found = true;
        CDhcpOptionPrefixPolicy policy;
        if (policyCode != CDhcpOptionPrefixPolicy::kAddrSelCode) {
            policy.ParsePolicy(option, out.rows);
            continue;
        }
        if (raw.size() >= 5) out.flags = p[4];
        out.wellFormed = out.wellFormed && CDhcpOptionPrefixPolicy::AddrSelWhole(option);
        policy.ParseAddrSel(option, out.rows);
    }
    reply.Release();
    return out;
}

std::optional<CDhcpFailure> CDhcpExchange::Send(std::uint16_t policyCode, bool requestOption) {
    CDhcp draw;
    draw.GenerateTransactionId();
    m_transactionId = draw.m_byTransactionId;
    const QByteArray packet = InformationRequest(
        m_transactionId, requestOption ? QList<std::uint16_t>{policyCode} : QList<std::uint16_t>{}, 0);
    const platform::CIoResult sent =
        m_socket.SendTo(m_server, packet.constData(), std::size_t(packet.size()));
    if (sent.status != platform::EIo::Done || sent.bytes == 0)
        return Failure("sendto", sent.error, strid::kDhcpNotSent);
    return std::nullopt;
}

std::optional<CDhcpFailure> CDhcpExchange::WaitForReply(int waitMs,
                                                        const platform::CCancelEvent* cancel) {
    using platform::EIo;
    const platform::CDeadline deadline(waitMs);
    m_reply.resize(kReceiveBuffer);
    for (;;) {
        std::fill(m_reply.begin(), m_reply.end(), 0);
        const platform::CIoResult got =
            m_socket.ReceiveBy(m_reply.data(), kReceiveBuffer - 1, deadline, cancel);
        if (got.status == EIo::Cancelled) return CDhcpFailure{QStringLiteral("bCancel"), 0, 0};
        if (got.status == EIo::WaitFailed) return Failure("poll", got.error, strid::kServerSilent);
        if (got.status == EIo::TimedOut) return Failure("recvfrom", EAGAIN, strid::kServerSilent);
        if (got.status == EIo::Failed) return Failure("recvfrom", got.error, strid::kServerSilent);
        if (got.bytes >= 4 &&
            std::equal(m_transactionId.begin(), m_transactionId.end(), m_reply.begin() + 1)) {
            m_replyLength = int(got.bytes);
            return std::nullopt;
        }
        m_log.TraceValue(QStringLiteral("bTransactionId"), QStringLiteral("FALSE"));
    }
}

bool CDhcpExchange::ReadPolicyRows(std::uint16_t policyCode, CPolicyList& rows, bool& found) const {
    found = false;
    CDhcp reply;
    reply.ParsePacket(m_replyLength, m_reply.data());
    if (reply.m_byMessageType != kReply) {
        reply.Release();
        return false;
    }
    for (const CDhcpOption& option : reply.m_clOption) {
        if (option.m_sCode != policyCode) continue;
        found = true;
        CDhcpOptionPrefixPolicy policy;
        if (policyCode == CDhcpOptionPrefixPolicy::kAddrSelCode)
            policy.ParseAddrSel(option, rows);
        else
            policy.ParsePolicy(option, rows);
    }
    reply.Release();
    return true;
}

}  // namespace net
