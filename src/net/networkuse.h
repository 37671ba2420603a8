#pragma once
// Marks a network fetch as running for its whole duration: sets the application's
// m_bNetworkUse on construction and clears it on every way out.
#include "services/appservices.h"
#include "resids.h"

namespace net {

class CNetworkUse {
public:
    explicit CNetworkUse(CAppServices& app) : m_app(app) { m_app.m_bNetworkUse = true; }
    ~CNetworkUse() { Clear(); }
    CNetworkUse(const CNetworkUse&) = delete;
    CNetworkUse& operator=(const CNetworkUse&) = delete;

    void Clear() { m_app.m_bNetworkUse = false; }

private:
    CAppServices& m_app;
};

// Start of a network fetch: writes the start trace and the busy flag's value. True when a fetch
// already runs; the end trace has then been written and the caller returns 1 at once.
inline bool FetchAlreadyRunning(CAppServices& app, const QString& className,
                                const QString& methodName) {
    CAppLog& log = app.m_clLog;
    log.TraceStart(className, methodName);
    if (app.m_bNetworkUse) {
        log.TraceValue(QStringLiteral("m_bNetworkUse"), QStringLiteral("TRUE"));
        log.TraceEnd(className, methodName);
        return true;
    }
    log.TraceValue(QStringLiteral("m_bNetworkUse"), QStringLiteral("FALSE"));
    return false;
}

// End of a fetch whose answer arrived: a word to the user when it brought nothing usable. No
// valid row gives message 524 naming what was asked for (`asked`), alone, since rows left out
// were all there was (their number goes to the trace); some valid rows and some left out give
// message 518 with the number left out.
inline void ShowFetchOutcome(CAppLog& log, qsizetype nKept, qsizetype nLeftOut,
                             const QString& asked) {
    if (nKept == 0) {
        log.TraceValue(QStringLiteral("nLeftOut"), QString::number(nLeftOut));
        log.ShowMessageFormat({asked}, strid::kFetchNoValidRow, LOG_WARN);
    } else if (nLeftOut > 0) {
        log.ShowMessageFormat({QString::number(nLeftOut)}, strid::kFetchedRowsLeftOut, LOG_WARN);
    }
}

}  // namespace net
