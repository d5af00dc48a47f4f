// A wrong clock must cost nobody his freq, his undo copy or his backup: the
// system clock set a year ahead and back, jumping forward under a running
// host, past 2038, and giving no time at all.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <set>
#include <sstream>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/audit_log.h"
#include "registry/registry_file.h"
#include "tests/fakes/lone_registry_file.h"
#include "time_zone_guard.h"

namespace {

constexpr int64_t dayMs = 24 * 3600 * 1000LL;
constexpr int64_t yearMs = 365 * dayMs;

std::set<std::string> namesStartingWith(const std::string& prefix) {
    std::set<std::string> names;
    for (const auto& e : std::filesystem::directory_iterator("."))
        if (e.path().filename().string().rfind(prefix, 0) == 0)
            names.insert(e.path().filename().string());
    return names;
}

// The wall clock set to wallMs, the monotonic clock running on.
void setWallClock(int64_t wallMs) {
    startClock(fakeMonotonicMs(), wallMs);
}

class ClockFaults : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    TimeZoneGuard zone{"UTC"};
    void TearDown() override { resetClock(); }

    // A host whose every tick saves, keeping `keep` backups and snapshots.
    void startHost(uint32_t keep) {
        host = std::make_unique<FakeHost>();
        host->bot.iniConfig.auditLog = 1;
        host->bot.iniConfig.backups = keep;
        host->bot.iniConfig.maxOwnedFreqs = 100;
        host->bot.iniConfig.autoSaveDelay = 1;
        host->bot.autoSaveCountdown = 1;
        alice = &host->addPlayer("Alice");
        op = &host->addPlayer("Op", 1);
    }

    // One day of a zone: a registration, an operator's reset, an autosave.
    std::string day(int n) {
        host->command(*alice, "freg", (std::to_string(100 + n) + ":pw").c_str());
        host->command(*op, "freqreset", "");
        host->tick();
        const std::string log = TempDir::read(auditLogFileName);
        const size_t at = log.rfind("snapshot ");
        return at == std::string::npos ? "" : log.substr(at + 9, log.find('\n', at) - at - 9);
    }

    std::unique_ptr<FakeHost> host;
    PlayerRecord* alice = nullptr;
    PlayerRecord* op = nullptr;
};

// A week a year ahead, then set right: every snapshot just made is there,
// the newest of each kind are the ones written last, and nothing written
// under the fast clock is lost either.
TEST_F(ClockFaults, AYearFastThenCorrectedKeepsTheNewestWrittenFiles) {
    startHost(3);
    setWallClock((fakeWallStart + 365 * 86400) * 1000);
    for (int n = 0; n < 7; ++n) {
        const std::string snapshot = day(n);
        ASSERT_TRUE(TempDir::exists(snapshot)) << snapshot;
        advanceClock(dayMs);
    }
    const auto fastBackups = namesStartingWith("Zandrel.teams.2027-");
    ASSERT_EQ(fastBackups.size(), 3u);

    setWallClock(fakeWallStart * 1000 + 7 * dayMs); // set right
    std::vector<std::string> written;
    for (int n = 7; n < 14; ++n) {
        written.push_back(day(n));
        EXPECT_TRUE(TempDir::exists(written.back()))
            << "just written, then gone: " << written.back();
        char today[32];
        std::snprintf(today, sizeof today, "Zandrel.teams.2026-01-%02d", n + 1);
        EXPECT_TRUE(TempDir::exists(today)) << today;
        advanceClock(dayMs);
    }
    // The three written last of each kind are there.
    for (size_t i = written.size() - 3; i < written.size(); ++i)
        EXPECT_TRUE(TempDir::exists(written[i])) << written[i];
    for (const char* name :
         {"Zandrel.teams.2026-01-12", "Zandrel.teams.2026-01-13", "Zandrel.teams.2026-01-14"})
        EXPECT_TRUE(TempDir::exists(name)) << name;
    // And those of the fast week wait for their dates.
    for (const std::string& name : fastBackups)
        EXPECT_TRUE(TempDir::exists(name)) << name;
}

