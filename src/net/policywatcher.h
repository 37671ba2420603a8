#pragma once
// The receiver of the network's address-selection policy (RFC 7078): it follows the links over
// the kernel's link events, sends an Information-request on every link that is up with a usable
// link-local address (at the start, when a link comes back up, when it gains a new global
// address and when the information refresh time runs out), retransmits as RFC 8415 says, and
// installs a served policy that differs from the system's table through the same registration
// as apply. Everything it decides is logged.
#include <QList>
#include <QString>
#include <array>
#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <set>
#include <span>
#include <vector>

#include "platform/linkmonitor.h"
#include "platform/socket.h"
#include "policy/policy.h"

class CAppServices;
namespace platform {
class CCancelEvent;
}

namespace net {

class CPolicyWatcher {
public:
    struct CSettings {
        std::uint16_t code = 84;           // the policy option asked for
        std::uint32_t refreshFloorS = 600;  // IRT_MINIMUM; only tests lower it
        int rateLimitS = 60;                // one registration per link this often
        int onceWaitMs = 30000;             // --once: how long the exchanges may take
    };
    // Exit statuses, as apply's.
    static constexpr int kOk = 0;
    static constexpr int kFailed = 1;
    static constexpr int kNotRestored = 3;

    CPolicyWatcher(CAppServices& app, const platform::CCancelEvent& cancel, CSettings settings);
    // The settings file's values (section WATCH, and the option code of section DCHP).
    static CSettings ReadSettings(const CAppServices& app);

    // One exchange per link, then one decision and at most one registration.
    int RunOnce();
    // Runs until the cancel event is set; kOk, or kNotRestored when a registration failed and
    // its table could not be put back.
    int Run();

private:
    using Clock = std::chrono::steady_clock;
    using Prefix = std::array<std::uint8_t, 16>;
    struct CLink {
        QString name;
        bool up = false;
        bool multicast = false;
        std::set<Prefix> linkLocal;  // usable ones
        std::set<Prefix> global;
        // The exchange under way; none when `exchanging` is false.
        bool exchanging = false;
        std::array<std::uint8_t, 3> transactionId{};
        Clock::time_point firstSend;
        Clock::time_point nextSend;
        int rtMs = 0;
        int sends = 0;
        bool replied = false;  // a Reply came in this run (--once)
        std::optional<Clock::time_point> refreshAt;
        std::optional<Clock::time_point> lastRegistration;
        std::optional<Clock::time_point> retryAt;
        int flags = -1;
        bool hasPolicy = false;
        CPolicyList policy;
    };

    bool Start();
    bool Eligible(const CLink& link) const;
    void ApplyEvents(const std::vector<platform::CLinkEvent>& events);
    void ApplyLinkEvent(const platform::CLinkEvent& event);
    void ApplyAddressEvent(const platform::CLinkEvent& event);
    void StartExchange(int index, CLink& link, const char* reason);
    void SendDue(Clock::time_point now);
    void ReceiveWaiting();
    void TakeReply(int index, CLink& link, std::span<const std::uint8_t> bytes);
    void StartRefreshes(Clock::time_point now);
    Clock::time_point NextWake(Clock::time_point now) const;
    bool WaitOnce(Clock::time_point until);
    void ReadLinkEvents();

    // Deciding and installing (watchdecision.cpp).
    enum class EDecision { Kept, Installed, Refused, Busy, Failed, NotRestored };
    EDecision Decide(int trigger, bool rateLimited);
    bool Agreed(CPolicyList& rows, QString& names);
    EDecision Install(const CPolicyList& rows, const QString& names);
    void Log(int id, const QStringList& inserts, int kind);

    CAppServices& m_app;
    const platform::CCancelEvent& m_cancel;
    CSettings m_settings;
    platform::CSocket m_socket;
    platform::CLinkMonitor m_monitor;
    std::map<int, CLink> m_links;
    std::vector<std::uint8_t> m_buffer;
    bool m_once = false;
    bool m_notRestored = false;
};

}  // namespace net
