// The unit tests' clocks: this test program defines time() and
// clock_gettime() itself, so the plug-in code linked into it sees frozen
// clocks that move only when a test advances them.
#pragma once

#include <cstdint>

constexpr int64_t fakeWallStart = 1767225600; // 2026-01-01 00:00:00 UTC
constexpr int64_t fakeMonotonicStartMs = 1000000;

void advanceClock(int64_t milliseconds);
void resetClock();
int64_t fakeMonotonicMs();
