#include <gtest/gtest.h>

#include <cstdint>

#include "registry/freq_expiry.h"

namespace {

TEST(Expiry, RuleAtItsEdges) {
    constexpr int64_t now = 1767225600; // 2026-01-01 00:00:00 UTC
    constexpr int64_t day = secondsPerDay;
    struct Case {
        const char* what;
        int64_t lastUsed;
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
        {"a negative stamp", -1, 30, false},
        {"the most negative stamp", INT32_MIN, 0, false},
        {"the epoch itself, long ago", 0, 30, true},
        {"N as big as the key holds", 0, UINT32_MAX, false},
        {"N whose seconds overflow 64 bits", 0, UINT64_MAX, false},
        {"N just under the idle days", 0, uint64_t(now / day) - 1, true},
        {"N equal to the idle days of a whole-day gap", 0, uint64_t(now / day), false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(unusedTooLong(c.lastUsed, now, c.days), c.expired) << c.what;
}

} // namespace
