// The simulator's script player, linked with the plug-in's own code on the
// fake platform in one program: the system half of the host (loading the
// plug-in, its clocks, copying files) is stood in for here, so that every
// call the plug-in makes to the system can be counted, failed or cut short,
// and every allocation it makes can be counted and failed.
#pragma once

#include <cstdint>
#include <string>

#include "plugin/plugin_state.h"

// The loaded plug-in's state: made by the host's "load" (or its first event),
// ended by "unload"; null while none is loaded.
PluginState* loadedPluginState();

// The plug-in's allocations: those made while its code runs (its calls from
// the host, its start and its end), never the host's or the fake platform's.
struct AllocationPlan {
    uint64_t failAt = 0; // the allocation to fail, counted from 1; 0: none
};
// A run starts: the counts from 0, no exception seen yet.
void startPluginRun(const AllocationPlan& plan);
// The plan changed within a run; the counts go on.
void setAllocationPlan(const AllocationPlan& plan);
uint64_t pluginAllocations();
// Bytes allocated by anyone since the run started: a run's weight.
uint64_t bytesAllocated();
// While one lives, allocations count as the plug-in's, for a test that calls
// the plug-in's code itself.
struct CountedAllocations {
    CountedAllocations();
    ~CountedAllocations();
    CountedAllocations(const CountedAllocations&) = delete;
    CountedAllocations& operator=(const CountedAllocations&) = delete;
};
uint64_t allocationFaultsFired();

// Whether an exception left a call into the plug-in (talk, start, end): it
// would reach the host's process.
bool exceptionLeftPlugin();
