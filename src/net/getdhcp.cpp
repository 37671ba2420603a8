// CPolicyListManager::GetDhcp: rows from a DHCPv6 server on the local link.
#include <algorithm>

#include "net/dhcpexchange.h"
#include "net/networkuse.h"
#include "policy/policylistmanager.h"
#include "services/appservices.h"
#include "resids.h"
#include "services/settingskeys.h"

int CPolicyListManager::GetDhcp(CPolicyList& list) {
    const QString kClass = QStringLiteral("CPolicyListManager");
    const QString kMethod = QStringLiteral("GetDhcp");
    if (m_pApp == nullptr) return 0;
    CAppLog& log = m_pApp->m_clLog;
    if (net::FetchAlreadyRunning(*m_pApp, kClass, kMethod)) return 1;
    net::CNetworkUse busy(*m_pApp);

    auto fail = [&log](const net::CDhcpFailure& failure) {
        if (failure.message == 0) {
            // Cancelled by the user: no rows and no box.
            log.TraceValue(failure.step, QStringLiteral("TRUE"));
            return 0;
        }
        log.TraceValue(failure.step, QString::number(failure.error));
        log.ShowMessageId(failure.message, LOG_ERROR);
        return 0;
    };
    net::CDhcpExchange exchange(log);
    if (const auto failure = exchange.Open()) return fail(*failure);

    // The policy option's code, read once for the request and the answer. Code 84 is the
    // standard address-selection option; any other code carries the private layout.
    const std::uint16_t policyCode = std::uint16_t(
        m_pApp->GetProfileInt(settings::DhcpOption(), settings::OptionCode(), 27));
    // Servers add many options only when the Option Request names them, so it is sent unless
    // the settings ask for the request without it.
    const bool requestOption =
        m_pApp->GetProfileInt(settings::DhcpOption(), settings::RequestOption(), 1) != 0;
    log.TraceValue(QStringLiteral("sOptionCode"), QString::number(policyCode));
    log.TraceValue(QStringLiteral("bRequestOption"),
                   requestOption ? QStringLiteral("TRUE") : QStringLiteral("FALSE"));

    if (const auto failure = exchange.Send(policyCode, requestOption)) return fail(*failure);
    if (const auto failure = exchange.WaitForReply(std::max(m_nNetworkWaitMs, 1), m_pCancel))
        return fail(*failure);
    exchange.Close();

    CPolicyList rows;
    bool bPolicyOption = false;
    if (!exchange.ReadPolicyRows(policyCode, rows, bPolicyOption)) {
        log.ShowMessageId(strid::kServerBadReply, LOG_ERROR);
        return 0;
    }
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
