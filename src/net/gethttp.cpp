// CPolicyListManager::GetHttp: rows from the HTTP policy server.
#include "net/httpexchange.h"
#include "net/networkuse.h"
#include "platform/codepage.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/appservices.h"
#include "services/settingskeys.h"

namespace {

// A failed exchange in the log and in front of the user: the step's trace line and the message
// (none when the user cancelled the fetch).
void ReportFailure(CAppLog& log, const net::CHttpExchangeResult& result,
                   const net::CHttpResponse& response) {
    using net::HttpOutcome;
    const QString error = QString::number(result.error);
    struct CStep {
        QString name, value;
        int message;
    };
    CStep step;
    switch (result.outcome) {
        case HttpOutcome::Complete:
            return;
        case HttpOutcome::ResolveFailed:
            step = {QStringLiteral("getaddrinfo"), error, strid::kServerUnreachable};
            break;
        case HttpOutcome::SocketFailed:
            step = {QStringLiteral("socket"), error, strid::kServerUnreachable};
            break;
        case HttpOutcome::ConnectFailed:
            step = {QStringLiteral("connect"), error, strid::kServerUnreachable};
            break;
        case HttpOutcome::SendFailed:
            step = {QStringLiteral("send"), error, strid::kServerUnreachable};
            break;
        case HttpOutcome::TimedOut:
            step = {QString(), QString(), strid::kServerSilent};
            break;
        case HttpOutcome::WaitFailed:
            step = {QStringLiteral("poll"), error, strid::kServerSilent};
            break;
        case HttpOutcome::ReceiveFailed:
            step = {QStringLiteral("recv"), error, strid::kServerBadReply};
            break;
        case HttpOutcome::ClosedEarly:
            step = {QStringLiteral("nTotal"), QString::number(response.Total()),
                    strid::kServerBadReply};
            break;
        case HttpOutcome::TooLarge:
            step = {QStringLiteral("nTotal"),
                    QStringLiteral(">") + QString::number(net::kMaxHttpResponseBytes),
                    strid::kServerBadReply};
            break;
        case HttpOutcome::Cancelled:
            step = {QStringLiteral("bCancel"), QStringLiteral("TRUE"), 0};
            break;
        case HttpOutcome::BadFraming:
            step = {QStringLiteral("csFraming"), response.FramingError().toString(),
                    strid::kServerBadReply};
            break;
    }
    if (!step.name.isEmpty()) log.TraceValue(step.name, step.value);
    if (step.message != 0) log.ShowMessageId(step.message, LOG_ERROR);
}

}  // namespace

int CPolicyListManager::GetHttp(CPolicyList& list) {
    const QString kClass = QStringLiteral("CPolicyListManager");
    const QString kMethod = QStringLiteral("GetHttp");
    if (m_pApp == nullptr) return 0;
    CAppLog& log = m_pApp->m_clLog;
    if (net::FetchAlreadyRunning(*m_pApp, kClass, kMethod)) return 1;
    net::CNetworkUse busy(*m_pApp);

    const QString csAddress =
        m_pApp->GetProfileString(settings::Application(), settings::Address(), QString());
    log.TraceValue(QStringLiteral("csAddress"), csAddress);
    const QByteArray address = platform::ToCp932(csAddress);

    // The request is checked before anything goes on the wire.
    const QByteArray request = net::BuildHttpRequest(address);
    if (request.size() > net::kMaxHttpRequestBytes) {
        log.TraceValue(QStringLiteral("nRequestLength"), QString::number(request.size()));
        log.ShowMessageId(strid::kServerUnreachable, LOG_ERROR);
        return 0;
    }

    net::CHttpResponse response;
    const net::CHttpExchangeResult result =
        net::ExchangeHttp(address, request, m_nNetworkWaitMs, response, m_pCancel);
    if (result.outcome != net::HttpOutcome::Complete) {
        ReportFailure(log, result, response);
        return 0;
    }

    const QString csStatus = response.Status();
    if (!response.IsStatusOk()) {
        log.TraceValue(QStringLiteral("csStatus"), csStatus);
        log.ShowMessageId(strid::kServerBadReply, LOG_ERROR);
        return 0;
    }

    // Every line after the first is a row when it passes the editor's rules; blank lines are
    // nothing, any other line is left out and counted.
    const QStringList elements = response.BodyElements();
    CPolicyList rows;
    rows.reserve(std::max<qsizetype>(0, elements.size() - 1));
    {
        const CAppLog::CQuietTrace quiet;  // a row left out gets its line below
        for (qsizetype i = 1; i < elements.size(); ++i) {
            if (elements[i].trimmed().isEmpty()) continue;
            CPolicy row;
            row.SetStringHttp(elements[i]);
            rows.append(row);
        }
    }
    const qsizetype nLeftOut = DropInvalidRows(rows);
    list.append(rows);

    busy.Clear();
    net::ShowFetchOutcome(log, rows.size(), nLeftOut, QStringLiteral("GET /v6/route-info"));
    log.TraceEnd(kClass, kMethod);
    return 1;
}
