#pragma once
// Process-wide start of the socket library, done once at start-up before any socket is used.

namespace platform {

// Prepares the process for sockets. On POSIX there is no library to start; a write to a
// connection the peer has closed must still come back as an error (as it does on Windows)
// instead of ending the process with SIGPIPE, so SIGPIPE is ignored. True on success.
bool StartSocketLibrary();

}  // namespace platform
