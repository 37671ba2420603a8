#pragma once
// The one owner of an operating-system descriptor (a file, a socket, a pipe end): it closes what
// it holds when it goes out of scope, on every path. Free of Qt, so the helper programs can use it.

namespace platform {

class CFd {
public:
    CFd() = default;
    explicit CFd(int fd) noexcept : m_fd(fd) {}
    // Closes what is held; errno is left as it was, so an error read after a failed call survives
    // the clean-up on the way out.
    ~CFd() { Reset(); }
    CFd(CFd&& other) noexcept : m_fd(other.Release()) {}
    CFd& operator=(CFd&& other) noexcept;
    CFd(const CFd&) = delete;
    CFd& operator=(const CFd&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    // Hands the descriptor over to a new owner.
    int Release() noexcept {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes what is held (errno kept) and takes `fd` instead.
    void Reset(int fd = -1) noexcept;
    // Closes now; false, with errno set, when close() reports an error (data may not have been
    // written). Not retried on EINTR: the descriptor is released either way on Linux. True when
    // nothing is held.
    bool Close() noexcept;

private:
    int m_fd = -1;
};

}  // namespace platform
