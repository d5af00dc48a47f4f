#include "fake_clock.h"

namespace {
int64_t monotonicStartMs = fakeMonotonicStartMs;
int64_t wallStartMs = fakeWallStart * 1000;
int64_t offsetMs = 0;
} // namespace

void advanceClock(int64_t milliseconds) {
    offsetMs += milliseconds;
}
void resetClock() {
    startClock(fakeMonotonicStartMs, fakeWallStart * 1000);
}
void startClock(int64_t monotonicMs, int64_t wallMs) {
    monotonicStartMs = monotonicMs;
    wallStartMs = wallMs;
    offsetMs = 0;
}
int64_t fakeMonotonicMs() {
    return monotonicStartMs + offsetMs;
}
int64_t fakeWallMs() {
    return wallStartMs + offsetMs;
}
