// CPolicyListManager::GetDhcp: rows from a DHCPv6 server on the local link.
#include <netinet/in.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <vector>

#include "app/zarntoolapp.h"
#include "net/dhcp.h"
#include "net/networkuse.h"
#include "platform/cancelevent.h"
#include "platform/socket.h"
#include "policy/policylistmanager.h"

namespace {

constexpr std::uint8_t kInformationRequest = 11;
constexpr std::uint8_t kReply = 7;
constexpr std::size_t kReceiveBuffer = 65536;

}  // namespace

int CPolicyListManager::GetDhcp(CPolicyList& list) {
    const QString kClass = QStringLiteral("CPolicyListManager");
    const QString kMethod = QStringLiteral("GetDhcp");
    if (m_pApp == nullptr) return 0;
    CAppLog& log = m_pApp->m_clLog;
    if (net::FetchAlreadyRunning(*m_pApp, kClass, kMethod)) return 1;
    net::CNetworkUse busy(*m_pApp);

    auto fail = [&](const QString& step, int error, int message) {
        log.TraceValue(step, QString::number(error));
        log.ShowMessageId(message, LOG_ERROR);
        return 0;
    };

    // Local address: the unspecified address, port 546.
    addrinfo hints{};
    hints.ai_flags = AI_PASSIVE;
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    platform::CAddrInfo local;
    int rc = local.Resolve(nullptr, "546", hints);
    if (rc != 0 || local.First() == nullptr)
        return fail(QStringLiteral("getaddrinfo(NULL..)"), platform::ResolverErrorNumber(rc), 502);

    // Destination: All_DHCP_Relay_Agents_and_Servers, port 547.
    hints = addrinfo{};
    hints.ai_family = AF_INET6;
    hints.ai_socktype = SOCK_DGRAM;
    platform::CAddrInfo destination;
    rc = destination.Resolve("ff02::1:2", "547", hints);
    if (rc != 0 || destination.First() == nullptr)
        return fail(QStringLiteral("getaddrinfo"), platform::ResolverErrorNumber(rc), 502);
    const addrinfo* to = destination.First();

    platform::CSocket socket;
    if (!socket.Open(to->ai_family, to->ai_socktype, to->ai_protocol))
        return fail(QStringLiteral("socket"), errno, 502);
    // Exclusive use of the port: address and port sharing stay off, so that the bind below
    // fails while another socket holds port 546 and no other socket can join ours.
    const int off = 0;
    if (::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEADDR, &off, sizeof(off)) != 0 ||
        ::setsockopt(socket.Get(), SOL_SOCKET, SO_REUSEPORT, &off, sizeof(off)) != 0)
        return fail(QStringLiteral("setsockoptReuse"), errno, 502);
    if (::bind(socket.Get(), local.First()->ai_addr, local.First()->ai_addrlen) != 0)
        return fail(QStringLiteral("bind"), errno, 502);

    // The policy option's code, read once for the request and the answer. Code 84 is the
    // standard address-selection option; any other code carries the private layout.
    const std::uint16_t policyCode = std::uint16_t(
        m_pApp->GetProfileInt(QStringLiteral("DCHP"), QStringLiteral("OPTION_CODE"), 27));
    // Servers add many options only when the Option Request names them, so it is sent unless
    // the settings ask for the request without it.
    const bool requestOption =
        m_pApp->GetProfileInt(QStringLiteral("DCHP"), QStringLiteral("REQUEST_OPTION"), 1) != 0;
    log.TraceValue(QStringLiteral("sOptionCode"), QString::number(policyCode));
    log.TraceValue(QStringLiteral("bRequestOption"),
                   requestOption ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));

    // The Information-request: Client Identifier, Elapsed Time and the Option Request, sent
    // once.
    std::array<std::uint8_t, 3> transactionId{};
    {
        CDhcp request;
        request.m_byMessageType = kInformationRequest;
        request.GenerateTransactionId();
        transactionId = request.m_byTransactionId;
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
        const ssize_t sent =
            ::sendto(socket.Get(), packet, std::size_t(length), 0, to->ai_addr, to->ai_addrlen);
        const int sendError = errno;
        request.Release();
        if (sent <= 0) return fail(QStringLiteral("sendto"), sent < 0 ? sendError : 0, 515);
    }

    // The answer is the first datagram carrying our transaction id. Anything else is dropped;
    // the wait ends the network wait after the send however many datagrams arrive meanwhile.
    const platform::CDeadline deadline(std::max(m_nNetworkWaitMs, 1));
    std::vector<std::uint8_t> buffer(kReceiveBuffer);
    int received = 0;
    for (;;) {
        const int ready = platform::PollUntil(socket.Get(), POLLIN, deadline, m_pCancel);
        if (ready == platform::kWaitCancelled) {
            log.TraceValue(QStringLiteral("bCancel"), QStringLiteral("TRUE"));
            return 0;
        }
        if (ready < 0) return fail(QStringLiteral("poll"), errno, 503);
        if (ready == 0) return fail(QStringLiteral("recvfrom"), EAGAIN, 503);
        std::fill(buffer.begin(), buffer.end(), 0);
        sockaddr_in6 from{};
        socklen_t fromLength = sizeof(from);
        const ssize_t n = ::recvfrom(socket.Get(), buffer.data(), kReceiveBuffer - 1, MSG_DONTWAIT,
                                     reinterpret_cast<sockaddr*>(&from), &fromLength);
        if (n < 0) {
            if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
            return fail(QStringLiteral("recvfrom"), errno, 503);
        }
        if (n >= 4 && std::equal(transactionId.begin(), transactionId.end(), buffer.begin() + 1)) {
            received = int(n);
            break;
        }
        log.TraceValue(QStringLiteral("bTransactionId"), QStringLiteral("FALSE"));
    }
    socket.Close();
    destination.Free();
    local.Free();

    CDhcp reply;
    reply.ParsePacket(received, buffer.data());
    if (reply.m_byMessageType != kReply) {
        reply.Release();
        log.ShowMessageId(504, LOG_ERROR);
        return 0;
    }
    CPolicyList rows;
    bool bPolicyOption = false;
    for (const CDhcpOption& option : reply.m_clOption) {
        if (option.m_sCode != policyCode) continue;
        bPolicyOption = true;
        CDhcpOptionPrefixPolicy policy;
        if (policyCode == CDhcpOptionPrefixPolicy::kAddrSelCode)
            policy.ParseAddrSel(option, rows);
        else
            policy.ParsePolicy(option, rows);
    }
    reply.Release();
    log.TraceValue(QStringLiteral("bPolicyOption"),
                   bPolicyOption ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));
    // Rows that the editor's rules refuse (a name with a control character, say) are left out.
    const qsizetype nLeftOut = DropInvalidRows(rows);
    list.append(rows);
    busy.Clear();
    net::ShowFetchOutcome(log, rows.size(), nLeftOut,
                          QStringLiteral("OPTION_CODE=") + QString::number(policyCode));
    log.TraceEnd(kClass, kMethod);
    return 1;
}
