// The clocks that the plug-in loaded by the simulator sees. On Linux the
// program exports its own time() and clock_gettime(), so the plug-in's calls
// to those C library functions land here (script_clock_posix.cpp); on Windows the
// plug-in's imports of GetTickCount and the C library's time functions are
// pointed here as it is loaded (script_clock_windows.cpp). Either way a script
// can move time forward without the plug-in knowing.
#pragma once

#include <cstdint>
#include <string>

// Wall clock when frozen: 2026-01-01 00:00:00 UTC.
constexpr int64_t frozenWallSeconds = 1767225600;
// Monotonic clock when frozen: 1,000,000 ms.
constexpr int64_t frozenMonotonicSeconds = 1000;

// From now on both clocks stand still at the frozen values and move only by
// advanceClocks.
void freezeClocks();

// Moves both clocks forward by the given number of nanoseconds.
void advanceClocks(int64_t nanoseconds);

// How far the clocks have been moved, in nanoseconds.
int64_t clockOffset();

// Whether freezeClocks has been called.
bool clocksFrozen();

// Called before and after the system loads the plug-in at path, so that its
// load, which reads the clocks too, already sees these clocks: on Windows the
// loader tells when the library is in memory and its start code not yet run,
// and its clock calls are pointed here then; nothing to do on Linux, where the
// program's clocks stand in from the start.
void watchPluginLoad(const std::string& path);
void stopWatchingPluginLoad();

// Points a just-loaded plug-in's clock calls at these clocks where the system
// needs that done per library (Windows); nothing to do on Linux. False, with
// the reason in error, when it can't.
bool attachClocksToPlugin(void* library, std::string& error);
