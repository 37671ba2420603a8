// CPolicyWatcher: what to do with the policies the links gave, and the registration.
//
// The policy table is the node's, not a link's (RFC 7078 section 3.3), and how to merge the
// policies of several links is left to the node; this one takes the conservative way: it
// installs a policy only while every link that gave one gave the same, and keeps the table as
// it is when they differ. A Reply without the option keeps the table too (the policy a server
// gave before is not taken back on its silence; the administrator restores the defaults).
#include <algorithm>
#include <tuple>

#include "net/policywatcher.h"
#include "platform/cancelevent.h"
#include "platform/instancelock.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/appservices.h"

namespace net {
namespace {

using Row = std::tuple<std::array<std::uint8_t, 16>, int, int, int>;

// The rows as the kernel and glibc see them: prefix bytes, length, precedence and label, in
// order, so that the same table written differently compares equal.
std::vector<Row> Normalized(const CPolicyList& rows) {
    std::vector<Row> out;
    for (const CPolicy& row : rows) {
        IPv6Bytes prefix{};
        row.GetPrefix(prefix);
        out.emplace_back(prefix, row.GetPrefixLen(), row.m_csPriority.toInt(), row.m_csLabel.toInt());
    }
    std::sort(out.begin(), out.end());
    return out;
}

}  // namespace

void CPolicyWatcher::Log(int id, const QStringList& inserts, int kind) {
    m_app.m_clLog.ShowMessageFormat(inserts, id, kind);
}

// The policy every link that gave one agrees on, in `rows`, with those links' names. False,
// logged, when they differ or none gave one.
bool CPolicyWatcher::Agreed(CPolicyList& rows, QString& names) {
    std::optional<std::vector<Row>> first;
    QStringList all;
    bool differ = false;
    for (const auto& [index, link] : m_links) {
        if (!link.hasPolicy || !link.up) continue;
        all << link.name;
        const std::vector<Row> normalized = Normalized(link.policy);
        if (!first) {
            first = normalized;
            rows = link.policy;
        } else if (*first != normalized) {
            differ = true;
        }
    }
    names = all.join(QStringLiteral(", "));
    if (differ) Log(strid::kWatchConflict, {names}, LOG_WARN);
    return first.has_value() && !differ;
}

// `trigger`: the link whose Reply or retry asks for this decision (its rate limit counts), or
// -1 for --once.
CPolicyWatcher::EDecision CPolicyWatcher::Decide(int trigger, bool rateLimited) {
    CPolicyList rows;
    QString names;
    if (!Agreed(rows, names)) return EDecision::Refused;
    CPolicyListManager manager;
    manager.m_pApp = &m_app;
    CPolicyList plan;
    CPolicyList current;
    if (manager.PlanPolicy(rows, plan) == 0 || manager.GetCurrent(current) == 0)
        return EDecision::Failed;
    if (Normalized(plan) == Normalized(current)) {
        Log(strid::kWatchKept, {names}, LOG_INFO);
        return EDecision::Kept;
    }
    const auto now = Clock::now();
    if (rateLimited && trigger >= 0) {
        CLink& link = m_links[trigger];
        const auto window = std::chrono::seconds(m_settings.rateLimitS);
        if (link.lastRegistration && now - *link.lastRegistration < window) {
            Log(strid::kWatchRateLimited, {names, QString::number(m_settings.rateLimitS)}, LOG_WARN);
            link.retryAt = *link.lastRegistration + window;
            return EDecision::Refused;
        }
    }
    const EDecision result = Install(rows, names);
    if (trigger >= 0 && result == EDecision::Busy)
        m_links[trigger].retryAt = now + std::chrono::seconds(m_settings.rateLimitS);
    else if (trigger >= 0 && rateLimited)
        m_links[trigger].lastRegistration = now;
    return result;
}

CPolicyWatcher::EDecision CPolicyWatcher::Install(const CPolicyList& rows, const QString& names) {
    CPolicyListManager manager;
    manager.m_pApp = &m_app;
    // A stop signal during the registration ends it after the command under way and puts the
    // previous table back: the table is the old one or the new one, never a mix.
    manager.m_pCancel = &m_cancel;
    // The single-instance guard of the editor and of the other commands, held for the
    // registration alone: while one of them runs, the table is left to it.
    platform::CInstanceLock guard;
    if (guard.Acquire(QStringLiteral("zarntool")) != platform::CInstanceLock::Result::Acquired) {
        Log(strid::kWatchBusy, {names}, LOG_WARN);
        return EDecision::Busy;
    }
    CPolicyListManager::ERestore restore = CPolicyListManager::ERestore::NotNeeded;
    if (manager.RegisterPolicy(rows, &restore) == 0) {
        m_app.m_clLog.TraceValue(QStringLiteral("RegisterPolicy"), QStringLiteral("FALSE"));
        if (restore == CPolicyListManager::ERestore::NotRestored) {
            m_notRestored = true;
            return EDecision::NotRestored;
        }
        return EDecision::Failed;
    }
    Log(strid::kWatchInstalled, {names, QString::number(rows.size())}, LOG_INFO);
    return EDecision::Installed;
}

}  // namespace net
