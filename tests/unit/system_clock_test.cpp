// The system's clock layer (platform/clock_posix.cpp) read against the
// system's own clocks: each reading must fall between the C library's
// readings just before and just after it. Many readings, so that a value
// rounded up instead of cut to the millisecond or second shows.
#include <gtest/gtest.h>

#include <cstdint>
#include <ctime>

#include "platform/platform.h"

namespace {

constexpr int rounds = 2000;

uint64_t systemMonotonicMs() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return uint64_t(now.tv_sec) * 1000u + uint64_t(now.tv_nsec) / 1000000u;
}

TEST(SystemClock, MonotonicMillisecondsAreTheSystemsCutToTheMillisecond) {
    for (int i = 0; i < rounds; ++i) {
        const uint64_t before = systemMonotonicMs();
        const uint64_t ours = monotonicMilliseconds();
        const uint64_t after = systemMonotonicMs();
        ASSERT_LE(before, ours) << "round " << i;
        ASSERT_LE(ours, after) << "round " << i;
    }
}

TEST(SystemClock, TickCountIsTheMonotonicCountInItsLow32Bits) {
    for (int i = 0; i < rounds; ++i) {
        const uint64_t before = systemMonotonicMs();
        const uint32_t tick = tickCount();
        const uint64_t after = systemMonotonicMs();
        // Counted from the reading before, across a wrap too.
        ASSERT_LE(uint32_t(tick - uint32_t(before)), after - before) << "round " << i;
    }
}

TEST(SystemClock, WallClockIsTheSystemsInWholeSeconds) {
    for (int i = 0; i < rounds; ++i) {
        const time_t before = time(nullptr);
        int64_t seconds = 0;
        ASSERT_TRUE(wallClock(seconds));
        const time_t after = time(nullptr);
        ASSERT_LE(int64_t(before), seconds) << "round " << i;
        ASSERT_LE(seconds, int64_t(after)) << "round " << i;
    }
}

} // namespace
