// A freq's last-used stamp: 32 bits of seconds since 1970 in the file, read
// as the time nearest to now that has those bits, so that a stamp written
// after 2038-01-19 or 2106-02-07 is never taken for 1901 or 1970.
#pragma once

#include <cstdint>
#include <optional>

// The 64-bit time nearest to now whose low 32 bits are stamp: within 2^31
// seconds before now, or less than 2^31 after it.
int64_t timeNear(uint32_t stamp, int64_t now);

// A stored lastUsed read at now; none when it was stamped by no clock
// (unstampedTime) or reads as before 1970, which no clock wrote (so a stamp
// of -5 is as unknown as it always was, until 2038 makes it a date).
std::optional<int64_t> lastUsedAt(int32_t stored, int64_t now);

// What goes into lastUsed at now: its low 32 bits, but never the one value
// that means "no time known" (a second earlier then), so that a freq stamped
// at that second still expires.
int32_t lastUsedStamp(int64_t now);
