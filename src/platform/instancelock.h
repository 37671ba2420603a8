#pragma once
// Single-instance guard: a named lock held per user while the program runs. The operating
// system drops it when the process ends, crash included, and a second process can detect it.
#include <QString>

#include "platform/fd.h"

namespace platform {

class CInstanceLock {
public:
    enum class Result { Acquired, AlreadyHeld, Failed };

    CInstanceLock() = default;
    ~CInstanceLock();
    CInstanceLock(const CInstanceLock&) = delete;
    CInstanceLock& operator=(const CInstanceLock&) = delete;

    // Takes the lock named `name` for the current user. `directory` is where the lock file
    // lives; empty means DefaultDirectory(), created when missing. The folder must belong to
    // this user alone (owner, mode 0700, not a link) and the lock file must be a regular file of
    // this user's: anything planted by someone else makes the lock fail, never pass.
    Result Acquire(const QString& name, const QString& directory = {});

    // The user's private folder for the lock: $XDG_RUNTIME_DIR when it is a folder of this user
    // with mode 0700, else /tmp/corvane-<user id>.
    static QString DefaultDirectory();

    // Gives the lock back; safe to call when nothing is held.
    void Release();

    bool IsHeld() const { return m_lock.IsValid(); }
    // The system error number of the last Acquire that failed (0 otherwise).
    int LastError() const { return m_lastError; }

private:
    CFd m_lock;
    int m_lastError = 0;
};

}  // namespace platform
