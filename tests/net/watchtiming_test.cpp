// The watcher's timing against RFC 8415: the retransmission times of an Information-request
// (section 15) over seeded random draws, and the refresh time from option 32 (section 21.23).
#include <gtest/gtest.h>

#include <random>

#include "net/watchtiming.h"

using namespace net::watch;

TEST(WatchTiming, RetransmissionDoublesWithinTheRandomBandAndStaysNearTheMaximum) {
    std::mt19937 random(27);
    std::uniform_real_distribution<double> draw(-0.1, 0.1);
    for (int run = 0; run < 200; ++run) {
        int rt = NextRetransmitMs(0, draw(random));
        EXPECT_GE(rt, 900);
        EXPECT_LE(rt, 1100);
        bool reachedMaximum = false;
        for (int i = 0; i < 30; ++i) {
            const int next = NextRetransmitMs(rt, draw(random));
            if (2.1 * rt > kInfMaxRtMs) reachedMaximum = true;
            if (reachedMaximum) {
                EXPECT_GE(next, int(0.9 * kInfMaxRtMs) - 1);
                EXPECT_LE(next, int(1.1 * kInfMaxRtMs) + 1);
            } else {
                EXPECT_GE(next, int(1.9 * rt) - 1);
                EXPECT_LE(next, int(2.1 * rt) + 1);
            }
            rt = next;
        }
        EXPECT_TRUE(reachedMaximum);
    }
    // A draw outside the band counts as its edge.
    EXPECT_EQ(NextRetransmitMs(0, 5.0), 1100);
}

TEST(WatchTiming, RefreshTimeIsTheOptionsOrTheDefaultNeverBelowTheFloor) {
    const struct {
        std::optional<std::uint32_t> option;
        std::uint32_t floor;
        std::uint32_t seconds;
    } kCases[] = {
        {std::nullopt, kIrtMinimum, kIrtDefault}, {100, kIrtMinimum, 600},
        {600, kIrtMinimum, 600},                  {5000, kIrtMinimum, 5000},
        {0, kIrtMinimum, 600},                    {kInfinity, kIrtMinimum, kInfinity},
        {2, 1, 2},                                {std::nullopt, 1, kIrtDefault},
    };
    for (const auto& c : kCases)
        EXPECT_EQ(RefreshSeconds(c.option, c.floor), c.seconds) << c.option.value_or(0) << " " << c.floor;
}
