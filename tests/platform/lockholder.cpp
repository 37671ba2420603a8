// Test helper: takes the single-instance lock in a process of its own.
//   lockholder <folder> <name>
// Prints "acquired", "held" or "failed" on a line; after "acquired" it keeps the lock until its
// standard input closes (or it is killed).
#include <unistd.h>

#include <QString>
#include <cstdio>

#include "platform/instancelock.h"

int main(int argc, char** argv) {
    if (argc != 3) return 2;
    platform::CInstanceLock lock;
    const auto result =
        lock.Acquire(QString::fromLocal8Bit(argv[2]), QString::fromLocal8Bit(argv[1]));
    const char* word = result == platform::CInstanceLock::Result::Acquired      ? "acquired"
                       : result == platform::CInstanceLock::Result::AlreadyHeld ? "held"
                                                                                : "failed";
    std::printf("%s\n", word);
    std::fflush(stdout);
    if (result != platform::CInstanceLock::Result::Acquired) return 1;
    char buffer[64];
    while (::read(STDIN_FILENO, buffer, sizeof buffer) > 0) {
    }
    return 0;
}
