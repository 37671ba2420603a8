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

std::optional<CDhcpFailure> CDhcpExchange::Send(std::uint16_t policyCode, bool requestOption) {
    CDhcp request;
    request.m_byMessageType = kInformationRequest;
    request.GenerateTransactionId();
    m_transactionId = request.m_byTransactionId;
    CDhcpOptionClientId clientId;
    clientId.GenerateTime();
    clientId.GenerateLinkLayerAddress();
    clientId.GeneratePacket();
    request.AddOption(clientId);
    CDhcpOptionElapsedTime elapsed;
    elapsed.GeneratePacket();
    request.AddOption(elapsed);
    if (requestOption) {
        CDhcpOptionRequest oro;
        oro.m_clCode = {policyCode};
        oro.GeneratePacket();
        request.AddOption(oro);
    }
    const std::uint8_t* packet = request.GetPacket();
    const int length = request.GetPacketLength();
    const platform::CIoResult sent = m_socket.SendTo(m_server, packet, std::size_t(length));
    request.Release();
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
