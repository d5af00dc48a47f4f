#include "loop_host.h"

#include <cstdlib>
#include <cstring>
#include <new>

#include "fake_clock.h"
#include "fake_platform.h"
#include "host/simulator.h"
#include "hostlink/host_interface.h"
#include "plugin/event_handling.h"
#include "system/files.h"
#include "system/plugin_loader.h"
#include "system/script_clock.h"

namespace {

PluginState* loaded = nullptr;
HostCallback hostSide = nullptr;
bool escaped = false;

// Inside the plug-in's code: its allocations count.
int pluginDepth = 0;
uint64_t allocations = 0;
uint64_t failAllocationAt = 0;
uint64_t allocationsFailed = 0;
uint64_t bytes = 0;

struct PluginCode {
    PluginCode() { ++pluginDepth; }
    ~PluginCode() { --pluginDepth; }
    PluginCode(const PluginCode&) = delete;
    PluginCode& operator=(const PluginCode&) = delete;
};

struct HostCode {
    int saved;
    HostCode() : saved(pluginDepth) { pluginDepth = 0; }
    ~HostCode() { pluginDepth = saved; }
    HostCode(const HostCode&) = delete;
    HostCode& operator=(const HostCode&) = delete;
};

void* allocate(std::size_t size) {
    bytes += size;
    if (pluginDepth > 0 && fakePlatformDepth() == 0) {
        ++allocations;
        if (allocations == failAllocationAt) {
            ++allocationsFailed;
            return nullptr;
        }
    }
    return std::malloc(size ? size : 1);
}

// Out of line, so that the compiler does not take the replaced operators'
// free for a mismatch with new.
[[gnu::noinline]] void release(void* p) noexcept {
    std::free(p);
}

// The host's callback as the plug-in sees it: what the host does there is
// the host's.
extern "C" void toHost(BotEvent& event) {
    HostCode host;
    if (hostSide) hostSide(event);
}

void loopTalk(BotEvent& event) {
    if (!loaded) return;
    if (event.code == Connect && event.slot[1] == reinterpret_cast<uintptr_t>(&hostCallback)) {
        hostSide = &hostCallback;
        event.slot[1] = reinterpret_cast<uintptr_t>(&toHost);
    }
    PluginCode plugin;
    try {
        hostCall(*loaded, event);
    } catch (...) {
        escaped = true;
    }
}

} // namespace

void* operator new(std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new[](std::size_t size) {
    if (void* p = allocate(size)) return p;
    throw std::bad_alloc();
}
void* operator new(std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void* operator new[](std::size_t size, const std::nothrow_t&) noexcept {
    return allocate(size);
}
void operator delete(void* p) noexcept {
    release(p);
}
void operator delete[](void* p) noexcept {
    release(p);
}
void operator delete(void* p, std::size_t) noexcept {
    release(p);
}
void operator delete[](void* p, std::size_t) noexcept {
    release(p);
}
void operator delete(void* p, const std::nothrow_t&) noexcept {
    release(p);
}
void operator delete[](void* p, const std::nothrow_t&) noexcept {
    release(p);
}

PluginState* loadedPluginState() {
    return loaded;
}

void startPluginRun(const AllocationPlan& plan) {
    allocations = 0;
    allocationsFailed = 0;
    bytes = 0;
    escaped = false;
    failAllocationAt = plan.failAt;
}

void setAllocationPlan(const AllocationPlan& plan) {
    failAllocationAt = plan.failAt;
}

CountedAllocations::CountedAllocations() {
    ++pluginDepth;
}

CountedAllocations::~CountedAllocations() {
    --pluginDepth;
}

uint64_t pluginAllocations() {
    return allocations;
}

uint64_t bytesAllocated() {
    return bytes;
}

uint64_t allocationFaultsFired() {
    return allocationsFailed;
}

bool exceptionLeftPlugin() {
    return escaped;
}

// --- What the host's system floor gives the simulator -----------------------

const char pluginFileName[] = "hadrok.so";

std::string defaultPluginPath() {
    return pluginFileName;
}

// Loading makes the state and starts it, as the library's static object
// does; the state itself is made by the C++ runtime, not by the plug-in.
void* openPluginLibrary(const std::string&, std::string&) {
    loaded = new PluginState;
    hostSide = nullptr;
    PluginCode plugin;
    try {
        startPlugin(*loaded);
    } catch (...) {
        escaped = true;
    }
    return loaded;
}

void* pluginSymbol(void*, const char* name) {
    return std::strcmp(name, "talk") == 0 ? reinterpret_cast<void*>(&loopTalk) : nullptr;
}

void closePluginLibrary(void* library) {
    auto* state = static_cast<PluginState*>(library);
    {
        PluginCode plugin;
        try {
            stopPlugin(*state);
        } catch (...) {
            escaped = true;
        }
    }
    delete state;
    if (state == loaded) loaded = nullptr;
}

bool pluginStillLoaded(const std::string&) {
    return false;
}

// The script's clocks are the fake ones, frozen at the same start.
void freezeClocks() {
    resetClock();
}

void advanceClocks(int64_t nanoseconds) {
    advanceClock(nanoseconds / 1000000);
}

int64_t clockOffset() {
    return (fakeMonotonicMs() - fakeMonotonicStartMs) * 1000000;
}

bool clocksFrozen() {
    return true;
}

void watchPluginLoad(const std::string&) {}

void stopWatchingPluginLoad() {}

bool attachClocksToPlugin(void*, std::string&) {
    return true;
}

// "copy" works on the fake directory, where the plug-in's files are.
bool copyFileReplacing(const std::string& from, const std::string& to, std::string& reason) {
    const std::string* bytes = fakeFile(from);
    if (!bytes) {
        reason = "No such file or directory";
        return false;
    }
    const std::string copy = *bytes;
    setFakeFile(to, copy);
    return true;
}
