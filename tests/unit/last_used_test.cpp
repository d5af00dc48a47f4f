#include <gtest/gtest.h>

#include <cstdint>
#include <optional>

#include "registry/freq_record.h"
#include "registry/last_used.h"

namespace {

constexpr int64_t day = 86400;
constexpr int64_t wrap31 = int64_t(1) << 31; // 2038-01-19 03:14:08 UTC
constexpr int64_t wrap32 = int64_t(1) << 32; // 2106-02-07 06:28:16 UTC
constexpr int64_t y2026 = 1767225600;        // 2026-01-01 00:00:00 UTC

TEST(LastUsed, StampReadNearestToNow) {
    struct Case {
        const char* what;
        uint32_t stamp;
        int64_t now;
        int64_t read;
    } cases[] = {
        {"1970 seen from 2026", 0, y2026, 0},
        {"a day into 1970 seen a second before 2038", uint32_t(day), wrap31 - 1, day},
        {"the last second before 2038, a day later", 0x7FFFFFFFu, wrap31 + day, wrap31 - 1},
        {"2038's first second, a day before it", 0x80000000u, wrap31 - day, wrap31},
        {"2038's first second, a day after it", 0x80000000u, wrap31 + day, wrap31},
        {"2038 plus a day, seen from 2026", uint32_t(wrap31 + day), y2026, wrap31 + day},
        {"two seconds before 2106, a day after it", 0xFFFFFFFEu, wrap32 + day, wrap32 - 2},
        {"2106's first second, a day before it", 0, wrap32 - day, wrap32},
        {"2106's first second, a day after it", 0, wrap32 + day, wrap32},
        {"two days into 2106, one day in", uint32_t(2 * day), wrap32 + day, wrap32 + 2 * day},
        {"used at this very second", uint32_t(y2026), y2026, y2026},
        {"exactly 2^31 away: the past", uint32_t(y2026 + wrap31), y2026, y2026 - wrap31},
        {"2^31 - 1 ahead: the future", uint32_t(y2026 + wrap31 - 1), y2026, y2026 + wrap31 - 1},
        {"a third wrap", 5, 3 * wrap32 + 7, 3 * wrap32 + 5},
    };
    for (const Case& c : cases)
        EXPECT_EQ(timeNear(c.stamp, c.now), c.read) << c.what;
}

TEST(LastUsed, UnstampedStaysUnknownAndIsNeverWritten) {
    for (int64_t now : {y2026, wrap31 + day, wrap32 + day})
        EXPECT_EQ(lastUsedAt(unstampedTime, now), std::nullopt) << now;
    EXPECT_EQ(lastUsedAt(INT32_MIN, wrap31 + day), std::optional<int64_t>(wrap31));
    // Before 2038 a small negative stamp reads as 1969, which no clock wrote.
    EXPECT_EQ(lastUsedAt(-5, y2026), std::nullopt);
    EXPECT_EQ(lastUsedAt(-5, wrap32), std::optional<int64_t>(wrap32 - 5));

    struct Case {
        int64_t now;
        int32_t stored;
        int64_t readBack;
    } writes[] = {
        {y2026, int32_t(y2026), y2026},
        {wrap31, INT32_MIN, wrap31},
        {wrap32 + 5, 5, wrap32 + 5},
        // The one second whose low bits mean "no time" is stamped a second earlier.
        {wrap32 - 1, -2, wrap32 - 2},
        {2 * wrap32 - 1, -2, 2 * wrap32 - 2},
    };
    for (const auto& [now, stored, readBack] : writes) {
        EXPECT_EQ(lastUsedStamp(now), stored) << now;
        EXPECT_EQ(lastUsedAt(lastUsedStamp(now), now), std::optional<int64_t>(readBack)) << now;
    }
}

} // namespace
