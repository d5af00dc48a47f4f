#include "fake_clock.h"

#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

namespace {
bool faked = true;
} // namespace

void useFakeClock(bool on) {
    faked = on;
}

// Other clocks, and all of them while the fake is off, go straight to the
// kernel: the libc functions are the ones replaced here.
extern "C" time_t time(time_t* out) noexcept {
    timespec now{};
    if (faked)
        now.tv_sec = time_t(fakeWallMs() / 1000);
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
