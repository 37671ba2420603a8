#pragma once
// The DHCPv6 policy exchange on the local link: the client port taken for this exchange alone,
// one Information-request to All_DHCP_Relay_Agents_and_Servers, the wait for the Reply that
// carries its transaction id, and the policy rows read from that Reply.
#include <QByteArray>
#include <QList>
#include <QString>
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/socket.h"
#include "policy/policy.h"

class CAppLog;

namespace net {

// A step of the exchange that failed: its name and error number for the trace, and the message
// shown to the user.
struct CDhcpFailure {
    QString step;
    int error = 0;
    int message = 0;  // 0: the wait was cancelled, and nothing is shown
};

// The Information-request with transaction id `transactionId`: Client Identifier, Elapsed Time
// (hundredths of a second since the exchange's first send) and, when `requested` is not empty,
// an Option Request naming those codes.
QByteArray InformationRequest(const std::array<std::uint8_t, 3>& transactionId,
                              const QList<std::uint16_t>& requested, std::uint16_t elapsed);

// What a Reply says about the policy, read with the fetch's own readers.
struct CPolicyReply {
    bool reply = false;      // the message is a Reply
    bool found = false;      // it carries an option of the policy's code
    bool wellFormed = true;  // every row of that option was whole (address-selection layout)
    int flags = -1;          // the address-selection option's flags byte; -1: none
    std::optional<std::uint32_t> refreshTime;  // Information Refresh Time (option 32), seconds
    CPolicyList rows;
};
CPolicyReply ReadPolicyReply(std::span<const std::uint8_t> received, std::uint16_t policyCode);

class CDhcpExchange {
public:
    // `log` receives a trace line for every datagram passed over while waiting.
    explicit CDhcpExchange(CAppLog& log) : m_log(log) {}

    // Takes the client port (546) for this socket alone and finds the servers' address.
    std::optional<CDhcpFailure> Open();
    // Sends the Information-request once: Client Identifier, Elapsed Time and, when
    // `requestOption`, an Option Request naming `policyCode`.
    std::optional<CDhcpFailure> Send(std::uint16_t policyCode, bool requestOption);
    // Waits up to waitMs after the send for the first datagram carrying the request's
    // transaction id; anything else is passed over, however many datagrams arrive meanwhile.
    std::optional<CDhcpFailure> WaitForReply(int waitMs, const platform::CCancelEvent* cancel);
    // Gives the port back.
    void Close() { m_socket.Close(); }

    // Reads the reply into `rows`: the options of `policyCode` in the private layout, or in the
    // address-selection layout for code 84. False when the answer is not a Reply; `found` tells
    // whether it carried an option of that code.
    bool ReadPolicyRows(std::uint16_t policyCode, CPolicyList& rows, bool& found) const;

private:
    CAppLog& m_log;
    platform::CSocket m_socket;
    platform::CSocketAddress m_server;
    std::array<std::uint8_t, 3> m_transactionId{};
    std::vector<std::uint8_t> m_reply;
    int m_replyLength = 0;
};

}  // namespace net
