#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/audit_log.h"
#include "registry/refusal_counts.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "tests/fakes/lone_registry_file.h"
#include "time_zone_guard.h"

namespace {

std::vector<std::string> logLines() {
    std::istringstream in(TempDir::read(auditLogFileName));
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

class Audit : public ::testing::Test {
  protected:
    void SetUp() override {
        resetClock();
        host.bot.iniConfig.auditLog = 1;
    }
    TimeZoneGuard zone{"UTC"}; // the log's lines are read in UTC
    FakeHost host;
};

TEST_F(Audit, EveryChangeLeavesOneLine) {
    PlayerRecord& alice = host.addPlayer("Alice", 0, "Reds");
    PlayerRecord& bob = host.addPlayer("Bob");
    PlayerRecord& op = host.addPlayer("Op", 3);
    host.command(alice, "freg", "100:secret");
    host.command(alice, "fname", "100:Red Team");
    host.command(alice, "fname", "100:Reds");
    host.command(alice, "fpass", "100:other");
    host.command(alice, "fsquad", "100:Reds");
    host.command(alice, "fwelc", "100:Hi %name%");
    host.command(bob, "fjoin", "100:wrong");
    host.command(bob, "fjoin", "100:other");
    host.command(alice, "finv", "100:bob");
    bob.freq = 100;
    host.command(alice, "fkick", "100:Bob");
    host.command(alice, "fgrant", "100:Alice");
    host.command(alice, "fgrant", "100:Bob");
    host.command(alice, "freqs", "");      // no change, no line
    host.command(alice, "fname", "100:x"); // refused, no line
    host.command(op, "funreg", "100");
    std::vector<std::string> expected = {
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !freg freq=100: registered",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fname freq=100: name \"\" -> \"Red "
        "Team\"",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fname freq=100: name \"Red Team\" -> "
        "\"Reds\"",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fpass freq=100: password changed",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fsquad freq=100: squad \"\" -> "
        "\"Reds\"",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fwelc freq=100: welcome changed",
        "2026-01-01 00:00:00 bot=1 player=\"Bob\" level=0 !fjoin freq=100: wrong password",
        "2026-01-01 00:00:00 bot=1 player=\"Bob\" level=0 !fjoin freq=100: admitted by password",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !finv freq=100: invited \"Bob\"",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fkick freq=100: kicked \"Bob\"",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fgrant freq=100: owner unchanged: "
        "handed to its owner \"Alice\"",
        "2026-01-01 00:00:00 bot=1 player=\"Alice\" level=0 !fgrant freq=100: owner \"Alice\" -> "
        "\"Bob\"",
        "2026-01-01 00:00:00 bot=1 player=\"Op\" level=3 !funreg freq=100: unregistered by an "
        "operator; owner was \"Bob\"; record: owner \"Bob\", name \"Reds\", squad \"Reds\", "
        "welcome \"Hi %name%\", last used 2026-01-01 00:00:00",
    };
    EXPECT_EQ(logLines(), expected);
    for (const std::string& line : logLines())
        EXPECT_EQ(line.find("secret"), std::string::npos);
}

TEST_F(Audit, NamesAndTextsCannotBreakOrForgeALine) {
    PlayerRecord& evil = host.addPlayer("Ev\nil\"\\\xE9");
    host.command(evil, "freg", "100:pw");
    host.command(evil, "fname", "100:x\r\n2026-01-01 forged\x01\xFF");
    auto lines = logLines();
    ASSERT_EQ(lines.size(), 2u);
    EXPECT_EQ(lines[0], "2026-01-01 00:00:00 bot=1 player=\"Ev\\x0Ail\\x22\\\\xE9\" level=0 "
                        "!freg freq=100: registered");
    EXPECT_EQ(lines[1], "2026-01-01 00:00:00 bot=1 player=\"Ev\\x0Ail\\x22\\\\xE9\" level=0 "
                        "!fname freq=100: name \"\" -> \"x\\x0D\\x0A2026-01-01 forged\\x01\\xFF\"");
}

TEST_F(Audit, TurnedOffWritesNothing) {
    host.bot.iniConfig.auditLog = 0;
    PlayerRecord& alice = host.addPlayer("Alice");
    host.command(alice, "freg", "100:pw");
    EXPECT_FALSE(TempDir::exists(auditLogFileName));
}

TEST_F(Audit, LogIsRotatedPastOneMebibyteKeepingFiveGenerations) {
    for (int generation = 1; generation <= 7; ++generation) {
        TempDir::write(auditLogFileName, std::string(auditLogRotateBytes, char('0' + generation)));
        lookAtAuditLogFile(host.state.log); // written from outside the log
        auditLog(host.state.log, {}, "test", noFreq, "line");
    }
    EXPECT_EQ(TempDir::read(auditLogFileName), "2026-01-01 00:00:00 bot=0 test: line\n");
    for (int n = 1; n <= 5; ++n) {
        std::string kept = TempDir::read(std::string(auditLogFileName) + "." + std::to_string(n));
        ASSERT_FALSE(kept.empty()) << n;
        EXPECT_EQ(kept[0], char('0' + 8 - n)) << n; // .1 is the newest
    }
    EXPECT_FALSE(TempDir::exists(std::string(auditLogFileName) + ".6"));
}

TEST_F(Audit, OperatorDeletionsLeaveARestorableSnapshot) {
    PlayerRecord& alice = host.addPlayer("Alice");
    PlayerRecord& op = host.addPlayer("Op", 1);
    host.bot.iniConfig.maxOwnedFreqs = 5;
    host.command(alice, "freg", "100:pw");
    host.command(alice, "freg", "200:pw");
    std::string before = registryImage(host.registry);
    host.command(op, "freqkill", "ALICE");
    const char* snapshot = "Zandrel.teams.before-freqkill-20260101-000000";
    EXPECT_EQ(TempDir::read(snapshot), before);
    EXPECT_EQ(logLines().back(), "2026-01-01 00:00:00 bot=1 player=\"Op\" level=1 !freqkill: "
                                 "deleted the freqs of \"ALICE\": 100 200; snapshot " +
                                     std::string(snapshot));

    // Restoring: the snapshot put in place of the registry file loads it all back.
    std::filesystem::copy_file(snapshot, registryFileName);
    FreqRegistry restored;
    loadRegistry(restored);
    EXPECT_EQ(registryImage(restored), before);

    host.command(alice, "freg", "300:pw");
    host.command(op, "freqreset", "");
    EXPECT_TRUE(TempDir::exists("Zandrel.teams.before-freqreset-20260101-000000"));
    EXPECT_EQ(logLines().back(), "2026-01-01 00:00:00 bot=1 player=\"Op\" level=1 !freqreset: "
                                 "cleared 1 freqs and 0 invites; snapshot "
                                 "Zandrel.teams.before-freqreset-20260101-000000");
    // A second reset in the same second must not overwrite the first snapshot.
    host.command(alice, "freg", "400:pw");
    host.command(op, "freqreset", "");
    EXPECT_TRUE(TempDir::exists("Zandrel.teams.before-freqreset-20260101-000000.1"));
}

TEST_F(Audit, DatedBackupsOncePerDayNewestSevenKept) {
    host.bot.iniConfig.backups = 7;
    host.bot.iniConfig.autoSaveDelay = 1;
    host.bot.autoSaveCountdown = 1;
    PlayerRecord& alice = host.addPlayer("Alice");
    host.tick(); // first save: nothing to back up yet
    EXPECT_FALSE(TempDir::exists("Zandrel.teams.2026-01-01"));
    host.command(alice, "freg", "100:pw");
    host.tick(); // replaces the empty file: today's backup is that empty file
    EXPECT_EQ(TempDir::read("Zandrel.teams.2026-01-01"), "");
    host.command(alice, "fname", "100:later");
    host.tick(); // same day: the backup stays as it was
    EXPECT_EQ(TempDir::read("Zandrel.teams.2026-01-01"), "");
    for (int day = 2; day <= 10; ++day) {
        advanceClock(24 * 3600 * 1000LL);
        host.tick();
    }
    std::vector<std::string> dated;
    for (const auto& e : std::filesystem::directory_iterator("."))
        if (e.path().filename().string().rfind("Zandrel.teams.2026-", 0) == 0)
            dated.push_back(e.path().filename().string());
    std::sort(dated.begin(), dated.end());
    EXPECT_EQ(dated,
              (std::vector<std::string>{"Zandrel.teams.2026-01-04", "Zandrel.teams.2026-01-05",
                                        "Zandrel.teams.2026-01-06", "Zandrel.teams.2026-01-07",
                                        "Zandrel.teams.2026-01-08", "Zandrel.teams.2026-01-09",
                                        "Zandrel.teams.2026-01-10"}));
    EXPECT_EQ(TempDir::read("Zandrel.teams.2026-01-10"), registryImage(host.registry));
}

TEST_F(Audit, FailedSaveIsToldAndLogged) {
    // A directory where this process's temporary file must go.
    std::filesystem::create_directories(std::string(registryFileName) +
                                        host.state.store.temporarySuffix + "/blocked");
    host.bot.iniConfig.autoSaveDelay = 1;
    host.bot.autoSaveCountdown = 1;
    host.tick();
    EXPECT_EQ(logLines(), (std::vector<std::string>{
                              "2026-01-01 00:00:00 bot=1 save: saving failed (Is a directory); "
                              "the file on disk is unchanged"}));
    ASSERT_EQ(sentLines().size(), 2u);
    EXPECT_EQ(sentLines()[0].text, "AutoSave...");
    EXPECT_EQ(sentLines()[1].text, "Saving Zandrel.teams failed (Is a directory); the file on "
                                   "disk is unchanged. Trying again at the next autosave.");
}

// The load's line waits for the first accepted connection, whose AuditLog
// setting decides whether it is written at all.
TEST_F(Audit, DamagedFileKeptAsideIsLoggedUnlessTheLogIsOff) {
    for (const char* auditLog : {"1", "0"}) {
        std::filesystem::remove(auditLogFileName);
        std::filesystem::remove("Zandrel.teams.damaged");
        TempDir::write(registryFileName, std::string(300, 'x'));
        TempDir::write("freqs.ini", std::string("[Config]\nAuditLog=") + auditLog + "\n");
        PluginState state;
        state.store.lockResult = LockResult::taken; // the host's store holds the lock here
        state.store.temporarySuffix = host.state.store.temporarySuffix;
        loadRegistryFile(state.store, state.registry);
        BotEvent connect{1,
                         Connect,
                         {0x60000, reinterpret_cast<uintptr_t>(&recordHostEvent),
                          reinterpret_cast<uintptr_t>(&host.head)}};
        handleEvent(host.bot, state, connect);
        std::vector<std::string> expected;
        if (auditLog[0] == '1')
            expected = {"2026-01-01 00:00:00 bot=0 load: registry file damaged (size 300), kept "
                        "as Zandrel.teams.damaged"};
        EXPECT_EQ(logLines(), expected) << "AuditLog=" << auditLog;
    }
}

} // namespace

namespace {

class AuditCounts : public Audit {
  protected:
    void SetUp() override {
        Audit::SetUp();
        host.bot.iniConfig.maxOwnedFreqs = 20;
        PlayerRecord& ann = host.addPlayer("Ann");
        for (int freq = 100; freq < 110; ++freq)
            host.command(ann, "freg", (std::to_string(freq) + ":secret").c_str());
        std::filesystem::remove(auditLogFileName);
        lookAtAuditLogFile(host.state.log);
    }
    void wrong(const PlayerRecord& player, int freq) {
        host.command(player, "fjoin", (std::to_string(freq) + ":guess").c_str());
    }
    void pass(int seconds) {
        advanceClock(seconds * 1000LL);
        host.tick();
    }
};

const char malPrefix[] = "bot=1 player=\"Mal\" level=0 !fjoin";

// A player's first wrong password is written as it comes; the rest of his
// minute is one line, per freq; a quiet minute ends his count.
TEST_F(AuditCounts, WrongPasswordsAreOneLineAMinutePerPlayer) {
    PlayerRecord& mal = host.addPlayer("Mal");
    PlayerRecord& bob = host.addPlayer("Bob");
    for (int i = 0; i < 3; ++i)
        wrong(mal, 100);
    wrong(mal, 101);
    wrong(mal, 101);
    wrong(bob, 100);
    pass(59);
    EXPECT_EQ(logLines(),
              (Lines{"2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !fjoin freq=100: wrong "
                     "password",
                     "2026-01-01 00:00:00 bot=1 player=\"Bob\" level=0 !fjoin freq=100: wrong "
                     "password"}));
    pass(1);
    wrong(mal, 100); // the next minute's
    EXPECT_EQ(logLines().back(), "2026-01-01 00:01:00 " + std::string(malPrefix) +
                                     ": 2 wrong passwords for freq=100, 2 for freq=101 by \"Mal\" "
                                     "in the minute from 2026-01-01 00:00:00");
    EXPECT_EQ(logLines().size(), 3u); // Bob's minute was quiet: no line
    pass(60);
    EXPECT_EQ(logLines().back(), "2026-01-01 00:02:00 " + std::string(malPrefix) +
                                     ": 1 wrong password for freq=100 by \"Mal\" in the minute "
                                     "from 2026-01-01 00:01:00");
    pass(60); // quiet: Mal's count ends
    wrong(mal, 102);
    EXPECT_EQ(logLines().back(),
              "2026-01-01 00:03:00 " + std::string(malPrefix) + " freq=102: wrong password");
    EXPECT_EQ(logLines().size(), 5u);
}

// Cycling freqs or names fills a fixed table; what does not fit is folded
// into one line, and the rest is written at unload.
TEST_F(AuditCounts, CountsStayBoundedAndFoldTheExcess) {
    PlayerRecord& mal = host.addPlayer("Mal");
    wrong(mal, 100);
    for (int round = 0; round < 3; ++round)
        for (int freq = 100; freq < 110; ++freq)
            wrong(mal, freq);
    std::vector<PlayerRecord*> others;
    for (size_t i = 0; i < countedPlayers + 6; ++i)
        others.push_back(&host.addPlayer("P" + std::to_string(i)));
    for (int round = 0; round < 2; ++round)
        for (PlayerRecord* p : others)
            wrong(*p, 100);
    // Mal and the first 63 others were written in full; the 7 beyond the
    // table were counted together.
    EXPECT_EQ(logLines().size(), countedPlayers);
    pass(60);
    const Lines lines = logLines();
    EXPECT_EQ(lines[countedPlayers],
              "2026-01-01 00:01:00 " + std::string(malPrefix) +
                  ": 3 wrong passwords for freq=100, 3 for freq=101, 3 for freq=102, 3 for "
                  "freq=103, 3 for freq=104, 3 for freq=105, 3 for freq=106, 3 for freq=107 and 6 "
                  "for other freqs by \"Mal\" in the minute from 2026-01-01 00:00:00");
    EXPECT_EQ(lines.back(), "2026-01-01 00:01:00 bot=0 !fjoin: 14 wrong passwords by players "
                            "beyond the 64 counted one by one, in the minute from 2026-01-01 "
                            "00:00:00");
    EXPECT_EQ(lines.size(), 2 * countedPlayers + 1);
    wrong(mal, 100);
    wrong(mal, 100);
    endAuditLog(host.state.log);
    EXPECT_EQ(logLines().back(), "2026-01-01 00:01:00 " + std::string(malPrefix) +
                                     ": 2 wrong passwords for freq=100 by \"Mal\" in the minute "
                                     "from 2026-01-01 00:01:00");
}

// A player's changes past his first five of a kind in a minute are counted,
// per kind and freq, into one line naming the last; an operator's are
// always written in full.
TEST_F(AuditCounts, RepeatedChangesAreCountedNamingTheLast) {
    PlayerRecord& ann = host.players.front();
    PlayerRecord& op = host.addPlayer("Op", 1);
    host.command(op, "freg", "200:pw");
    for (int i = 0; i < 7; ++i) {
        host.command(ann, "fname", ("100:n" + std::to_string(i)).c_str());
        host.command(op, "fname", ("200:o" + std::to_string(i)).c_str());
    }
    host.command(ann, "fpass", "100:x"); // another kind: in full
    EXPECT_EQ(logLines().size(), 1u + 5u + 7u + 1u);
    pass(60);
    EXPECT_EQ(logLines().back(),
              "2026-01-01 00:01:00 bot=1 player=\"Ann\" level=0 !fname freq=100: 2 name changes by "
              "\"Ann\" in the minute from 2026-01-01 00:00:00; the last set it to \"n6\"");
    EXPECT_EQ(logLines().size(), 15u);
}

TEST_F(AuditCounts, NoneCountedWithTheLogOff) {
    host.bot.iniConfig.auditLog = 0;
    PlayerRecord& mal = host.addPlayer("Mal");
    wrong(mal, 100);
    wrong(mal, 100);
    host.bot.iniConfig.auditLog = 1;
    pass(60);
    endAuditLog(host.state.log);
    EXPECT_FALSE(TempDir::exists(auditLogFileName));
}

// A missing generation is a free place: the rotation moves the newer ones
// into it, and the oldest stays.
TEST_F(Audit, RotationFillsAGapWithoutDroppingTheOldest) {
    const std::string name = auditLogFileName;
    TempDir::write(name, std::string(auditLogRotateBytes, 'L'));
    for (int n : {1, 2, 4, 5})
        TempDir::write(name + "." + std::to_string(n), std::to_string(n));
    auditLog(host.state.log, {}, "test", noFreq, "line");
    EXPECT_EQ(TempDir::read(name + ".1"), std::string(auditLogRotateBytes, 'L'));
    EXPECT_EQ(TempDir::read(name + ".2"), "1");
    EXPECT_EQ(TempDir::read(name + ".3"), "2");
    EXPECT_EQ(TempDir::read(name + ".4"), "4");
    EXPECT_EQ(TempDir::read(name + ".5"), "5");
    EXPECT_EQ(TempDir::read(name), "2026-01-01 00:00:00 bot=0 test: line\n");
}

// A tool writing beside a running host, without its lock, only appends: the
// host holds the log open, and rotating is the lock holder's.
TEST_F(Audit, ALineWithoutTheLockNeverRotates) {
    const std::string name = auditLogFileName;
    const std::string full(auditLogRotateBytes, 'L');
    TempDir::write(name, full);
    AuditLog tool;
    tool.mayRotate = false;
    auditToolLine(tool, "op", "salvage", noFreq, "wrote \"s.teams\"");
    EXPECT_FALSE(TempDir::exists(name + ".1"));
    EXPECT_EQ(TempDir::read(name),
              full + "2026-01-01 00:00:00 tool=\"hadrok teams\" user=\"op\" salvage: wrote "
                     "\"s.teams\"\n");
    EXPECT_EQ(auditLogProblem(tool), "");
}

// Paths keep their backslashes; one before an "x" alone is escaped, so that
// "\x" and two hex digits always reads as one byte.
TEST(AuditQuote, BackslashesStayUnlessTheyWouldReadAsAnEscape) {
    const struct {
        const char* text;
        const char* quoted;
    } cases[] = {
        {"C:\\Zandrel Host\\Zandrel.teams", "\"C:\\Zandrel Host\\Zandrel.teams\""},
        {"C:\\Zandrel Host\\", "\"C:\\Zandrel Host\\\""},
        {"D:\\x41\\xtra", "\"D:\\x5Cx41\\x5Cxtra\""},
        {"\\\\x", "\"\\\\x5Cx\""},
        {"a\"b\n\\\xE9", "\"a\\x22b\\x0A\\\\xE9\""},
    };
    for (const auto& c : cases)
        EXPECT_EQ(std::string(auditQuote(c.text).view()), c.quoted) << c.text;
}

} // namespace

namespace {

// When the oldest generation goes, the lines that players' repeats may not
// push out go on in hadrok.log.kept; the lines of a player's repeatable
// kinds go for good. The kept file, past its bound, loses its oldest lines
// only.
TEST_F(Audit, OldestGenerationLeavesItsOperatorAndOwnerLinesKept) {
    const std::string name = auditLogFileName;
    const std::vector<std::pair<std::string, bool>> oldest = {
        {"2026-01-01 00:00:00 bot=1 player=\"Op\" level=2 !freqkill: deleted the freqs of \"V\": "
         "100; snapshot x",
         true},
        {"2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !fname freq=101: name \"a\" -> \"b\"",
         false},
        {"2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !freg freq=101: registered", true},
        {"2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !fjoin: 7 wrong passwords for "
         "freq=101 by \"Mal\" in the minute from 2026-01-01 00:00:00",
         false},
        {"2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !fgrant freq=101: owner \"Mal\" -> "
         "\"Bob\"",
         true},
        {"2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !funreg freq=101: unregistered", true},
        {"2026-01-01 00:00:00 bot=1 player=\"Op\" level=2 !fname freq=102: name \"\" -> \"c\"",
         true},
        {"2026-01-01 00:00:00 bot=1 player=\"M\\x22 level=2 !fname\" level=0 !fname freq=101: "
         "name \"b\" -> \"a\"",
         false},
        {"2026-01-01 00:00:00 bot=1 save: saved Zandrel.teams (1 freq)", true},
        {"2026-01-01 00:00:00 tool=\"hadrok teams\" user=\"root\" passwd freq=101: password "
         "changed",
         true},
    };
    std::string oldestBytes, kept;
    for (const auto& [line, stays] : oldest) {
        oldestBytes += line + "\n";
        if (stays) kept += line + "\n";
    }
    // A kept file just at its bound: its first line goes, the rest stays.
    const std::string firstKept = std::string(999, 'k') + "\n";
    std::string before = firstKept;
    while (before.size() < size_t(auditLogKeptBytes + auditLogRotateBytes))
        before += std::string(999, 'm') + "\n";
    TempDir::write(name + auditLogKeptSuffix, before);
    TempDir::write(name, std::string(auditLogRotateBytes, 'L'));
    for (int n = 1; n <= 4; ++n)
        TempDir::write(name + "." + std::to_string(n), std::to_string(n));
    TempDir::write(name + ".5", oldestBytes);
    auditLog(host.state.log, {}, "test", noFreq, "line");
    EXPECT_EQ(TempDir::read(name + ".5"), "4");
    const std::string after = TempDir::read(name + auditLogKeptSuffix);
    ASSERT_GE(after.size(), kept.size());
    EXPECT_EQ(after.substr(after.size() - kept.size()), kept);
    EXPECT_LE(after.size(), before.size()); // trimmed to its bound
    EXPECT_GE(after.size(), size_t(auditLogKeptBytes));
    EXPECT_EQ(after.find(firstKept), std::string::npos);
    EXPECT_EQ(after[0], 'm');
}

// Players' registrations and unregistrations fill the kept file past its
// bound, again and again: an operator's line older than all of them stays,
// their oldest go, and the file stays within its bound.
TEST_F(Audit, PlayersLinesNeverPushAnOperatorsLineOutOfTheKeptFile) {
    const std::string name = auditLogFileName;
    const std::string operatorLine =
        "2026-01-01 00:00:00 bot=1 player=\"Op\" level=2 !freqkill: deleted the freqs of \"V\": "
        "100; snapshot x\n";
    const auto flood = [](size_t bytes, int from) {
        std::string lines;
        for (int n = from; lines.size() < bytes; ++n)
            lines += "2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !" +
                     std::string(n % 2 ? "funreg" : "freg") + " freq=" + std::to_string(n) + ": " +
                     (n % 2 ? "unregistered" : "registered") + "\n";
        return lines;
    };
    TempDir::write(name + auditLogKeptSuffix,
                   operatorLine + flood(size_t(auditLogKeptBytes + auditLogRotateBytes), 0));
    for (int round = 0; round < 3; ++round) {
        TempDir::write(name, std::string(auditLogRotateBytes, 'L'));
        for (int n = 1; n <= 4; ++n)
            TempDir::write(name + "." + std::to_string(n), std::to_string(n));
        const std::string oldest = flood(size_t(auditLogRotateBytes), 1000000 * (round + 1));
        TempDir::write(name + ".5", oldest);
        lookAtAuditLogFile(host.state.log); // written from outside the log
        auditLog(host.state.log, {}, "test", noFreq, "line");
        const std::string kept = TempDir::read(name + auditLogKeptSuffix);
        EXPECT_EQ(kept.rfind(operatorLine, 0), 0u) << "round " << round;
        EXPECT_TRUE(kept.ends_with(oldest)) << "round " << round;
        EXPECT_LE(kept.size(), size_t(auditLogKeptBytes + auditLogRotateBytes));
        EXPECT_GE(kept.size(), size_t(auditLogKeptBytes));
    }
}

} // namespace
