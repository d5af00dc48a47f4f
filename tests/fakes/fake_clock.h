// The clocks of the unit tests, the soak, the fuzzers and
// hadrok_fake_clock.so: clocks that move only when told to, so a run always
// plays the same. fake_clock.cpp is the clock half of the platform layer for
// the programs that link it in place of the system's clocks, whichever files
// they link: the unit tests, the soak and hadrok_fake_clock.so the system's
// files, the fuzzers the fake ones. The shipped hadrok.so keeps the system's
// clocks; the simulator moves those (system/script_clock*.cpp).
#pragma once

#include <cstdint>

constexpr int64_t fakeWallStart = 1767225600; // 2026-01-01 00:00:00 UTC
constexpr int64_t fakeMonotonicStartMs = 1000000;

void advanceClock(int64_t milliseconds);
// Both clocks back to their starts above.
void resetClock();
// Both clocks anew: the monotonic clock and wall time, in milliseconds.
void startClock(int64_t monotonicMs, int64_t wallMs);
int64_t fakeMonotonicMs();
// Wall time in milliseconds since 1970; below zero the clock gives no time.
int64_t fakeWallMs();
