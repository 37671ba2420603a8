#pragma once
// Opening a file that must be a regular file, without ever blocking in open(): a FIFO or a
// device put in a file's place would otherwise stop the program before any window. Free of Qt,
// so the helper programs can use it too.
#include <sys/stat.h>
#include <sys/types.h>

namespace platform {

// Owns one descriptor; closes it on every path.
class CFileDescriptor {
public:
    CFileDescriptor() = default;
    explicit CFileDescriptor(int fd) : m_fd(fd) {}
    ~CFileDescriptor() { Close(); }
    CFileDescriptor(CFileDescriptor&& other) noexcept : m_fd(other.Release()) {}
    CFileDescriptor& operator=(CFileDescriptor&& other) noexcept;
    CFileDescriptor(const CFileDescriptor&) = delete;
    CFileDescriptor& operator=(const CFileDescriptor&) = delete;

    int Get() const { return m_fd; }
    bool IsValid() const { return m_fd >= 0; }
    // Hands the descriptor over to a new owner.
    int Release() {
        const int fd = m_fd;
        m_fd = -1;
        return fd;
    }
    // Closes now; false when close() reports an error (data may not have been written).
    bool Close();

private:
    int m_fd = -1;
};

// Opens `path` with `flags` (plus O_NONBLOCK, O_CLOEXEC and O_NOCTTY) and `mode` for a file it
// creates, checks on the opened descriptor that it is a regular file (a link to one counts),
// then makes the descriptor blocking again. Anything else is closed at once and refused with
// errno EISDIR for a folder, ENXIO for a FIFO, socket or device; an open that fails keeps the
// error of open() (a FIFO without reader opened for writing gives ENXIO too). `info`, when
// given, receives the status of the opened file.
CFileDescriptor OpenRegularFile(const char* path, int flags, mode_t mode = 0666,
                                struct stat* info = nullptr);

}  // namespace platform
