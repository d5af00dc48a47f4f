// The script's clocks on Linux: the program's own time() and clock_gettime()
// stand in for the C library's, for the plug-in it loads too. Linked into
// hadrok alone: no test stands in for a C library function.
#include <ctime>

#include <dlfcn.h>

#include "system/script_clock.h"

// The script's clocks, by symbol interposition.

namespace {

constexpr int64_t nanosecondsPerSecond = 1000000000;

using TimeFunction = time_t (*)(time_t*);
using ClockGettimeFunction = int (*)(clockid_t, timespec*);

// The C library's own functions, which ours shadow for everybody in the
// process, the plug-in included.
TimeFunction realTime() {
    static auto function = reinterpret_cast<TimeFunction>(dlsym(RTLD_NEXT, "time"));
    return function;
}

ClockGettimeFunction realClockGettime() {
    static auto function =
        reinterpret_cast<ClockGettimeFunction>(dlsym(RTLD_NEXT, "clock_gettime"));
    return function;
}

enum class ClockKind { Wall, Monotonic, Other };

ClockKind kindOf(clockid_t clock) {
    switch (clock) {
    case CLOCK_REALTIME:
    case CLOCK_REALTIME_COARSE:
        return ClockKind::Wall;
    case CLOCK_MONOTONIC:
    case CLOCK_MONOTONIC_RAW:
    case CLOCK_MONOTONIC_COARSE:
    case CLOCK_BOOTTIME:
        return ClockKind::Monotonic;
    default:
        return ClockKind::Other;
    }
}

timespec addNanoseconds(timespec base, int64_t nanoseconds) {
    int64_t total = static_cast<int64_t>(base.tv_nsec) + nanoseconds % nanosecondsPerSecond;
    int64_t seconds = static_cast<int64_t>(base.tv_sec) + nanoseconds / nanosecondsPerSecond;
    if (total >= nanosecondsPerSecond) {
        total -= nanosecondsPerSecond;
        ++seconds;
    } else if (total < 0) {
        total += nanosecondsPerSecond;
        --seconds;
    }
    return {static_cast<time_t>(seconds), static_cast<long>(total)};
}

} // namespace

void watchPluginLoad(const std::string&) {}

void stopWatchingPluginLoad() {}

bool attachClocksToPlugin(void*, std::string&) {
    // The dynamic linker binds the plug-in's time() and clock_gettime() to the
    // program's exported ones.
    return true;
}

extern "C" __attribute__((visibility("default"))) int clock_gettime(clockid_t clock,
                                                                    timespec* result) noexcept {
    ClockKind kind = kindOf(clock);
    if (kind == ClockKind::Other) return realClockGettime()(clock, result);
    timespec base{};
    if (clocksFrozen()) {
        base.tv_sec = kind == ClockKind::Wall ? frozenWallSeconds : frozenMonotonicSeconds;
    } else {
        int status = realClockGettime()(clock, &base);
        if (status != 0) return status;
    }
    *result = addNanoseconds(base, clockOffset());
    return 0;
}

extern "C" __attribute__((visibility("default"))) time_t time(time_t* result) noexcept {
    time_t now;
    if (clocksFrozen()) {
        now = static_cast<time_t>(frozenWallSeconds + clockOffset() / nanosecondsPerSecond);
    } else if (clockOffset() == 0) {
        now = realTime()(nullptr);
    } else {
        timespec wall{};
        clock_gettime(CLOCK_REALTIME, &wall);
        now = wall.tv_sec;
    }
    if (result) *result = now;
    return now;
}
