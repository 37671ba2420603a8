#pragma once
// Single-instance guard: a named lock held per user while the program runs. The operating
// system drops it when the process ends, crash included, and a second process can detect it.
#include <QString>

namespace platform {

class CInstanceLock {
public:
    enum class Result { Acquired, AlreadyHeld, Failed };

    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Takes the lock named `name` for the current user. `directory` is where the lock file
    // lives; empty means the user's runtime folder ($XDG_RUNTIME_DIR) or else /tmp.
    Result Acquire(const QString& name, const QString& directory = {});

    // Gives the lock back; safe to call when nothing is held.
    void Release();

    bool IsHeld() const { return m_fd >= 0; }
    // The system error number of the last Acquire that failed (0 otherwise).
    int LastError() const { return m_lastError; }

private:
    int m_fd = -1;
    int m_lastError = 0;
};

}  // namespace platform
