#pragma once

#include <cstdint>

extern bool fakeClockOn;
extern uint64_t fakeClockMs; // both the tick counter and wall time, in ms

// Early 2026, placed so that the 32-bit millisecond tick counter wraps one
// minute into every input.
constexpr uint64_t fakeClockEpochMs = 1767225600000ull; // 2026-01-01 00:00:00 UTC
constexpr uint64_t fakeClockStartMs =
    fakeClockEpochMs + ((1ull << 32) - 60000 - fakeClockEpochMs % (1ull << 32)) % (1ull << 32);
