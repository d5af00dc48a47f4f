#include <gtest/gtest.h>

#include <cstdint>

#include "registry/freq_expiry.h"
#include "registry/freq_record.h"
#include "registry/last_used.h"

namespace {

TEST(Expiry, RuleAtItsEdges) {
    constexpr int64_t now = 1767225600; // 2026-01-01 00:00:00 UTC
    constexpr int64_t day = secondsPerDay;
    struct Case {
        const char* what;
        int32_t lastUsed;
        uint64_t days;
        bool expired;
    } cases[] = {
        {"exactly N days back", now - 30 * day, 30, false},
        {"one second more", now - 30 * day - 1, 30, true},
        {"used just now", now, 30, false},
        {"one second ago, 0 days", now - 1, 0, true},
        {"used at this very second, 0 days", now, 0, false},
        {"a stamp in the future", now + 1, 30, false},
        {"far in the future, 0 days", INT32_MAX, 0, false},
        {"no time known", unstampedTime, 30, false},
        {"the most negative stamp: 2038, ahead", INT32_MIN, 0, false},
        {"a stamp that reads as 1969", -5, 0, false},
        {"the epoch itself, long ago", 0, 30, true},
        {"N as big as the key holds", 0, UINT32_MAX, false},
        {"N whose seconds overflow 64 bits", 0, UINT64_MAX, false},
        {"N just under the idle days", 0, uint64_t(now / day) - 1, true},
        {"N equal to the idle days of a whole-day gap", 0, uint64_t(now / day), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unusedTooLong(c.lastUsed, now, c.days), c.expired) << c.what;
}

// Stamps written past 2038-01-19 03:14:08 (negative as 32 bits) and past
// 2106-02-07 06:28:16 (small again) count as what they are.
TEST(Expiry, RuleAcrossTheWraps) {
    constexpr int64_t day = secondsPerDay;
    constexpr int64_t wrap31 = int64_t(1) << 31;
    constexpr int64_t wrap32 = int64_t(1) << 32;
    struct Case {
        const char* what;
        int64_t usedAt;
        int64_t now;
        bool expired;
    } cases[] = {
        {"used 2038-01-20, 5 days on", wrap31 + day, wrap31 + 6 * day, false},
        {"used 2038-01-20, 31 days on", wrap31 + day, wrap31 + 32 * day, true},
        {"used just before 2038, 31 days on", wrap31 - 1, wrap31 + 31 * day, true},
        {"used 2106-02-06, 2106-02-08", wrap32 - day, wrap32 + day, false},
        {"used 2106-02-08, 2106-02-09", wrap32 + day, wrap32 + 2 * day, false},
        {"used 2106-02-06, 31 days on", wrap32 - day, wrap32 + 30 * day + 1, true},
        {"used 2106-02-08, 31 days on", wrap32 + day, wrap32 + 32 * day, true},
        {"used 2038-01-20, seen from 2026: ahead", wrap31 + day, 1767225600, false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unusedTooLong(lastUsedStamp(c.usedAt), c.now, 30), c.expired) << c.what;
}

} // namespace
