// CPolicyWatcher: the links, the exchanges and the wait. Deciding and installing are in
// watchdecision.cpp.
#include "net/policywatcher.h"

#include <QRandomGenerator>
#include <algorithm>

#include "net/dhcpexchange.h"
#include "net/watchtiming.h"
#include "platform/cancelevent.h"
#include "policy/policylistmanager.h"
#include "resids.h"
#include "services/appservices.h"
#include "services/settingskeys.h"

namespace net {
namespace {

constexpr std::uint16_t kClientPort = 546;
constexpr std::uint16_t kServerPort = 547;
constexpr std::uint16_t kRefreshTimeCode = 32;
constexpr std::size_t kReceiveBuffer = 65536;
// Datagrams taken per wake-up before the timers are looked at again: a flood cannot hold the
// loop, and each datagram costs at most one read of the buffer.
constexpr int kDatagramsPerWake = 64;

double Rand() { return QRandomGenerator::global()->bounded(0.2) - 0.1; }

}  // namespace

CPolicyWatcher::CPolicyWatcher(CAppServices& app, const platform::CCancelEvent& cancel,
                               CSettings settings)
    : m_app(app), m_cancel(cancel), m_settings(settings), m_buffer(kReceiveBuffer) {}

CPolicyWatcher::CSettings CPolicyWatcher::ReadSettings(const CAppServices& app) {
    CSettings s;
    const int code = app.GetProfileInt(settings::DhcpOption(), settings::OptionCode(), 84);
    s.code = std::uint16_t(code >= 1 && code <= 65535 ? code : 84);
    s.refreshFloorS = std::uint32_t(std::clamp(
        app.GetProfileInt(settings::Watch(), settings::RefreshFloor(), 600), 1, 600));
    s.rateLimitS = std::clamp(app.GetProfileInt(settings::Watch(), settings::RateLimit(), 60), 1, 60);
    s.onceWaitMs =
        std::clamp(app.GetProfileInt(settings::Watch(), settings::OnceWait(), 30), 1, 3600) * 1000;
    return s;
}

// The client port for every link: the link a datagram came in on is told with it.
bool CPolicyWatcher::Start() {
    using platform::EAddressFamily;
    using platform::ESocketType;
    std::vector<platform::CSocketAddress> local;
    int error = platform::ResolveAddresses(nullptr, kClientPort, EAddressFamily::Ipv6,
                                           ESocketType::Datagram, local);
    if (error == 0 && local.empty()) error = EINVAL;
    if (error == 0) error = m_socket.OpenFor(local.front());
    if (error == 0) error = m_socket.SetExclusivePort();
    if (error == 0) error = m_socket.Bind(local.front());
    if (error == 0) error = m_socket.SetReceiveInterface();
    if (error != 0) {
        Log(strid::kWatchSocketFailed, {QString::number(error)}, LOG_ERROR);
        return false;
    }
    std::vector<platform::CLinkEvent> events;
    if ((error = m_monitor.Open(events)) != 0) {
        Log(strid::kWatchMonitorFailed, {QString::number(error)}, LOG_ERROR);
        return false;
    }
    Log(strid::kWatchStarted, {QString::number(m_settings.code)}, LOG_INFO);
    ApplyEvents(events);
    return true;
}

bool CPolicyWatcher::Eligible(const CLink& link) const {
    return link.up && link.multicast && !link.linkLocal.empty();
}

void CPolicyWatcher::ApplyEvents(const std::vector<platform::CLinkEvent>& events) {
    for (const platform::CLinkEvent& event : events) {
        using EKind = platform::CLinkEvent::EKind;
        if (event.kind == EKind::LinkGone) {
            m_links.erase(event.index);
        } else if (event.kind == EKind::Link) {
            ApplyLinkEvent(event);
        } else {
            ApplyAddressEvent(event);
        }
    }
}

void CPolicyWatcher::ApplyLinkEvent(const platform::CLinkEvent& event) {
    CLink& link = m_links[event.index];
    const bool wasEligible = Eligible(link);
    if (!event.name.empty()) link.name = QString::fromStdString(event.name);
    link.up = event.up;
    link.multicast = event.multicast;
    if (!link.up) {
        link.exchanging = false;
        link.hasPolicy = false;  // a link that went down says nothing about the network now
    }
    if (!wasEligible && Eligible(link)) StartExchange(event.index, link, "link up");
}

void CPolicyWatcher::ApplyAddressEvent(const platform::CLinkEvent& event) {
    CLink& link = m_links[event.index];
    const bool wasEligible = Eligible(link);
    const bool added = event.kind == platform::CLinkEvent::EKind::AddressAdded;
    std::set<Prefix>& set = event.linkLocal ? link.linkLocal : link.global;
    bool newGlobal = false;
    if (added && (event.usable || !event.linkLocal))
        newGlobal = set.insert(event.address).second && !event.linkLocal;
    else
        set.erase(event.address);
    if (!wasEligible && Eligible(link))
        StartExchange(event.index, link, "link-local address");
    else if (newGlobal && Eligible(link))
        StartExchange(event.index, link, "new global address");
}

// A new transaction: the first send after a random delay of up to INF_MAX_DELAY (RFC 8415
// section 18.2.6), the same transaction id for every retransmission (section 15).
void CPolicyWatcher::StartExchange(int index, CLink& link, const char* reason) {
    if (m_once && link.replied) return;
    const auto now = Clock::now();
    const quint32 id = QRandomGenerator::global()->bounded(1u << 24);
    link.transactionId = {std::uint8_t(id >> 16), std::uint8_t(id >> 8), std::uint8_t(id)};
    link.exchanging = true;
    link.rtMs = 0;
    link.sends = 0;
    link.firstSend = now;
    link.nextSend = now + std::chrono::milliseconds(
                              QRandomGenerator::global()->bounded(watch::kInfMaxDelayMs + 1));
    link.refreshAt.reset();
    m_app.m_clLog.TraceValue(QStringLiteral("ifindex"), QString::number(index));
    Log(strid::kWatchExchange, {link.name, QString::fromLatin1(reason)}, LOG_DEBUG);
}

void CPolicyWatcher::SendDue(Clock::time_point now) {
    for (auto& [index, link] : m_links) {
        if (!link.exchanging || link.nextSend > now || !Eligible(link)) continue;
        if (link.sends == 0) link.firstSend = now;
        const auto elapsedMs =
            std::chrono::duration_cast<std::chrono::milliseconds>(now - link.firstSend).count();
        const auto elapsed = std::uint16_t(std::min<long long>(elapsedMs / 10, 0xffff));
        const QByteArray packet = InformationRequest(
            link.transactionId, {m_settings.code, kRefreshTimeCode}, link.sends == 0 ? 0 : elapsed);
        std::vector<platform::CSocketAddress> server;
        const QByteArray node = "ff02::1:2%" + link.name.toUtf8();
        int error = platform::ResolveAddresses(node.constData(), kServerPort,
                                               platform::EAddressFamily::Ipv6,
                                               platform::ESocketType::Datagram, server);
        if (error == 0 && !server.empty()) {
            const auto sent = m_socket.SendTo(server.front(), packet.constData(),
                                              std::size_t(packet.size()));
            error = sent.status == platform::EIo::Done ? 0 : sent.error;
        }
        m_app.m_clLog.TraceValue(QStringLiteral("sendto ") + link.name, QString::number(error));
        ++link.sends;
        link.rtMs = watch::NextRetransmitMs(link.rtMs, Rand());
        link.nextSend = now + std::chrono::milliseconds(link.rtMs);
    }
}

// Takes the datagrams waiting. Only a Reply with the transaction id of the exchange under way
// on the link it came in on is read; anything else costs the 4-byte look and is passed over.
void CPolicyWatcher::ReceiveWaiting() {
    int passed = 0;
    for (int i = 0; i < kDatagramsPerWake; ++i) {
        int index = 0;
        const platform::CIoResult got = m_socket.ReceiveNow(m_buffer.data(), m_buffer.size(), &index);
        if (got.status != platform::EIo::Done) break;
        const auto it = m_links.find(index);
        if (got.bytes < 4 || got.bytes > m_buffer.size() || it == m_links.end() ||
            !it->second.exchanging ||
            !std::equal(it->second.transactionId.begin(), it->second.transactionId.end(),
                        m_buffer.begin() + 1)) {
            ++passed;
            continue;
        }
        TakeReply(index, it->second, std::span<const std::uint8_t>(m_buffer.data(), got.bytes));
    }
    // One line for all that was passed over, so that a flood cannot fill the log.
    if (passed > 0)
        m_app.m_clLog.TraceValue(QStringLiteral("bTransactionId=FALSE"), QString::number(passed));
}

void CPolicyWatcher::TakeReply(int index, CLink& link, std::span<const std::uint8_t> bytes) {
    CPolicyReply reply = ReadPolicyReply(bytes, m_settings.code);
    if (!reply.reply) return;  // not a Reply: the exchange goes on
    link.exchanging = false;
    link.replied = true;
    const std::uint32_t refresh = watch::RefreshSeconds(reply.refreshTime, m_settings.refreshFloorS);
    if (refresh != watch::kInfinity)
        link.refreshAt = Clock::now() + std::chrono::seconds(refresh);
    Log(strid::kWatchNextRefresh, {link.name, QString::number(refresh)}, LOG_DEBUG);
    if (!reply.found) {
        link.hasPolicy = false;
        Log(strid::kWatchNoOption, {link.name}, LOG_INFO);
        return;
    }
    if (reply.flags >= 0 && reply.flags != link.flags) {
        const auto onOff = [](bool on) { return on ? QStringLiteral("1") : QStringLiteral("0"); };
        Log(strid::kWatchFlags, {link.name, onOff(reply.flags & 0x02), onOff(reply.flags & 0x01)},
            LOG_WARN);
    }
    link.flags = reply.flags;
    CPolicyListManager manager;
    manager.m_pApp = &m_app;
    const qsizetype before = reply.rows.size();
    if (!reply.wellFormed || manager.DropInvalidRows(reply.rows) > 0 || before == 0) {
        link.hasPolicy = false;
        Log(strid::kWatchInvalidPolicy, {link.name}, LOG_WARN);
        return;
    }
    for (CPolicy& row : reply.rows) row.m_bDisabled = false;
    link.policy = reply.rows;
    link.hasPolicy = true;
    if (!m_once) Decide(index, true);
}

void CPolicyWatcher::StartRefreshes(Clock::time_point now) {
    for (auto& [index, link] : m_links) {
        if (link.refreshAt && *link.refreshAt <= now && Eligible(link) && !link.exchanging)
            StartExchange(index, link, "refresh time");
        if (link.retryAt && *link.retryAt <= now) {
            link.retryAt.reset();
            if (link.hasPolicy) Decide(index, true);
        }
    }
}

CPolicyWatcher::Clock::time_point CPolicyWatcher::NextWake(Clock::time_point now) const {
    auto wake = now + std::chrono::hours(1);
    for (const auto& [index, link] : m_links) {
        if (link.exchanging) wake = std::min(wake, link.nextSend);
        if (link.refreshAt) wake = std::min(wake, *link.refreshAt);
        if (link.retryAt) wake = std::min(wake, *link.retryAt);
    }
    return std::max(wake, now);
}

void CPolicyWatcher::ReadLinkEvents() {
    std::vector<platform::CLinkEvent> events;
    const int error = m_monitor.Read(events);
    ApplyEvents(events);
    if (error == 0) return;
    // Changes were lost: everything is listed again, and a link seen anew starts over.
    m_app.m_clLog.TraceValue(QStringLiteral("netlink"), QString::number(error));
    events.clear();
    if (m_monitor.Open(events) != 0) return;
    for (auto& [index, link] : m_links) {
        link.up = false;
        link.linkLocal.clear();
        link.global.clear();
    }
    ApplyEvents(events);
}

// Sends what is due and waits until the next timer, a datagram or a link event. False when
// the cancel event ended the wait.
bool CPolicyWatcher::WaitOnce(Clock::time_point until) {
    const auto now = Clock::now();
    StartRefreshes(now);
    SendDue(now);
    const auto wake = std::min(NextWake(now), until);
    const auto ms = std::chrono::ceil<std::chrono::milliseconds>(wake - Clock::now()).count();
    const int fds[] = {m_socket.Get(), m_monitor.Fd()};
    const int ready = platform::WaitReadable(fds, 2, platform::CDeadline(int(std::max<long long>(ms, 0))),
                                             &m_cancel);
    if (ready == platform::kWaitCancelled || m_cancel.IsSet()) return false;
    if (ready > 0 && (ready & 1)) ReceiveWaiting();
    if (ready > 0 && (ready & 2)) ReadLinkEvents();
    return true;
}

int CPolicyWatcher::Run() {
    if (!Start()) return kFailed;
    while (WaitOnce(Clock::now() + std::chrono::hours(1))) {
    }
    Log(strid::kWatchStopped, {}, LOG_INFO);
    return m_notRestored ? kNotRestored : kOk;
}

int CPolicyWatcher::RunOnce() {
    m_once = true;
    if (!Start()) return kFailed;
    const auto until = Clock::now() + std::chrono::milliseconds(m_settings.onceWaitMs);
    const auto pending = [this] {
        bool any = false;
        for (const auto& [index, link] : m_links) {
            if (link.exchanging && Eligible(link)) return true;
            any = any || link.replied;
        }
        return !any;  // nothing answered yet: a link may still come up
    };
    while (Clock::now() < until && pending()) {
        if (!WaitOnce(until)) return kFailed;
    }
    bool replied = false;
    bool eligible = false;
    for (const auto& [index, link] : m_links) {
        replied = replied || link.replied;
        eligible = eligible || Eligible(link);
    }
    if (!replied) {
        Log(eligible ? strid::kWatchNoReply : strid::kWatchNoLink, {}, LOG_ERROR);
        return kFailed;
    }
    switch (Decide(-1, false)) {
    case EDecision::Kept:
    case EDecision::Installed: return kOk;
    case EDecision::NotRestored: return kNotRestored;
    default: return kFailed;
    }
}

}  // namespace net
