// A host that starts while a registry tool holds the folder's lock for a
// moment must not work in memory for its whole life: while it has changed
// nothing, it takes the lock at the next connection and loads the file
// afresh, the tool's change included. Once it has changed something, it
// stays in memory, as a second host does.
#include <gtest/gtest.h>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/registry_file.h"

namespace {

std::string freqsImage(std::initializer_list<uint16_t> freqs) {
    FreqRegistry registry;
    for (uint16_t freq : freqs) {
        FreqRecord r{};
        r.freq = freq;
        setTextField(r.owner, "Alice");
        registry.freqs.append(r);
    }
    return registryImage(registry);
}

struct StartedDuringAToolsWrite : ::testing::Test {
    void SetUp() override {
        resetClock();
        sentLines().clear();
        TempDir::write(registryFileName, freqsImage({100}));
        ASSERT_EQ(takeFileLock(registryLockFileName, toolLock), LockResult::taken);
        startPluginState(state);
        ASSERT_FALSE(holdsRegistry(state.store));
        // The tool writes its change and lets go.
        TempDir::write(registryFileName, freqsImage({100, 200}));
        releaseFileLock(toolLock);
        bot.handle = 1;
    }
    void TearDown() override { closeRegistryStore(state.store); }
    void connect() {
        BotEvent event{};
        event.handle = 1;
        event.code = Connect;
        event.slot[0] = 6u << 16;
        event.slot[1] = reinterpret_cast<uintptr_t>(&recordHostEvent);
        handleEvent(bot, state, event);
    }
    TempDir dir;
    FileLock toolLock;
    PluginState state;
    BotInstance bot;
};

TEST_F(StartedDuringAToolsWrite, TakesTheLockAndLoadsAfreshWhileUnchanged) {
    connect();
    EXPECT_TRUE(holdsRegistry(state.store));
    EXPECT_EQ(registryImage(state.registry), freqsImage({100, 200}));
}

TEST_F(StartedDuringAToolsWrite, StaysInMemoryOnceChanged) {
    char owner[20] = "Bob";
    addFreq(state.registry, 300, owner, 0);
    connect();
    EXPECT_FALSE(holdsRegistry(state.store));
    ASSERT_GE(sentLines().size(), 2u);
    EXPECT_EQ(sentLines()[1].text,
              "Another host process uses the registry in this directory (Zandrel.teams.lock is "
              "locked); changes made in this one are not saved.");
    EXPECT_EQ(TempDir::read(registryFileName), freqsImage({100, 200}));
}

} // namespace
