// The system's clock layer (platform/clock_posix.cpp) reads the C library's
// time() and clock_gettime() by their ordinary symbols, so that a program
// that stands in for them (the simulator, for a plug-in it loads) moves the
// plug-in's clock. Here the simulator's clock library stands in, frozen.
#include <gtest/gtest.h>

#include <cstdint>

#include "platform/platform.h"
#include "system/script_clock.h"

namespace {

constexpr int64_t nsPerMs = 1000000;

// Where the monotonic clock stands now, in milliseconds, and the wall clock
// in seconds: the frozen starts plus however far earlier tests moved them.
int64_t expectedMs() {
    return frozenMonotonicSeconds * 1000 + clockOffset() / nsPerMs;
}
int64_t expectedSeconds() {
    return frozenWallSeconds + clockOffset() / (1000 * nsPerMs);
}

TEST(SystemClock, MonotonicClockInMillisecondsTruncated) {
    EXPECT_EQ(int64_t(monotonicMilliseconds()), expectedMs());
    const uint64_t before = monotonicMilliseconds();
    advanceClocks(30 * nsPerMs);
    EXPECT_EQ(monotonicMilliseconds(), before + 30);
    advanceClocks(nsPerMs - 1); // less than a millisecond: not yet one more
    EXPECT_EQ(monotonicMilliseconds(), before + 30);
    advanceClocks(1);
    EXPECT_EQ(monotonicMilliseconds(), before + 31);
    advanceClocks(999 * nsPerMs + nsPerMs / 2); // milliseconds carried from nanoseconds
    EXPECT_EQ(monotonicMilliseconds(), before + 1030);
}

TEST(SystemClock, TickCountWrapsAt32BitsLikeTheSystems) {
    EXPECT_EQ(tickCount(), uint32_t(expectedMs()));
    const int64_t toWrap = (int64_t(1) << 32) - expectedMs();
    advanceClocks((toWrap - 1) * nsPerMs);
    EXPECT_EQ(tickCount(), 0xFFFFFFFFu);
    advanceClocks(6 * nsPerMs);
    EXPECT_EQ(tickCount(), 5u);
    // The 64-bit count goes on past it.
    EXPECT_EQ(monotonicMilliseconds(), (uint64_t(1) << 32) + 5);
}

TEST(SystemClock, WallClockInWholeSeconds) {
    EXPECT_EQ(currentTime(), int32_t(expectedSeconds()));
    const int64_t before = expectedSeconds();
    advanceClocks(2500 * nsPerMs);
    EXPECT_EQ(currentTime(), int32_t(before + 2));
    int64_t seconds = 0;
    ASSERT_TRUE(wallClock(seconds));
    EXPECT_EQ(seconds, before + 2);
}

} // namespace
