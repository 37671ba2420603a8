#pragma once
// Owners for the socket resources of one network exchange: a socket descriptor and a resolver
// result. Each releases what it holds when it goes out of scope, on every path.
#include <netdb.h>

namespace platform {

class CSocket {
public:
    CSocket() = default;
    explicit CSocket(int fd) : m_fd(fd) {}
    ~CSocket() { Close(); }
    CSocket(const CSocket&) = delete;
    CSocket& operator=(const CSocket&) = delete;
    CSocket(CSocket&& other) noexcept : m_fd(other.m_fd) { other.m_fd = -1; }
    CSocket& operator=(CSocket&& other) noexcept;

    // Creates a socket; false (errno set) on failure. A socket held before is closed first.
    bool Open(int family, int type, int protocol);
    // Closes the socket; safe to call when nothing is held. errno is left as it was.
    void Close();

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }

private:
    int m_fd = -1;
};

class CAddrInfo {
public:
    CAddrInfo() = default;
    ~CAddrInfo() { Free(); }
    CAddrInfo(const CAddrInfo&) = delete;
    CAddrInfo& operator=(const CAddrInfo&) = delete;

    // Resolves node (may be null) and service with the hints; returns getaddrinfo's result
    // (0 on success). A result held before is freed first.
    int Resolve(const char* node, const char* service, const addrinfo& hints);
    // Frees the result; safe to call when nothing is held.
    void Free();

    const addrinfo* First() const { return m_result; }

private:
    addrinfo* m_result = nullptr;
};

// The error number to report for a failed getaddrinfo: errno for a system error, else the
// resolver's own code.
int ResolverErrorNumber(int getaddrinfoResult);

}  // namespace platform
