#include "fake_clock.h"

#include "platform/platform.h"

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

// The platform layer's clocks, read from the ones above.

uint32_t tickCount() {
    return uint32_t(fakeMonotonicMs());
}

uint64_t monotonicMilliseconds() {
    return uint64_t(fakeMonotonicMs());
}

bool wallClock(int64_t& seconds) {
    if (fakeWallMs() < 0) return false; // the system gave no time
    seconds = fakeWallMs() / 1000;
    return true;
}
