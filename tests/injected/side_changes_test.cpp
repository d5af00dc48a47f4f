// A save that fails or is refused keeps what changed since the last load or
// save beside the registry at once, each change with what it changed from:
// a host killed after it loses nothing the disk could take. Made to fail
// through the fake platform layer, which fails any call on demand.
#include <gtest/gtest.h>

#include <cstring>
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

extern "C" void keepEcho(BotEvent& event) {
    if (event.code == Echo) echoed.push_back(reinterpret_cast<const char*>(event.slot[0]));
}

FreqRecord recordOf(uint16_t freq, const char* owner, uint32_t hash = 0) {
    FreqRecord r{};
    r.freq = freq;
    setTextField(r.owner, owner);
    r.passwordHash = hash;
    return r;
}

std::string imageOf(std::initializer_list<FreqRecord> records) {
    FreqRegistry registry;
    for (const FreqRecord& r : records)
        registry.freqs.append(r);
    return registryImage(registry);
}

bool same(const FreqRecord& a, const FreqRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

// The one side file in the folder, decoded; fails the test when there is none.
std::vector<FreqChange> sideChanges() {
    std::vector<std::string> sides;
    for (const std::string& name : fakeFileNames())
        if (name.rfind("Zandrel.teams.unsaved.", 0) == 0) sides.push_back(name);
    EXPECT_EQ(sides.size(), 1u);
    if (sides.size() != 1) return {};
    const DecodedChangeFile file = decodeChangeFile(*fakeFile(sides[0]));
    EXPECT_EQ(file.kind, ChangeFileKind::changes) << file.reason;
    return file.changes;
}

size_t writesOfSideFiles() {
    size_t n = 0;
    for (const FakeWrite& write : fakeWrites())
        if (write.name.rfind("Zandrel.teams.unsaved.", 0) == 0) ++n;
    return n;
}

const FaultPlan registryWriteFails{
    .atCall = 1, .kind = "writeFileSafely", .fault = FaultClass::accessDenied};

class SideChanges : public ::testing::Test {
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
            event.slot[1] = reinterpret_cast<uintptr_t>(&keepEcho);
        }
        handleEvent(bot, state, event);
    }
    void autosaveFailing() {
        setFaultPlan(registryWriteFails);
        send(Tick);
        clearFaultPlan();
    }
    PluginState state;
    BotInstance bot;
};

