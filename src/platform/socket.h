#pragma once
// Sockets of the network exchanges: the resolver's addresses, and one socket owner with the
// operations the exchanges need, each waiting no longer than a deadline. Addresses are held as
// bytes of our own and failures come back as error numbers, so callers need no system header.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "platform/deadline.h"
#include "platform/fd.h"

namespace platform {

enum class ESocketType { Stream, Datagram };
enum class EAddressFamily { Any, Ipv6 };

// One address as the resolver gave it, with the family, type and protocol (the system's values)
// of a socket that uses it.
struct CSocketAddress {
    static constexpr std::size_t kMaxBytes = 128;
    int family = 0;
    int type = 0;
    int protocol = 0;
    std::uint32_t length = 0;
    alignas(8) unsigned char bytes[kMaxBytes]{};
};

// Resolves `node` and `port` for sockets of `type`; a null node is the unspecified address, to
// bind to. Fills `addresses` in the resolver's order and returns 0, or returns the error number:
// errno for a system error, else the resolver's own code. A success may in theory bring no
// address at all; callers take that as a failure with error 0.
int ResolveAddresses(const char* node, std::uint16_t port, EAddressFamily family, ESocketType type,
                     std::vector<CSocketAddress>& addresses);

// How a send or a receive ended.
enum class EIo {
    Done,        // `bytes` moved; a receive of 0 bytes on a stream is the peer's close
    TimedOut,    // the deadline passed first
    WaitFailed,  // the wait itself failed; error: errno
    Cancelled,   // the cancel event was set during the wait
    Failed,      // the call failed; error: errno (0 for a send that moved nothing)
};

struct CIoResult {
    EIo status = EIo::Done;
    int error = 0;
    std::size_t bytes = 0;
};

// Owns one socket. Operations that return int give 0 or the error number.
class CSocket {
public:
    CSocket() = default;

    // Creates a socket of the system's family, type and protocol values; false (errno set) on
    // failure. A socket held before is closed first.
    bool Open(int family, int type, int protocol);
    // Creates a socket for `address`.
    int OpenFor(const CSocketAddress& address);
    // Closes the socket; safe to call when nothing is held. errno is left as it was.
    void Close() { m_fd.Reset(); }

    int Get() const { return m_fd.Get(); }
    bool IsValid() const { return m_fd.IsValid(); }

    // Turns address and port sharing off, so that a bind fails while another socket holds the
    // port and no other socket can join this one's.
    int SetExclusivePort();
    int Bind(const CSocketAddress& address);
    // Connects by the deadline (ETIMEDOUT when it passes), so that an unreachable server is
    // reported within the exchange's wait instead of the kernel's much longer connect time-out.
    // The socket is left non-blocking: every later wait is against a deadline.
    int ConnectBy(const CSocketAddress& address, const CDeadline& deadline,
                  const CCancelEvent* cancel = nullptr);

    // Sends all of `data` on a connection; a send that stops short is continued within the
    // deadline. A peer that has gone away gives an error, never a signal.
    CIoResult SendBy(const void* data, std::size_t size, const CDeadline& deadline,
                     const CCancelEvent* cancel = nullptr);
    // Sends one datagram to `to`.
    CIoResult SendTo(const CSocketAddress& to, const void* data, std::size_t size);
    // Waits by the deadline for something to read, then takes what is there (one datagram, or
    // up to `size` bytes of a stream) without blocking.
    CIoResult ReceiveBy(void* buffer, std::size_t size, const CDeadline& deadline,
                        const CCancelEvent* cancel = nullptr);

    // Asks the system to tell, with each datagram received, the interface it came in on.
    int SetReceiveInterface();
    // Takes one datagram that is waiting, without blocking (TimedOut when none is), and the
    // index of the interface it came in on (0 when the system did not say).
    CIoResult ReceiveNow(void* buffer, std::size_t size, int* interfaceIndex);

private:
    CFd m_fd;
};

}  // namespace platform
