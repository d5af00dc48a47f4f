// The state of the script's clocks, shared by the per-system ways of showing
// them to the plug-in (script_clock_posix.cpp, script_clock_windows.cpp).
#include "system/script_clock.h"

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