// Saves fail: the first failed autosave writes every change since the last
// save, new, changed and unregistered, each with its base and its time;
// failed autosaves with nothing new write nothing; a change rewrites the
// run's own file; the save that works at last removes it.
TEST_F(SideChanges, AFailedAutosaveKeepsEachChangeWithItsBase) {
    const FreqRecord bob = recordOf(1500, "Bob", 1), carol = recordOf(500, "Carol", 2);
    setFakeFile(registryFileName, imageOf({bob, carol}));
    startPluginState(state);
    send(Connect);
    FreqRegistry& registry = state.registry;
    markChanged(registry, 1500);
    findFreq(registry, 1500)->passwordHash = 99;
    removeFreq(registry, findFreq(registry, 500));
    addFreq(registry, 3000, recordOf(3000, "Ann").owner, 7);
    advanceClock(5000);

    autosaveFailing();
    EXPECT_EQ(*fakeFile(registryFileName), imageOf({bob, carol}));
    const std::vector<FreqChange> changes = sideChanges();
    ASSERT_EQ(changes.size(), 3u);
    FreqRecord bobNew = bob;
    bobNew.passwordHash = 99;
    // In freq order: 500 unregistered, 1500 changed, 3000 new.
    EXPECT_EQ(changes[0].freq, 500);
    EXPECT_EQ(changes[0].baseKind, BaseKind::record);
    EXPECT_TRUE(same(changes[0].base, carol));
    EXPECT_FALSE(changes[0].hasNew);
    EXPECT_EQ(changes[1].freq, 1500);
    EXPECT_EQ(changes[1].baseKind, BaseKind::record);
    EXPECT_TRUE(same(changes[1].base, bob));
    EXPECT_TRUE(changes[1].hasNew);
    EXPECT_TRUE(same(changes[1].now, bobNew));
    EXPECT_EQ(changes[2].freq, 3000);
    EXPECT_EQ(changes[2].baseKind, BaseKind::none);
    EXPECT_EQ(changes[2].now.passwordHash, 7u);
    int64_t now = 0;
    ASSERT_TRUE(wallClock(now));
    for (const FreqChange& change : changes)
        EXPECT_GT(change.changedAt, 0) << change.freq;
    const bool toldOfIt = std::any_of(echoed.begin(), echoed.end(), [](const std::string& line) {
        return line.find("Saving Zandrel.teams failed") == 0 &&
               line.find("written to Zandrel.teams.unsaved.") != std::string::npos;
    });
    EXPECT_TRUE(toldOfIt);

    const size_t writes = writesOfSideFiles();
    autosaveFailing();
    autosaveFailing();
    EXPECT_EQ(writesOfSideFiles(), writes) << "nothing changed, yet the side file was written";

    addFreq(registry, 7000, recordOf(7000, "Dan").owner, 0);
    autosaveFailing();
    EXPECT_EQ(writesOfSideFiles(), writes + 1);
    EXPECT_EQ(sideChanges().size(), 4u);

    send(Tick); // the save works
    EXPECT_EQ(*fakeFile(registryFileName),
              imageOf({bobNew, recordOf(3000, "Ann", 7), recordOf(7000, "Dan")}));
    for (const std::string& name : fakeFileNames())
        EXPECT_EQ(name.rfind("Zandrel.teams.unsaved", 0), std::string::npos) << name;
}

// Registered, saved, then unregistered, and the save at unload fails: the
// unregistration is kept, against the save, not the load.
TEST_F(SideChanges, AnUnregistrationAfterTheLastSaveSurvivesAFailedSaveAtUnload) {
    startPluginState(state);
    send(Connect);
    addFreq(state.registry, 200, recordOf(200, "Eve").owner, 3);
    send(Tick);
    ASSERT_EQ(*fakeFile(registryFileName), imageOf({recordOf(200, "Eve", 3)}));
    removeFreq(state.registry, findFreq(state.registry, 200));
    setFaultPlan(registryWriteFails);
    stopPluginState(state);
    clearFaultPlan();
    const std::vector<FreqChange> changes = sideChanges();
    ASSERT_EQ(changes.size(), 1u);
    EXPECT_EQ(changes[0].freq, 200);
    EXPECT_FALSE(changes[0].hasNew);
    EXPECT_EQ(changes[0].baseKind, BaseKind::record);
    EXPECT_TRUE(same(changes[0].base, recordOf(200, "Eve", 3)));
}

// With the disk full, the side file's failure is told with the system's own
// reason for it, not that of a later look at the name.
TEST_F(SideChanges, AFullDiskIsToldAsAFullDisk) {
    startPluginState(state);
    send(Connect);
    addFreq(state.registry, 200, recordOf(200, "Eve").owner, 3);
    echoed.clear();
    setFaultPlan(
        {.atCall = 1, .kind = "writeFileSafely", .fault = FaultClass::noSpace, .count = 2});
    send(Tick);
    clearFaultPlan();
    const std::string full = std::strerror(ENOSPC);
    ASSERT_EQ(echoed.size(), 2u);
    EXPECT_NE(echoed[1].find("failed (" + full + ")"), std::string::npos) << echoed[1];
    EXPECT_NE(echoed[1].find("could not be written either (" + full + ")"), std::string::npos)
        << echoed[1];
    EXPECT_NE(echoed[1].find("freq 200 new"), std::string::npos) << echoed[1];
}

} // namespace
