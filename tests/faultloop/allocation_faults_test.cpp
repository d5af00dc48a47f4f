// The loop's own method on two small pieces, every allocation in turn: a
// freq list that must stay whole when an append fails, and a connection
// that must leave its bot with its settings and a running autosave whatever
// allocation fails in it.
#include <gtest/gtest.h>

#include <cstring>
#include <new>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_platform.h"
#include "loop_host.h"
#include "plugin/event_handling.h"
#include "plugin/plugin_state.h"
#include "registry/freq_registry.h"
#include "registry/registry_file.h"

namespace {

FreqRecord recordOf(uint16_t freq) {
    FreqRecord r{};
    r.freq = freq;
    std::memcpy(r.owner, "Alice", 5);
    return r;
}

uint32_t walked(FreqChainedList<FreqRecord>& list) {
    uint32_t n = 0;
    for (FreqRecord* r = list.first(); r; r = list.next(r))
        ++n;
    return n;
}

// Freqs in new blocks of 256 and past a chunk of 256 nodes, so that both of
// the list's allocations are met.
TEST(AllocationFaults, AFreqListStaysWholeWhenAnAppendFailsAtAnyAllocation) {
    const std::vector<uint16_t> freqs = [] {
        std::vector<uint16_t> f;
        for (uint16_t i = 0; i < 300; ++i)
            f.push_back(uint16_t(i * 211 % 9000 + 100));
        return f;
    }();
    uint64_t total = 0;
    {
        startPluginRun({});
        FreqRegistry registry;
        CountedAllocations counted;
        for (uint16_t freq : freqs)
            registry.freqs.append(recordOf(freq));
        total = pluginAllocations();
    }
    ASSERT_GT(total, 2u);
    for (uint64_t n = 1; n <= total; ++n) {
        startPluginRun({.failAt = n});
        FreqRegistry registry;
        uint32_t appended = 0;
        bool failed = false;
        {
            CountedAllocations counted;
            for (uint16_t freq : freqs) {
                try {
                    registry.freqs.append(recordOf(freq));
                    ++appended;
                } catch (const std::bad_alloc&) {
                    failed = true;
                }
            }
        }
        EXPECT_TRUE(failed) << "allocation " << n;
        EXPECT_EQ(registry.freqs.count(), appended) << "allocation " << n;
        EXPECT_EQ(walked(registry.freqs), appended) << "allocation " << n;
        // The image is made of the count: what is linked must be counted.
        EXPECT_EQ(registryImage(registry).size, size_t(appended) * freqRecordSize);
    }
    startPluginRun({});
}

// What the bot was told, kept without allocating: the host's own work.
char told[64][256];
int toldCount = 0;

extern "C" void recordEcho(BotEvent& event) {
    if (event.code != Echo || toldCount == 64) return;
    std::strncpy(told[toldCount], reinterpret_cast<const char*>(event.slot[0]), 255);
    told[toldCount++][255] = '\0';
}

bool wasTold(const char* line) {
    for (int i = 0; i < toldCount; ++i)
        if (std::strcmp(told[i], line) == 0) return true;
    return false;
}

// A registry to load (two freqs), the settings, and the load's sweep done by
// a first call, as at a host's start; then bot 1 connects, its allocations
// counted and the nth failed.
struct Connection {
    PluginState state;
    PlayerNode* players = nullptr;

    explicit Connection(uint64_t failAt) {
        clearFakeFiles();
        resetClock();
        FreqRegistry two;
        two.freqs.append(recordOf(100));
        two.freqs.append(recordOf(200));
        setFakeFile(registryFileName, registryImage(two).view());
        setFakeFile("freqs.ini", "[Config]\nMaxOwnedFreqs=2\nAutoSaveDelay=1\n");
        startPlugin(state);
        send(Tick);
        toldCount = 0;
        startPluginRun({.failAt = failAt});
        CountedAllocations counted;
        send(Connect);
    }
    ~Connection() {
        startPluginRun({});
        stopPlugin(state);
    }
    void send(uint32_t code) {
        BotEvent event{};
        event.handle = 1;
        event.code = code;
        if (code == Connect) {
            event.slot[0] = uintptr_t(interfaceMajor) << 16 | interfaceMinor;
            event.slot[1] = reinterpret_cast<uintptr_t>(&recordEcho);
            event.slot[2] = reinterpret_cast<uintptr_t>(&players);
        }
        hostCall(state, event);
    }
};

TEST(AllocationFaults, AConnectionKeepsItsSettingsAndItsAutosaveWhateverAllocationFails) {
    uint64_t total = 0;
    {
        Connection counting(0);
        total = pluginAllocations();
        ASSERT_TRUE(wasTold("DLL plugin connected."));
    }
    ASSERT_GT(total, 5u);
    for (uint64_t n = 1; n <= total; ++n) {
        Connection connection(n);
        EXPECT_EQ(allocationFaultsFired(), 1u) << "allocation " << n;
        BotInstance* bot = findInstance(connection.state.bots, 1);
        ASSERT_NE(bot, nullptr) << "allocation " << n;
        EXPECT_EQ(bot->iniConfig.maxOwnedFreqs, 2u) << "allocation " << n;
        EXPECT_EQ(bot->iniConfig.autoSaveDelay, 1u) << "allocation " << n;
        startPluginRun({});
        toldCount = 0;
        connection.send(Tick);
        EXPECT_TRUE(wasTold("AutoSave...")) << "allocation " << n;
    }
}

} // namespace
