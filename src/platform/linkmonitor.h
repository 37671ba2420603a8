#pragma once
// The links and IPv6 addresses of the machine as the kernel reports them over rtnetlink: one
// listing at the start, then every change (a link up or down, an address added or removed) as
// it happens. The watcher of the network's policy decides from these when to ask a server.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/fd.h"

namespace platform {

struct CLinkEvent {
    enum class EKind { Link, LinkGone, AddressAdded, AddressRemoved };
    EKind kind = EKind::Link;
    int index = 0;          // the interface's index
    std::string name;       // Link: the interface's name
    bool up = false;        // Link: administratively up with a carrier
    bool multicast = false; // Link: a link that can reach the servers' multicast address
    std::array<std::uint8_t, 16> address{};  // Address*: the IPv6 address
    bool linkLocal = false;  // Address*: fe80::/10
    bool usable = false;     // Address*: past duplicate address detection
};

class CLinkMonitor {
public:
    // Subscribes to link and IPv6 address changes, then lists every link and address now
    // present into `events` (the changes that happen meanwhile come after them, in order).
    // 0, or the error number.
    int Open(std::vector<CLinkEvent>& events);
    // Readable when changes are waiting; waits take it through platform::WaitReady.
    int Fd() const { return m_fd.Get(); }
    // Takes every change waiting, without blocking. ENOBUFS when the kernel dropped some
    // (too many at once): the caller reopens the monitor to list everything again.
    int Read(std::vector<CLinkEvent>& events);

private:
    int Dump(int type, std::vector<CLinkEvent>& events);
    CFd m_fd;
    std::uint32_t m_seq = 0;
};

}  // namespace platform
