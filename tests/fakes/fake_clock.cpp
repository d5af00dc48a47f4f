#include "fake_clock.h"

#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

namespace {
bool faked = true;
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
void useFakeClock(bool on) {
    faked = on;
}

// Other clocks, and all of them while the fake is off, go straight to the
// kernel: the libc functions are the ones replaced here.
extern "C" time_t time(time_t* out) noexcept {
    timespec now{};
    if (faked)
        now.tv_sec = time_t((wallStartMs + offsetMs) / 1000);
    else
        syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
    if (out) *out = now.tv_sec;
    return now.tv_sec;
}

extern "C" int clock_gettime(clockid_t clock, struct timespec* ts) noexcept {
    if (!faked || clock != CLOCK_MONOTONIC) return int(syscall(SYS_clock_gettime, clock, ts));
    int64_t ms = fakeMonotonicMs();
    ts->tv_sec = time_t(ms / 1000);
    ts->tv_nsec = long(ms % 1000) * 1000000L;
    return 0;
}
