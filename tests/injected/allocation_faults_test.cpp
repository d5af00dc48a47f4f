// Failures no real disk makes on demand, injected through the fake platform
// layer: an allocation that fails inside a save, and a start that throws.
// Neither may stop a timer, pass unseen, or let an empty registry be saved
// over a full one.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_platform.h"
#include "hostlink/bot_instance.h"
#include "plugin/event_handling.h"
#include "plugin/plugin_state.h"
#include "registry/change_file.h"
#include "registry/registry_file.h"

namespace {

std::vector<std::string> echoed;

extern "C" void recordEcho(BotEvent& event) {
    if (event.code == Echo) echoed.push_back(reinterpret_cast<const char*>(event.slot[0]));
}

std::string twoFreqs() {
    FreqRegistry registry;
    for (uint16_t freq : {100, 200}) {
        FreqRecord r{};
        r.freq = freq;
        setTextField(r.owner, "Alice");
        registry.freqs.append(r);
    }
    return registryImage(registry);
}

size_t recordsIn(const char* name) {
    const std::string* bytes = fakeFile(name);
    return bytes ? bytes->size() / freqRecordSize : 0;
}

// Every look at the current directory throws, as at a start that fails early.
const FaultPlan everyCurrentDirectoryThrows{.atCall = 1,
                                            .kind = "currentDirectoryPath",
                                            .fault = FaultClass::outOfMemory,
                                            .count = UINT64_MAX};

class InjectedFaults : public ::testing::Test {
  protected:
    void SetUp() override {
        clearFakeFiles();
        resetClock();
        echoed.clear();
        setFakeFile("freqs.ini", "[Config]\nAutoSaveDelay=1\nBackups=0\n");
        bot.handle = 1;
    }
    void TearDown() override {
        clearFaultPlan();
        closeRegistryStore(state.store);
    }
    void send(uint32_t code) {
        BotEvent event{};
        event.handle = 1;
        event.code = code;
        if (code == Connect) {
            event.slot[0] = 6u << 16;
            event.slot[1] = reinterpret_cast<uintptr_t>(&recordEcho);
        }
        handleEvent(bot, state, event);
    }
    void addOneFreq(uint16_t freq) {
        char owner[20] = "Bob";
        addFreq(state.registry, freq, owner, 0);
    }
    PluginState state;
    BotInstance bot;
};

TEST_F(InjectedFaults, AnAllocationFailingInOneAutosaveIsToldAndTheNextOneSaves) {
    startPluginState(state);
    send(Connect);
    addOneFreq(300);
    echoed.clear();
    setFaultPlan({.atCall = 1, .kind = "writeFileSafely", .fault = FaultClass::outOfMemory});
    send(Tick);
    // What changed is kept beside at once, the save having thrown.
    ASSERT_FALSE(state.store.sideFileName.empty());
    EXPECT_EQ(echoed,
              (std::vector<std::string>{
                  "AutoSave...", "Saving Zandrel.teams failed (not enough memory); the file "
                                 "on disk is unchanged. Trying again at the next autosave. What "
                                 "this process holds was written to " +
                                     state.store.sideFileName +
                                     " beside it; once the host is stopped, hadrok teams recover "
                                     "merges it into the registry."}));
    EXPECT_EQ(fakeFile(registryFileName), nullptr);
    const std::string* log = fakeFile("hadrok.log");
    ASSERT_NE(log, nullptr);
    EXPECT_NE(log->find("save: saving failed (not enough memory)"), std::string::npos) << *log;

    echoed.clear();
    send(Tick); // the countdown was re-armed: the next autosave comes
    EXPECT_EQ(echoed, (std::vector<std::string>{"AutoSave..."}));
    EXPECT_EQ(recordsIn(registryFileName), 1u);
}

// A start that throws leaves the load's outcome unknown: the file is never
// taken for missing. The next connection, finding nothing changed, loads it.
TEST_F(InjectedFaults, AStartThatThrowsIsNoEmptyStart) {
    setFakeFile(registryFileName, twoFreqs());
    setFaultPlan(everyCurrentDirectoryThrows);
    EXPECT_THROW(startPluginState(state), std::bad_alloc);
    noteFailedStart(state, "not enough memory");
    clearFaultPlan();

    send(Tick); // not yet connected, nothing changed: nothing is written
    EXPECT_EQ(*fakeFile(registryFileName), twoFreqs());
    send(Connect);
    EXPECT_EQ(state.registry.freqs.count(), 2u);
    send(Tick);
    EXPECT_EQ(recordsIn(registryFileName), 2u);
}

// Changed before anything could be loaded: what memory holds goes beside the
// file, which keeps its records.
TEST_F(InjectedFaults, AStartThatThrowsThenAChangeKeepsBoth) {
    setFakeFile(registryFileName, twoFreqs());
    setFaultPlan(everyCurrentDirectoryThrows);
    EXPECT_THROW(startPluginState(state), std::bad_alloc);
    noteFailedStart(state, "not enough memory");
    clearFaultPlan();
    addOneFreq(300);

    send(Connect);
    EXPECT_EQ(echoed[1], "Registry file Zandrel.teams could not be loaded (the plug-in's start "
                         "failed: not enough memory) and was left in place; it will not be saved "
                         "over, and changes go to a side file beside it at each autosave.");
    echoed.clear();
    send(Tick);
    EXPECT_EQ(*fakeFile(registryFileName), twoFreqs());
    ASSERT_FALSE(state.store.sideFileName.empty());
    const DecodedChangeFile side = decodeChangeFile(*fakeFile(state.store.sideFileName));
    ASSERT_EQ(side.changes.size(), 1u);
    EXPECT_EQ(side.changes[0].freq, 300);
    ASSERT_EQ(echoed.size(), 2u);
    EXPECT_NE(echoed[1].find("What this process holds was written to Zandrel.teams.unsaved"),
              std::string::npos)
        << echoed[1];
}

} // namespace
