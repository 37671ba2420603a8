// CPolicyListManager::GetHttp: rows from the HTTP policy server.
#include "services/appservices.h"
#include "net/httpexchange.h"
#include "net/networkuse.h"
#include "platform/codepage.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/settingskeys.h"

int CPolicyListManager::GetHttp(CPolicyList& list) {
    const QString kClass = QStringLiteral("CPolicyListManager");
    const QString kMethod = QStringLiteral("GetHttp");
    if (m_pApp == nullptr) return 0;
    CAppLog& log = m_pApp->m_clLog;
    if (net::FetchAlreadyRunning(*m_pApp, kClass, kMethod)) return 1;
    net::CNetworkUse busy(*m_pApp);

    const QString csAddress = m_pApp->GetProfileString(settings::Application(),
                                                       settings::Address(), QString());
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
    const QString error = QString::number(result.error);
    switch (result.outcome) {
        case net::HttpOutcome::Complete:
            break;
        case net::HttpOutcome::ResolveFailed:
            log.TraceValue(QStringLiteral("getaddrinfo"), error);
            log.ShowMessageId(strid::kServerUnreachable, LOG_ERROR);
            return 0;
        case net::HttpOutcome::SocketFailed:
            log.TraceValue(QStringLiteral("socket"), error);
            log.ShowMessageId(strid::kServerUnreachable, LOG_ERROR);
            return 0;
        case net::HttpOutcome::ConnectFailed:
            log.TraceValue(QStringLiteral("connect"), error);
            log.ShowMessageId(strid::kServerUnreachable, LOG_ERROR);
            return 0;
        case net::HttpOutcome::SendFailed:
            log.TraceValue(QStringLiteral("send"), error);
            log.ShowMessageId(strid::kServerUnreachable, LOG_ERROR);
            return 0;
        case net::HttpOutcome::TimedOut:
            log.ShowMessageId(strid::kServerSilent, LOG_ERROR);
            return 0;
        case net::HttpOutcome::WaitFailed:
            log.TraceValue(QStringLiteral("poll"), error);
            log.ShowMessageId(strid::kServerSilent, LOG_ERROR);
            return 0;
        case net::HttpOutcome::ReceiveFailed:
            log.TraceValue(QStringLiteral("recv"), error);
            log.ShowMessageId(strid::kServerBadReply, LOG_ERROR);
            return 0;
        case net::HttpOutcome::ClosedEarly:
            log.TraceValue(QStringLiteral("nTotal"), QString::number(response.Total()));
            log.ShowMessageId(strid::kServerBadReply, LOG_ERROR);
            return 0;
        case net::HttpOutcome::TooLarge:
            log.TraceValue(QStringLiteral("nTotal"),
                           QStringLiteral(">") + QString::number(net::kMaxHttpResponseBytes));
            log.ShowMessageId(strid::kServerBadReply, LOG_ERROR);
            return 0;
        case net::HttpOutcome::Cancelled:
            log.TraceValue(QStringLiteral("bCancel"), QStringLiteral("TRUE"));
            return 0;
        case net::HttpOutcome::BadFraming:
            log.TraceValue(QStringLiteral("csFraming"), response.FramingError().toString());
            log.ShowMessageId(strid::kServerBadReply, LOG_ERROR);
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
    for (qsizetype i = 1; i < elements.size(); ++i) {
        if (elements[i].trimmed().isEmpty()) continue;
        CPolicy row;
        row.SetStringHttp(elements[i]);
        rows.append(row);
    }
    const qsizetype nLeftOut = DropInvalidRows(rows);
    list.append(rows);

    busy.Clear();
    net::ShowFetchOutcome(log, rows.size(), nLeftOut, QStringLiteral("GET /v6/route-info"));
    log.TraceEnd(kClass, kMethod);
    return 1;
}
