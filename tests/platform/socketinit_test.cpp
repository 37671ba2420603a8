#include "platform/socketinit.h"

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

// After the start, writing to a connection whose peer has gone is an error the caller sees,
// not a signal that ends the process.
TEST(SocketLibrary, StartMakesWritesToAClosedPeerAnError) {
    ASSERT_TRUE(platform::StartSocketLibrary());
    ASSERT_TRUE(platform::StartSocketLibrary());  // starting twice is harmless
    struct sigaction current {};
    ASSERT_EQ(::sigaction(SIGPIPE, nullptr, &current), 0);
    EXPECT_EQ(current.sa_handler, SIG_IGN);

    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    ::close(fds[1]);
    const char byte = 'x';
    errno = 0;
    EXPECT_EQ(::write(fds[0], &byte, 1), -1);
    EXPECT_EQ(errno, EPIPE);
    ::close(fds[0]);
}