TEST_F(ClockFaults, AForwardJumpExpiresNothing) {
    startHost(7);
    host->bot.iniConfig.expireUnusedDays = 30;
    host->command(*alice, "freg", "100:pw");
    advanceClock(60 * 1000);
    setWallClock(fakeWallMs() + yearMs);
    host->take();
    host->tick();
    EXPECT_NE(findFreq(host->registry, 100), nullptr);
    const Lines lines = host->take();
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[0], "echo: AutoSave...");
    EXPECT_EQ(lines[1], "echo: The system clock is 525600 minutes ahead of the time measured "
                        "since the plug-in was loaded; 1 freq it would expire stays.");
    FreqRegistry saved;
    ASSERT_TRUE(loadRegistry(saved));
    EXPECT_EQ(saved.freqs.count(), 1u);

    // Time that really passes still counts.
    advanceClock(31 * dayMs);
    host->tick();
    EXPECT_EQ(findFreq(host->registry, 100), nullptr);
}

TEST_F(ClockFaults, PastTwentyThirtyEightDatesStayRight) {
    startHost(7);
    setWallClock(2208988800LL * 1000); // 2040-01-01 00:00:00 UTC
    host->command(*alice, "freg", "100:pw");
    host->tick();
    host->command(*alice, "fname", "100:later");
    host->tick();
    EXPECT_TRUE(TempDir::exists("Zandrel.teams.2040-01-01"));
    const std::string snapshot = day(1);
    EXPECT_EQ(snapshot.rfind("Zandrel.teams.before-freqreset-20400101-000000", 0), 0u) << snapshot;
    EXPECT_EQ(TempDir::read(auditLogFileName).rfind("2040-01-01 00:00:00 bot=1", 0), 0u);
}

TEST_F(ClockFaults, AClockGivingNoTimeMakesNoDatedFileAndSetsNoStamp) {
    startHost(7);
    host->command(*alice, "freg", "100:pw");
    const int32_t stamp = findFreq(host->registry, 100)->lastUsed;
    host->take();
    setWallClock(-1000); // time() gives -1: no time
    host->changeFreq(*alice, 100);
    EXPECT_EQ(findFreq(host->registry, 100)->lastUsed, stamp);
    host->tick();
    host->command(*op, "freqreset", "");
    EXPECT_TRUE(namesStartingWith("Zandrel.teams.before-").empty());
    EXPECT_TRUE(namesStartingWith("Zandrel.teams.20").empty());
    const Lines lines = host->take();
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "echo: The daily backup of today could not be written (the system clock "
                        "gives no time)."),
              lines.end());
    EXPECT_NE(std::find(lines.begin(), lines.end(),
                        "echo: No undo copy of the registry could be made before !freqreset (the "
                        "system clock gives no time)."),
              lines.end());

    // A freq registered now is left unstamped, never dated 1970 (which the
    // next sweep would expire); with the clock back a year later the sweep
    // expires the stamped freq and keeps the unstamped one until an
    // admission stamps it.
    setWallClock(fakeWallStart * 1000);
    host->command(*alice, "freg", "100:pw");
    setWallClock(-1000);
    host->command(*alice, "freg", "101:pw");
    EXPECT_EQ(findFreq(host->registry, 101)->lastUsed, unstampedTime);
    setWallClock(fakeWallStart * 1000);
    advanceClock(yearMs);
    host->bot.iniConfig.expireUnusedDays = 30;
    host->tick();
    EXPECT_EQ(findFreq(host->registry, 100), nullptr);
    ASSERT_NE(findFreq(host->registry, 101), nullptr);
    host->changeFreq(*alice, 101);
    EXPECT_EQ(findFreq(host->registry, 101)->lastUsed, int32_t(fakeWallStart + 365 * 86400));
}

} // namespace
