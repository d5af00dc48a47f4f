// The state of the script's clocks, shared by the per-system ways of showing
// them to the plug-in (host_clock_posix.cpp, host_clock_windows.cpp).
#include "host/host_clock.h"

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
