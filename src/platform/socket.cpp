#include "platform/socket.h"

#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>

namespace platform {

CSocket& CSocket::operator=(CSocket&& other) noexcept {
    if (this != &other) {
        Close();
        m_fd = other.m_fd;
        other.m_fd = -1;
    }
    return *this;
}

bool CSocket::Open(int family, int type, int protocol) {
    Close();
    m_fd = ::socket(family, type | SOCK_CLOEXEC, protocol);
    return m_fd >= 0;
}

void CSocket::Close() {
    if (m_fd < 0) return;
    const int saved = errno;
    ::close(m_fd);
    m_fd = -1;
    errno = saved;
}

int CAddrInfo::Resolve(const char* node, const char* service, const addrinfo& hints) {
    Free();
    return ::getaddrinfo(node, service, &hints, &m_result);
}

void CAddrInfo::Free() {
    if (m_result == nullptr) return;
    ::freeaddrinfo(m_result);
    m_result = nullptr;
}

int ResolverErrorNumber(int getaddrinfoResult) {
    if (getaddrinfoResult == EAI_SYSTEM) return errno;
    return getaddrinfoResult;
}

}  // namespace platform
