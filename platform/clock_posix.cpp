// The system's clocks on POSIX, the clock half of the platform layer: a
// program links this or a fake clock, whatever files it links.
#include "platform/platform.h"

#include <ctime>

// clock_gettime and time are called through their ordinary C library symbols
// on purpose: the simulator stands in for both to move a loaded plug-in's
// clock.

uint32_t tickCount() {
    return static_cast<uint32_t>(monotonicMilliseconds());
}

uint64_t monotonicMilliseconds() {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint64_t>(now.tv_sec) * 1000u +
           static_cast<uint64_t>(now.tv_nsec) / 1000000u;
}

bool wallClock(int64_t& seconds) {
    const time_t now = time(nullptr);
    if (now == time_t(-1)) return false;
    seconds = int64_t(now);
    return true;
}
