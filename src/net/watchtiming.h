#pragma once
// The timing of the watcher's Information-requests (RFC 8415): the random delay of the first
// one (section 18.2.6), the retransmission times (section 15) and the refresh time taken from
// the Information Refresh Time option (section 21.23), with the constants of section 7.6.
#include <algorithm>
#include <cstdint>
#include <optional>

namespace net::watch {

constexpr int kInfMaxDelayMs = 1000;    // INF_MAX_DELAY
constexpr int kInfTimeoutMs = 1000;     // INF_TIMEOUT: the first retransmission time
constexpr int kInfMaxRtMs = 3600000;    // INF_MAX_RT: the longest retransmission time
constexpr std::uint32_t kIrtDefault = 86400;  // IRT_DEFAULT: no option 32 in the Reply
constexpr std::uint32_t kIrtMinimum = 600;    // IRT_MINIMUM
constexpr std::uint32_t kInfinity = 0xffffffff;

// The next retransmission time in milliseconds after `previousMs` (0: the first send), with
// `rand` drawn uniformly from -0.1..0.1: IRT + RAND*IRT first, then 2*RTprev + RAND*RTprev,
// and past INF_MAX_RT, INF_MAX_RT + RAND*INF_MAX_RT. Information-request has neither a count
// nor a duration limit: it goes on until a Reply comes.
inline int NextRetransmitMs(int previousMs, double rand) {
    rand = std::clamp(rand, -0.1, 0.1);
    double rt = previousMs <= 0 ? kInfTimeoutMs + rand * kInfTimeoutMs
                                : 2.0 * previousMs + rand * previousMs;
    if (rt > kInfMaxRtMs) rt = kInfMaxRtMs + rand * kInfMaxRtMs;
    return int(rt);
}

// Seconds until the next Information-request after a Reply: the option's value, or
// IRT_DEFAULT without it, never below `floor` (IRT_MINIMUM unless a test lowered it). The
// infinite value means never; it is kept as the largest number.
inline std::uint32_t RefreshSeconds(std::optional<std::uint32_t> option, std::uint32_t floor) {
    return std::max(option.value_or(kIrtDefault), floor);
}

}  // namespace net::watch
