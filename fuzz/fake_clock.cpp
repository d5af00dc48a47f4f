// The plug-in's two clocks, replaced so that its tick counter (the monotonic
// clock) and its wall time (time()) move only when the events fuzzer says so,
// and one input always plays the same way. Only while fakeClockOn is set, and
// never the realtime clock behind the fuzzer's own timing and timeouts: those
// calls go straight to the kernel.
#include "fuzz/fake_clock.h"

#include <ctime>

#include <sys/syscall.h>
#include <unistd.h>

bool fakeClockOn = false;
uint64_t fakeClockMs = 0;

extern "C" int clock_gettime(clockid_t clock, struct timespec* out) noexcept {
    if (!fakeClockOn || clock != CLOCK_MONOTONIC)
        return int(syscall(SYS_clock_gettime, clock, out));
    out->tv_sec = time_t(fakeClockMs / 1000);
    out->tv_nsec = long(fakeClockMs % 1000) * 1000000L;
    return 0;
}

extern "C" time_t time(time_t* out) noexcept {
    timespec now{};
    if (fakeClockOn)
        now.tv_sec = time_t(fakeClockMs / 1000);
    else
        syscall(SYS_clock_gettime, CLOCK_REALTIME, &now);
    if (out) *out = now.tv_sec;
    return now.tv_sec;
}
