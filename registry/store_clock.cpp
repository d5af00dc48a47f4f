// The store's clock, which a wall clock set back or forward can't fool
// into dating files wrongly.
#include "registry/store_rooms.h"

void startTrustedClock(TrustedClock& clock) {
    int64_t wall = 0;
    if (clock.started || !wallClock(wall)) return;
    clock.started = true;
    clock.wallAtStart = wall;
    clock.monotonicAtStart = monotonicMilliseconds();
}

bool trustedNow(RegistryStore& store, int64_t& now, int64_t& wall) {
    if (!wallClock(wall)) return false;
    TrustedClock& clock = store.clock;
    startTrustedClock(clock); // a clock that failed at the start counts from here
    const uint64_t elapsedMs = monotonicMilliseconds() - clock.monotonicAtStart;
    const int64_t measured = clock.wallAtStart + int64_t(elapsedMs / 1000);
    now = measured < wall ? measured : wall;
    return true;
}
