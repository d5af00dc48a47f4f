// A library that reads both clocks as it is loaded, as the plug-in's load
// does (its lock, its registry, the clock it trusts), and tells what it read.
#include <cstdint>
#include <ctime>

#include <windows.h>

namespace {

uint64_t tickAtLoad = 0;
int64_t timeAtLoad = 0;

} // namespace

BOOL WINAPI DllMain(HINSTANCE, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        tickAtLoad = GetTickCount64();
        timeAtLoad = _time64(nullptr);
    }
    return TRUE;
}

extern "C" __declspec(dllexport) void clocksAtLoad(uint64_t* tick, int64_t* time) {
    *tick = tickAtLoad;
    *time = timeAtLoad;
}
