// A host that starts while a registry tool holds the folder's lock for a
// moment must not work in memory for its whole life: while it has changed
// nothing, it takes the lock at the next connection and loads the file
// afresh, the tool's change included. Once it has changed something, it
// takes the lock only if the file is still as it loaded it, and otherwise
// keeps its changes in its side file.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/change_file.h"
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
              "No process holds Zandrel.teams.lock now (the process that held it when this one "
              "started has ended), but Zandrel.teams has changed since this one loaded it, so "
              "this one does not write over it: its changes go to a side file of its own at each "
              "autosave, for hadrok teams recover to merge once the host is stopped.");
    EXPECT_EQ(TempDir::read(registryFileName), freqsImage({100, 200}));
}

std::vector<std::string> sideFiles() {
    std::vector<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("."))
        if (e.path().filename().string().starts_with("Zandrel.teams.unsaved"))
            names.push_back(e.path().filename().string());
    return names;
}

// What a side file holds is freq 300 registered since the load, and nothing
// else: its record as memory holds it, and no record before it.
void expectFreq300Registered(const std::string& side, FreqRegistry& registry) {
    const DecodedChangeFile file = decodeChangeFile(TempDir::read(side));
    ASSERT_EQ(file.kind, ChangeFileKind::changes) << file.reason;
    ASSERT_EQ(file.changes.size(), 1u);
    const FreqChange& change = file.changes[0];
    EXPECT_EQ(change.freq, 300);
    EXPECT_EQ(change.baseKind, BaseKind::none);
    ASSERT_TRUE(change.hasNew);
    const FreqRecord* held = registry.freqs.firstWithFreq(300);
    ASSERT_NE(held, nullptr);
    EXPECT_EQ(std::memcmp(&change.now, held, freqRecordSize), 0);
}

// A second host, started while a host (pid 32) held the lock, registers
// freq 300; then the holder ends, one way or another, and an autosave comes.
struct BesideAHost {
    BesideAHost() {
        resetClock();
        sentLines().clear();
        TempDir::write(registryFileName, freqsImage({100}));
        EXPECT_EQ(takeFileLock(registryLockFileName, holder), LockResult::taken);
        EXPECT_TRUE(writeLockHolder(holder, "host 32 2026-01-01 00:00:00"));
        startPluginState(state);
        EXPECT_FALSE(holdsRegistry(state.store));
        bot.handle = 1;
        char owner[20] = "Bob";
        addFreq(state.registry, 300, owner, 0);
        withFreq300 = registryImage(state.registry);
    }
    ~BesideAHost() {
        releaseFileLock(holder);
        closeRegistryStore(state.store);
    }
    std::vector<std::string> connect() {
        sentLines().clear();
        BotEvent event{};
        event.handle = 1;
        event.code = Connect;
        event.slot[0] = 6u << 16;
        event.slot[1] = reinterpret_cast<uintptr_t>(&recordHostEvent);
        handleEvent(bot, state, event);
        return echoed();
    }
    std::vector<std::string> autosave() {
        sentLines().clear();
        bot.iniConfig.autoSaveDelay = 1;
        bot.autoSaveCountdown = 1;
        BotEvent event{};
        event.handle = 1;
        event.code = Tick;
        handleEvent(bot, state, event);
        return echoed();
    }
    static std::vector<std::string> echoed() {
        std::vector<std::string> lines;
        for (const SentLine& line : sentLines())
            lines.push_back(line.text);
        return lines;
    }
    TempDir dir;
    FileLock holder;
    PluginState state;
    BotInstance bot;
    std::string withFreq300; // freq 100 loaded, 300 registered since
};

const char besideTail[] = "its changes go to a side file of its own at each autosave, for hadrok "
                          "teams recover to merge once the host is stopped.";

struct StartedBesideAHost : ::testing::Test, BesideAHost {};

