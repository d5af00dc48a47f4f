// The clocks of the unit tests, the soak and the fuzzers: clocks that move
// only when told to, so a run always plays the same. The fuzz targets link the
// fake platform layer (fake_platform.cpp), which reads them directly. The unit
// tests and the soak link the system's layer and fake_clock_libc.cpp, which
// defines time() and clock_gettime() itself, so the plug-in code linked into
// them sees these clocks. The simulator moves the real plug-in's clock its own
// way (system/script_clock.h), since it loads the built library.
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
// Wall time in milliseconds since 1970.
int64_t fakeWallMs();

// fake_clock_libc.cpp only. While off, the system's clocks answer time() and
// clock_gettime(). On from the start.
void useFakeClock(bool on);
