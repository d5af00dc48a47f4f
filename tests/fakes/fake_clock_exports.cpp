// The one handle a test has on the clocks of hadrok_fake_clock.so, the
// plug-in's code built on the system's files and the fake clocks: those
// stand still from their starts until the test moves them through here.
#include <cstdint>

#include "fake_clock.h"

extern "C" __attribute__((visibility("default"))) void advancePluginClock(int64_t milliseconds) {
    advanceClock(milliseconds);
}
