#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <utility>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/password_hash.h"
#include "temp_dir.h"

namespace {

class Events : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    FakeHost host;

    FreqRecord* registerFreq(uint16_t freq, const PlayerRecord& owner) {
        FreqRecord* r = addFreq(host.registry, freq, owner.name, hashPassword("pw", 2));
        r->lastUsed = 7;
        return r;
    }
};

TEST_F(Events, AdmissionTestsAndTheirReplies) {
    PlayerRecord& owner = host.addPlayer("Alice", 0, "Reds");
    FreqRecord* r = registerFreq(100, owner);
    setTextField(r->allowedSquad, "Blues");
    setTextField(r->welcome, "Welcome %name%");
    struct Case {
        const char* name;
        const char* squad;
        bool invited;
        Lines expected;
    } cases[] = {
        {"aLICE", "", false, {"aLICE: Welcome aLICE"}},
        {"Invited", "", true, {"Invited: Welcome Invited"}},
        {"Squaddie", "BLUES", false, {"Squaddie: Welcome Squaddie"}},
        {"Stranger",
         "Reds",
         false,
         {"Stranger: You are not allowed on that freq", "Stranger: *setfreq 0"}},
        {"Operator",
         "",
         false,
         {"Operator: You are not allowed on that freq", "Operator: *setfreq 0"}},
    };
    for (const Case& c : cases) {
        PlayerRecord& p =
            host.addPlayer(c.name, c.name == std::string("Operator") ? 5 : 0, c.squad);
        if (c.invited) addInvite(host.registry, 100, c.name);
        r->lastUsed = 7;
        host.changeFreq(p, 100);
        EXPECT_EQ(host.take(), c.expected) << c.name;
        bool admitted = c.expected.size() == 1;
        EXPECT_EQ(r->lastUsed, admitted ? int32_t(fakeWallStart) : 7) << c.name;
    }
}

TEST_F(Events, EmptySquadsNeverMatch) {
    PlayerRecord& owner = host.addPlayer("Alice");
    registerFreq(100, owner);
    PlayerRecord& noSquad = host.addPlayer("Bob");
    host.changeFreq(noSquad, 100);
    EXPECT_EQ(host.take(), (Lines{"Bob: You are not allowed on that freq", "Bob: *setfreq 0"}));
}

TEST_F(Events, AdmittedWithoutWelcomeGetsNothingButIsStamped) {
    PlayerRecord& owner = host.addPlayer("Alice");
    FreqRecord* r = registerFreq(100, owner);
    host.changeFreq(owner, 100);
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(r->lastUsed, int32_t(fakeWallStart));
}

TEST_F(Events, UnregisteredFreqIsOpenAndSilent) {
    PlayerRecord& p = host.addPlayer("Bob");
    host.changeFreq(p, 0);
    host.changeFreq(p, 4321);
    EXPECT_TRUE(host.take().empty());
}

TEST_F(Events, WelcomeMacrosExpandInOrder) {
    PlayerRecord& owner = host.addPlayer("Bob", 0, "Sq");
    owner.pointsA = 4294967295u;
    owner.pointsB = 2;
    FreqRecord* r = registerFreq(1234, owner);
    setTextField(r->freqName, "Reds");
    setTextField(r->allowedSquad, "Fs");
    struct Case {
        const char* welcome;
        const char* freqName;
        const char* expected;
    } cases[] = {
        {"Hi %name% on %fnum% (%fname%)", "Reds", "Hi Bob on 1234 (Reds)"},
        {"%points%", "Reds", "1"},
        {"[%fsquad%|%sq%|%NAME%|%bogus%|100%]", "Reds", "[Fs|Sq|%NAME%|%bogus%|100%]"},
        // A later macro inside an earlier replacement is expanded; an earlier one is not.
        {"%fname%", "%sq% %name%", "Sq %name%"},
    };
    for (const Case& c : cases) {
        setTextField(r->welcome, c.welcome);
        setTextField(r->freqName, c.freqName);
        EXPECT_EQ(expandWelcome(*r, owner, 1234).view(), c.expected) << c.welcome;
    }
}

TEST_F(Events, TwentyCharacterNamesStayWithinTheirField) {
    PlayerRecord& p = host.addPlayer("ABCDEFGHIJKLMNOPQRST");
    FreqRecord* r = registerFreq(100, p);
    setTextField(r->welcome, "<%name%>");
    host.changeFreq(p, 100);
    EXPECT_EQ(host.take(), (Lines{"ABCDEFGHIJKLMNOPQRST: <ABCDEFGHIJKLMNOPQRST>"}));
}

TEST_F(Events, InvitesAgeOnEveryFifthTick) {
    addInvite(host.registry, 100, "Bob");
    advanceClock(31000);
    host.tick(4);
    EXPECT_NE(findInvite(host.registry, 100, "Bob"), nullptr);
    host.tick();
    EXPECT_EQ(findInvite(host.registry, 100, "Bob"), nullptr);
}

