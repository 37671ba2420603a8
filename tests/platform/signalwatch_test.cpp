// The signal watch with the kernel's own delivery: each stop signal sets the cancel event at
// once and is noted first-come; later ones change nothing; the handling before comes back when
// the watch ends, and a signal ignored before stays ignored throughout.
#include <gtest/gtest.h>

#include <signal.h>

#include <atomic>

#include "platform/cancelevent.h"
#include "platform/deadline.h"
#include "platform/signalwatch.h"

namespace {

// The handler a signal has now.
void (*Handler(int signal))(int) {
    struct sigaction now {};
    sigaction(signal, nullptr, &now);
    return now.sa_handler;
}

// Waits for the event the way a fetch does; true once it is set.
bool WaitSet(const platform::CCancelEvent& cancel) {
    const platform::CDeadline deadline(5000);
    while (!cancel.IsSet() && deadline.RemainingMs() > 0)
        platform::WaitReady(cancel.Fd(), platform::EReady::Read, deadline);
    return cancel.IsSet();
}

}  // namespace

TEST(SignalWatch, TheFirstStopSignalCancelsAndLaterOnesChangeNothing) {
    const struct {
        int first;
        int second;
        const char* name;
    } kCases[] = {{SIGINT, SIGTERM, "SIGINT"}, {SIGTERM, SIGHUP, "SIGTERM"}, {SIGHUP, SIGINT, "SIGHUP"}};
    // Whatever the test's parent left ignored, the default handling is where the watch starts.
    for (const int s : {SIGINT, SIGTERM, SIGHUP}) ASSERT_NE(signal(s, SIG_DFL), SIG_ERR);
    for (const auto& c : kCases) {
        SCOPED_TRACE(c.name);
        platform::CCancelEvent cancel;
        std::atomic<int> told{0};
        std::atomic<int> toldSignal{0};
        {
            const platform::CSignalWatch watch(cancel, [&](int signal) {
                toldSignal = signal;
                ++told;
            });
            ASSERT_TRUE(watch.IsActive());
            // Only one watch at a time: a second one leaves the signals alone.
            platform::CCancelEvent other;
            EXPECT_FALSE(platform::CSignalWatch(other).IsActive());
            EXPECT_EQ(watch.Signal(), 0);
            EXPECT_FALSE(cancel.IsSet());

            ASSERT_EQ(raise(c.first), 0);
            ASSERT_TRUE(WaitSet(cancel));
            ASSERT_EQ(raise(c.second), 0);
            ASSERT_EQ(raise(c.first), 0);
            EXPECT_EQ(watch.Signal(), c.first);
            EXPECT_EQ(platform::CSignalWatch::Name(watch.Signal()), QLatin1String(c.name));
            EXPECT_FALSE(other.IsSet());
        }
        // The watch's thread has ended: it told once, with the first signal.
        EXPECT_EQ(told.load(), 1);
        EXPECT_EQ(toldSignal.load(), c.first);
        for (const int s : {SIGINT, SIGTERM, SIGHUP}) EXPECT_EQ(Handler(s), SIG_DFL) << s;
    }
}

TEST(SignalWatch, AnIgnoredSignalStaysIgnored) {
    ASSERT_NE(signal(SIGTERM, SIG_DFL), SIG_ERR);
    ASSERT_NE(signal(SIGHUP, SIG_IGN), SIG_ERR);
    platform::CCancelEvent cancel;
    {
        const platform::CSignalWatch watch(cancel);
        ASSERT_TRUE(watch.IsActive());
        EXPECT_EQ(Handler(SIGHUP), SIG_IGN);
        ASSERT_EQ(raise(SIGHUP), 0);
        // The others are taken over: one of them shows the watch is listening.
        ASSERT_EQ(raise(SIGTERM), 0);
        ASSERT_TRUE(WaitSet(cancel));
        EXPECT_EQ(watch.Signal(), SIGTERM);
    }
    EXPECT_EQ(Handler(SIGHUP), SIG_IGN);
    EXPECT_EQ(Handler(SIGTERM), SIG_DFL);
    signal(SIGHUP, SIG_DFL);
}
