// The tests that load the built plug-in, and those of the system's clock
// layer, run on the simulator's clocks, frozen from the start as in a script
// run with --frozen-clock: every run plays the same, and a test moves them
// with advanceClocks.
#include <gtest/gtest.h>

#include "system/script_clock.h"

int main(int argc, char** argv) {
    freezeClocks();
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
