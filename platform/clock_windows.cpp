// The system's clocks on Windows, the clock half of the platform layer.
#include "platform/platform.h"

#include <ctime>

#include <windows.h>

uint32_t tickCount() {
    return GetTickCount();
}

uint64_t monotonicMilliseconds() {
    return GetTickCount64();
}

bool wallClock(int64_t& seconds) {
    const __time64_t now = _time64(nullptr);
    if (now == __time64_t(-1)) return false;
    seconds = int64_t(now);
    return true;
}