TEST_F(StartedBesideAHost, SaysWhatHappensWhileTheHolderRuns) {
    const std::vector<std::string> said = connect();
    ASSERT_GE(said.size(), 2u);
    EXPECT_EQ(said[1], std::string("A host process (pid 32) holds the registry in this directory "
                                   "(Zandrel.teams.lock is locked), so this one does not write "
                                   "Zandrel.teams: ") +
                           besideTail +
                           " It saves to Zandrel.teams itself if that holder ends and nobody "
                           "wrote the file meanwhile.");
    // What it holds is beside the registry from the first autosave on, where
    // a crash can't lose it and status sees it.
    const std::vector<std::string> saved = autosave();
    const std::vector<std::string> sides = sideFiles();
    ASSERT_EQ(sides.size(), 1u);
    expectFreq300Registered(sides[0], state.registry);
    EXPECT_EQ(saved.back(), "Not saved to Zandrel.teams: this process does not hold "
                            "Zandrel.teams.lock, so it does not write over it. What this process "
                            "holds was written to " +
                                sides[0] +
                                " beside it; once the host is stopped, hadrok teams recover "
                                "merges it into the registry.");
    EXPECT_EQ(TempDir::read(registryFileName), freqsImage({100}));
}

struct HolderEnd {
    const char* name;
    bool wroteRegistry; // the holder saved before it ended
    bool crashed;       // it ended without clearing its line
};

TEST(StartedBesideAHostThatEnds, TakesOverOnlyWhatNobodyWrote) {
    for (const HolderEnd end : {HolderEnd{"stopped cleanly, file as loaded", false, false},
                                HolderEnd{"crashed, file as loaded", false, true},
                                HolderEnd{"saved, then stopped", true, false},
                                HolderEnd{"saved, then crashed", true, true}}) {
        SCOPED_TRACE(end.name);
        BesideAHost host;
        if (end.wroteRegistry) TempDir::write(registryFileName, freqsImage({100, 200}));
        if (end.crashed) host.holder.named = false; // its line stays behind
        releaseFileLock(host.holder);
        const std::vector<std::string> said = host.connect();
        ASSERT_GE(said.size(), 2u);
        if (!end.wroteRegistry) {
            // Retried at the connection: the file is as loaded, so it holds now.
            EXPECT_TRUE(holdsRegistry(host.state.store));
            EXPECT_EQ(said[1], "This process now holds Zandrel.teams.lock (its holder has ended), "
                               "and Zandrel.teams is still as this one loaded it: its changes are "
                               "saved to it from now on.");
            host.autosave();
            EXPECT_EQ(TempDir::read(registryFileName), host.withFreq300);
            EXPECT_EQ(sideFiles(), std::vector<std::string>{});
            continue;
        }
        // Never the dead holder named as holding, and never a write over
        // what it saved.
        EXPECT_FALSE(holdsRegistry(host.state.store));
        EXPECT_EQ(said[1], std::string("No process holds Zandrel.teams.lock now (a host process "
                                       "(pid 32), which held it when this one started, has "
                                       "ended), but Zandrel.teams has changed since this one "
                                       "loaded it, so this one does not write over it: ") +
                               besideTail);
        host.autosave();
        EXPECT_EQ(TempDir::read(registryFileName), freqsImage({100, 200}));
        const std::vector<std::string> sides = sideFiles();
        ASSERT_EQ(sides.size(), 1u);
        expectFreq300Registered(sides[0], host.state.registry);
        // The lock is left to whoever needs it.
        FileLock next;
        EXPECT_EQ(takeFileLock(registryLockFileName, next), LockResult::taken);
        releaseFileLock(next);
    }
}

TEST_F(StartedBesideAHost, ASideFileWrittenBeforeTheLockIsRemovedOnceSaved) {
    autosave();
    ASSERT_EQ(sideFiles().size(), 1u);
    releaseFileLock(holder);
    autosave();
    EXPECT_TRUE(holdsRegistry(state.store));
    EXPECT_EQ(TempDir::read(registryFileName), withFreq300);
    // What it held is all in the registry now: merged, the older side file
    // would bring back a state since changed.
    EXPECT_EQ(sideFiles(), std::vector<std::string>{});
}

} // namespace