TEST_F(Events, AutoSaveComesEveryDelayTicks) {
    // The host moves to another directory: the saves stay beside the lock.
    TempDir elsewhere;
    host.bot.iniConfig.autoSaveDelay = 3;
    host.bot.autoSaveCountdown = 3;
    for (int tick = 1; tick <= 9; ++tick) {
        host.tick();
        Lines expected;
        if (tick % 3 == 0) expected.push_back("echo: AutoSave...");
        EXPECT_EQ(host.take(), expected) << "tick " << tick;
    }
    EXPECT_TRUE(std::filesystem::exists(host.dir.path / "Zandrel.teams"));
    EXPECT_FALSE(TempDir::exists("Zandrel.teams"));
}

// A live zone: players change freq all the time, and only what changes the
// registry (an admission's new stamp) is written at the next autosave.
TEST_F(Events, AnAutosaveAfterFreqChangesThatChangeNothingWritesNothing) {
    PlayerRecord& owner = host.addPlayer("Alice");
    PlayerRecord& stranger = host.addPlayer("Bob");
    registerFreq(100, owner);
    host.bot.iniConfig.autoSaveDelay = 1;
    host.bot.autoSaveCountdown = 1;
    const std::filesystem::path file = host.dir.path / "Zandrel.teams";
    auto writtenAs = [&] {
        struct stat st {};
        EXPECT_EQ(stat(file.c_str(), &st), 0);
        return std::pair{st.st_ino, int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
    };
    host.changeFreq(owner, 100); // stamped: a change
    host.tick();
    const auto first = writtenAs();
    struct Move {
        PlayerRecord* player;
        uint16_t freq;
    };
    // Refused, unregistered, and the owner again within the same second.
    for (const Move& move : {Move{&stranger, 100}, Move{&stranger, 4321}, Move{&owner, 100}})
        host.changeFreq(*move.player, move.freq);
    host.take();
    host.tick();
    EXPECT_EQ(host.take(), (Lines{"echo: AutoSave..."}));
    EXPECT_EQ(writtenAs(), first) << "an unchanged registry was written again";
    advanceClock(2000);
    host.changeFreq(owner, 100); // a new stamp
    host.tick();
    EXPECT_NE(writtenAs(), first);
}

TEST_F(Events, AutoSaveDelayZeroWrapsAndNeverSaves) {
    TempDir dir;
    host.bot.iniConfig.autoSaveDelay = 0;
    host.bot.autoSaveCountdown = 0;
    host.tick(1000);
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(host.bot.autoSaveCountdown, 4294967295u - 999u);
}

TEST_F(Events, ArenaEventsKeepWhatCommandsNeed) {
    PlayerRecord self{};
    self.freq = 8025;
    ArenaSettingsRecord settings{};
    BotEvent enter{1, ArenaEnter, {0, reinterpret_cast<uintptr_t>(&self)}};
    BotEvent arena{1, ArenaSettings, {reinterpret_cast<uintptr_t>(&settings)}};
    BotEvent leave{1, ArenaLeave, {}};
    handleEvent(host.bot, host.state, enter);
    handleEvent(host.bot, host.state, arena);
    handleEvent(host.bot, host.state, leave);
    EXPECT_EQ(host.bot.ownFreq, 8025);
    EXPECT_EQ(host.bot.arenaSettings, &settings);
    BotEvent nullEnter{1, ArenaEnter, {}};
    handleEvent(host.bot, host.state, nullEnter);
    EXPECT_EQ(host.bot.ownFreq, 8025);
}

TEST_F(Events, UnknownCodesAndNullSlotsDoNothing) {
    for (uint32_t code : {6u, 18u, 22u, 35u, 1000u, uint32_t(PlayerFreqChange), uint32_t(Command),
                          uint32_t(HelpRequest)}) {
        BotEvent e{1, code, {}};
        handleEvent(host.bot, host.state, e);
    }
    EXPECT_TRUE(host.take().empty());
}

struct HandshakeCase {
    uint32_t version;
    const char* line;
    bool disabled;
};

class Handshake : public ::testing::TestWithParam<HandshakeCase> {};

TEST_P(Handshake, VersionDecides) {
    TempDir dir;
    FakeHost host;
    BotInstance fresh;
    fresh.handle = 7;
    BotEvent connect{7,
                     Connect,
                     {GetParam().version, reinterpret_cast<uintptr_t>(&recordHostEvent),
                      reinterpret_cast<uintptr_t>(&host.head)}};
    handleEvent(fresh, host.state, connect);
    EXPECT_EQ(host.take(), (Lines{std::string("echo: ") + GetParam().line}));
    EXPECT_EQ(fresh.disabled, GetParam().disabled);
    if (fresh.disabled) {
        handleEvent(fresh, host.state, connect);
        EXPECT_TRUE(host.take().empty());
    } else {
        EXPECT_EQ(fresh.iniConfig.maxOwnedFreqs, 3u);
        EXPECT_EQ(fresh.iniConfig.inviteExpireSeconds, 30u);
        EXPECT_EQ(fresh.autoSaveCountdown, 300u);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Versions, Handshake,
    ::testing::Values(
        HandshakeCase{0x60000, "DLL plugin connected.", false},
        HandshakeCase{0x6FFFF, "DLL plugin connected.", false},
        HandshakeCase{0x50009,
                      "DLL plugin cannot connect.  This plugin requires the latest "
                      "version of Zandrel.",
                      true},
        HandshakeCase{0x70000, "DLL plugin cannot connect.  This plugin is out of date.", true}));

// Every key: its default, the value read, and the error line for a value
// that is not a whole number (the default then stands).
TEST(Config, ValuesDefaultsAndErrors) {
    // maxOwnedFreqs, inviteExpireSeconds, autoSaveDelay, auditLog, backups, expireUnusedDays
    const PluginConfig defaults{3, 30, 300, 1, 7, 0};
    struct Case {
        const char* ini; // null: no file at all
        PluginConfig expected;
        Lines errors;
    } cases[] = {
        {nullptr, defaults, {}},
        {"", defaults, {}},
        {"[Config]\nMaxOwnedFreqs=0\nInviteExpireSeconds=5\nAutoSaveDelay=1\nAuditLog=0\n"
         "Backups=0\nExpireUnusedDays=30\n",
         {0, 5, 1, 0, 0, 30},
         {}},
        {"[Config]\nMaxOwnedFreqs=-1\n", {4294967295u, 30, 300, 1, 7, 0}, {}},
        {"[Config]\nMaxOwnedFreqs=\nInviteExpireSeconds=+5\nAutoSaveDelay=10 minutes\n",
         defaults,
         {"freqs.ini error: Config:MaxOwnedFreqs must be numeric",
          "freqs.ini error: Config:InviteExpireSeconds must be numeric",
          "freqs.ini error: Config: must be numeric"}},
        {"[Config]\nAuditLog=yes\nBackups=7 days\n",
         defaults,
         {"freqs.ini error: Config:AuditLog must be numeric",
          "freqs.ini error: Config:Backups must be numeric"}},
        // Only the first 15 characters of a value are seen.
        {"[Config]\nAutoSaveDelay=1234567890123456789x\n", {3, 30, 2249056121u, 1, 7, 0}, {}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        if (c.ini) TempDir::write("freqs.ini", c.ini);
        const LoadedConfig loaded = loadConfig();
        const char* ini = c.ini ? c.ini : "(no file)";
        EXPECT_EQ(loaded.values.maxOwnedFreqs, c.expected.maxOwnedFreqs) << ini;
        EXPECT_EQ(loaded.values.inviteExpireSeconds, c.expected.inviteExpireSeconds) << ini;
        EXPECT_EQ(loaded.values.autoSaveDelay, c.expected.autoSaveDelay) << ini;
        EXPECT_EQ(loaded.values.auditLog, c.expected.auditLog) << ini;
        EXPECT_EQ(loaded.values.backups, c.expected.backups) << ini;
        EXPECT_EQ(loaded.values.expireUnusedDays, c.expected.expireUnusedDays) << ini;
        EXPECT_EQ(Lines(loaded.errorLines.begin(), loaded.errorLines.end()), c.errors) << ini;
    }
}

// A key of [Config] that is no setting is named once per reading, with the
// setting it resembles; what is no key line, or a comment, or in another
// section, is not. The file's bytes reach the host's window only escaped.
TEST(Config, UnknownKeysAreNamed) {
    const std::string more = "freqs.ini error: 2 more keys of Config are not settings; hadrok "
                             "config check lists them";
    struct Case {
        const char* ini;
        Lines expected;
    } cases[] = {
        {"[Config]\nMaxOwnedFreq=5\n",
         {"freqs.ini error: Config:MaxOwnedFreq is not a setting and is ignored (did you mean "
          "MaxOwnedFreqs?)"}},
        {"[config]\nColour=blue\nbackups=2\n",
         {"freqs.ini error: Config:Colour is not a setting and is ignored"}},
        {"[Config]\nBakups\n",
         {"freqs.ini error: Config:Bakups is not a setting and is ignored (did you mean "
          "Backups?)"}},
        {"[Config]\n;MaxOwnedFreqs=9\n# a note\nmaxownedfreqs=2\n[Other]\nColour=1\n", {}},
        {"Colour=1\n[Config]\nBackups=1\n[Config]\nColour=2\n", {}},
        {"[Config]\n\x1b[2JEvil=1\n",
         {"freqs.ini error: Config:\\x1B[2JEvil is not a setting and is ignored"}},
        {"[Config]\nAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA=1\n",
         {"freqs.ini error: Config:AAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAAA... is not a setting "
          "and is ignored"}},
        {"[Config]\nA1=1\nA2=1\nA3=1\nA4=1\nA5=1\n",
         {"freqs.ini error: Config:A1 is not a setting and is ignored",
          "freqs.ini error: Config:A2 is not a setting and is ignored",
          "freqs.ini error: Config:A3 is not a setting and is ignored", more}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        TempDir::write("freqs.ini", c.ini);
        const LoadedConfig loaded = loadConfig();
        EXPECT_EQ(loaded.unknownKeyLines, c.expected) << c.ini;
        EXPECT_TRUE(loaded.errorLines.empty()) << c.ini;
    }
}

} // namespace
