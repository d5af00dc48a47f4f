// The state of the script's clocks, shared by the per-system ways of showing
// them to the plug-in (script_clock_posix.cpp, script_clock_windows.cpp).
#include "system/script_clock.h"

#include "platform/platform.h"

namespace {

bool frozen = false;
int64_t offsetNanoseconds = 0;

} // namespace

void freezeClocks() {
    frozen = true;
}

void advanceClocks(int64_t nanoseconds) {
    offsetNanoseconds += nanoseconds;
}

int64_t clockOffset() {
    return offsetNanoseconds;
}

bool clocksFrozen() {
    return frozen;
}

bool programWallClock(int64_t& seconds) {
    if (!frozen) return wallClock(seconds);
    seconds = frozenWallSeconds + offsetNanoseconds / 1000000000;
    return true;
}
