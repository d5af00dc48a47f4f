#include "fake_clock.h"

#include <ctime>

namespace {
int64_t offsetMs = 0;
}

void advanceClock(int64_t milliseconds) {
    offsetMs += milliseconds;
}
void resetClock() {
    offsetMs = 0;
}
int64_t fakeMonotonicMs() {
    return fakeMonotonicStartMs + offsetMs;
}

extern "C" time_t time(time_t* out) noexcept {
    time_t now = time_t(fakeWallStart + offsetMs / 1000);
    if (out) *out = now;
    return now;
}

extern "C" int clock_gettime(clockid_t, struct timespec* ts) noexcept {
    int64_t ms = fakeMonotonicMs();
    ts->tv_sec = time_t(ms / 1000);
    ts->tv_nsec = long(ms % 1000) * 1000000L;
    return 0;
}
