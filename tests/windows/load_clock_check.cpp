// The simulator's clocks are in place before a plug-in's load runs: a library
// that reads the clocks in its DllMain must see the frozen ones, as on Linux,
// where the program's clocks stand in from the start.
//
//   load_clock_check PROBE.dll
#include <cstdint>
#include <cstdio>
#include <string>

#include <windows.h>

#include "system/script_clock.h"

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: load_clock_check PROBE.dll\n");
        return 2;
    }
    freezeClocks();
    watchPluginLoad(argv[1]);
    const HMODULE probe = LoadLibraryA(argv[1]);
    stopWatchingPluginLoad();
    std::string error;
    if (!probe || !attachClocksToPlugin(probe, error)) {
        std::printf("FAIL: cannot load %s %s\n", argv[1], error.c_str());
        return 1;
    }
    using Read = void (*)(uint64_t*, int64_t*);
    const auto read =
        reinterpret_cast<Read>(reinterpret_cast<void*>(GetProcAddress(probe, "clocksAtLoad")));
    uint64_t tick = 0;
    int64_t time = 0;
    if (read) read(&tick, &time);
    const uint64_t wantTick = uint64_t(frozenMonotonicSeconds) * 1000;
    std::printf("clocks read at load: tick %llu ms (frozen: %llu), time %lld (frozen: %lld)\n",
                static_cast<unsigned long long>(tick), static_cast<unsigned long long>(wantTick),
                static_cast<long long>(time), static_cast<long long>(frozenWallSeconds));
    return tick == wantTick && time == frozenWallSeconds ? 0 : 1;
}
