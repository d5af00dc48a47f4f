#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/password_hash.h"
#include "time_zone_guard.h"

namespace {

uint32_t hashOf(const std::string& password) {
    return hashPassword(password.data(), uint32_t(password.size()));
}

class Registration : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    // The listing shows local time; these tests read it in UTC.
    TimeZoneGuard zone{"UTC"};
    FakeHost host;

    FreqRecord* registerFreq(uint16_t freq, const PlayerRecord& owner,
                             const std::string& password = "pw") {
        FreqRecord* r = addFreq(host.registry, freq, owner.name, hashOf(password));
        r->lastUsed = 7;
        return r;
    }
};

// The checks of !freg, in their order: syntax, owned count, the number, a
// record already there.
TEST_F(Registration, FregChecksInOrder) {
    struct Case {
        const char* argument;
        uint32_t alreadyOwned;
        uint32_t maxOwned;
        bool settingsKnown;
        uint32_t freqLimit;
        const char* reply;
    } cases[] = {
        {"abc", 3, 3, true, 10000, "Invalid syntax"},
        {"50:pw", 3, 3, true, 10000, "You already own too many freqs"},
        {"100:pw", 4, 3, true, 10000, "You already own too many freqs"},
        {"100:pw", 0, 0, true, 10000, "You already own too many freqs"},
        {"99:pw", 0, 3, true, 10000, "Invalid freq"},
        {"0:pw", 0, 3, true, 10000, "Invalid freq"},
        {"-5:pw", 0, 3, true, 4294967295u, "Invalid freq"},
        {"9999:pw", 0, 3, true, 10000, "Invalid freq"}, // the bot's own freq
        {"10000:pw", 0, 3, true, 10000, "Invalid freq"},
        {"100:pw", 0, 3, true, 100, "Invalid freq"},
        // Above 16 bits it would land on freq 100 after passing checks for 65636.
        {"65636:pw", 0, 3, true, 100000, "Invalid freq"},
        // Typed numbers that wrap to 100 in 32 bits.
        {"4294967396:pw", 0, 3, true, 100000, "Invalid freq"},
        {"-4294967196:pw", 0, 3, true, 100000, "Invalid freq"},
        {"00000000000000000100:pw", 0, 3, true, 100000, "Freq registered"},
        {"100:pw", 0, 3, false, 0, "Invalid freq"},
        {"100:pw", 2, 3, true, 10000, "Freq registered"},
        {"100:pw", 0, 4294967295u, true, 101, "Freq registered"},
        {"9998:pw", 0, 3, true, 10000, "Freq registered"},
        {"65535:pw", 0, 3, true, 100000, "Freq registered"},
        {" 0100 : pw ", 0, 3, true, 10000, "Freq registered"},
    };
    for (const Case& c : cases) {
        FakeHost h;
        PlayerRecord& bob = h.addPlayer("Bob");
        for (uint32_t i = 0; i < c.alreadyOwned; ++i)
            addFreq(h.registry, uint16_t(1000 + i), bob.name, 0);
        h.bot.iniConfig.maxOwnedFreqs = c.maxOwned;
        h.settings.freqLimit = c.freqLimit;
        if (!c.settingsKnown) h.bot.arenaSettings = nullptr;
        h.command(bob, "freg", c.argument);
        EXPECT_EQ(h.take(), Lines{std::string("Bob: ") + c.reply}) << "'" << c.argument << "'";
        bool registered = std::string(c.reply) == "Freq registered";
        EXPECT_EQ(h.registry.freqs.count(), c.alreadyOwned + (registered ? 1 : 0))
            << "'" << c.argument << "'";
    }
}

TEST_F(Registration, FregRefusesAFreqThatHasARecord) {
    PlayerRecord& alice = host.addPlayer("Alice");
    PlayerRecord& bob = host.addPlayer("Bob");
    registerFreq(100, alice);
    registerFreq(200, bob);
    host.command(bob, "freg", "100:pw");
    host.command(bob, "freg", "200:pw");
    EXPECT_EQ(host.take(), (Lines{"Bob: That freq is already registered",
                                  "Bob: That freq is already registered"}));
    EXPECT_EQ(host.registry.freqs.count(), 2u);
}

TEST_F(Registration, FregStoresOwnerHashAndTimeAtTheEnd) {
    PlayerRecord& alice = host.addPlayer("Alice");
    // A name that fills its field: the owner is copied whole, without a zero.
    PlayerRecord& longName = host.addPlayer("ABCDEFGHIJKLMNOPQRST", 0, "Sq");
    registerFreq(300, alice);
    advanceClock(5000);
    host.command(longName, "freg", "100:  Secret Word  ");
    EXPECT_EQ(host.take(), Lines{"ABCDEFGHIJKLMNOPQRST: Freq registered"});

    FreqRecord* first = host.registry.freqs.first();
    FreqRecord* added = host.registry.freqs.next(first);
    ASSERT_NE(added, nullptr);
    EXPECT_EQ(first->freq, 300);
    EXPECT_EQ(added, findFreq(host.registry, 100));
    EXPECT_EQ(std::memcmp(added->owner, longName.name, 20), 0);
    EXPECT_EQ(added->passwordHash, hashOf("Secret Word"));
    EXPECT_NE(added->passwordHash, hashOf("  Secret Word  "));
    EXPECT_EQ(added->lastUsed, int32_t(fakeWallStart + 5));
    EXPECT_EQ(fieldOf(added->freqName), "");
    EXPECT_EQ(fieldOf(added->allowedSquad), "");
    EXPECT_EQ(fieldOf(added->welcome), "");

    // The stored owner counts against the same player's limit.
    host.bot.iniConfig.maxOwnedFreqs = 1;
    host.command(longName, "freg", "101:x");
    EXPECT_EQ(host.take(), Lines{"ABCDEFGHIJKLMNOPQRST: You already own too many freqs"});
}

TEST_F(Registration, FunregByOwnerOrOperator) {
    struct Case {
        const char* name;
        uint32_t level;
        bool removes;
    } cases[] = {
        {"Bob", 0, false}, {"ALICE", 0, true},  {"Op", 1, true},
        {"Mod", 2, true},  {"Owner", 12, true},
    };
    for (const Case& c : cases) {
        FakeHost h;
        PlayerRecord& alice = h.addPlayer("Alice");
        PlayerRecord& p = h.addPlayer(c.name, c.level);
        addFreq(h.registry, 50, alice.name, 0);
        addFreq(h.registry, 100, alice.name, 0);
        addFreq(h.registry, 150, alice.name, 0);
        addInvite(h.registry, 100, "Carl");
        h.command(p, "funreg", "100");
        std::string name = c.name;
        if (c.removes) {
            // The freq hears it first, then the player.
            EXPECT_EQ(h.take(), (Lines{"freq 100: This freq is no longer owned",
                                       name + ": Freq unregistered"}))
                << name;
            EXPECT_EQ(findFreq(h.registry, 100), nullptr) << name;
        } else {
            EXPECT_EQ(h.take(), Lines{name + ": You are not the owner of that freq"}) << name;
            EXPECT_NE(findFreq(h.registry, 100), nullptr) << name;
        }
        EXPECT_EQ(h.registry.freqs.count(), c.removes ? 2u : 3u) << name;
        EXPECT_EQ(h.registry.freqs.first()->freq, 50) << name;
        EXPECT_NE(findInvite(h.registry, 100, "Carl"), nullptr) << name;
    }
}

TEST_F(Registration, FreqsOnAnEmptyRegistry) {
    PlayerRecord& bob = host.addPlayer("Bob");
    PlayerRecord& op = host.addPlayer("Op", 3);
    host.command(bob, "freqs", "");
    host.command(op, "freqs", "anything");
    EXPECT_EQ(host.take(),
              (Lines{"Bob: There are no registered freqs", "Op: There are no registered freqs"}));
}

TEST_F(Registration, FreqsLines) {
    PlayerRecord& bob = host.addPlayer("Bob");
    PlayerRecord& al = host.addPlayer("Al");
    PlayerRecord& longName = host.addPlayer("ABCDEFGHIJKLMNOPQRST");
    PlayerRecord& op = host.addPlayer("Op", 1);
    PlayerRecord& owner = host.addPlayer("Owner", 12);

    FreqRecord* red = registerFreq(100, bob);
    setTextField(red->freqName, "Red");
    red->lastUsed = int32_t(fakeWallStart);
    FreqRecord* squad = registerFreq(200, bob);
    setTextField(squad->allowedSquad, "Reds");
    squad->lastUsed = -1;
    FreqRecord* cut = registerFreq(65535, longName);
    setTextField(cut->allowedSquad, "SquadOfNineteenChrs");
    setTextField(cut->freqName, "N");
    cut->lastUsed = 0;
    FreqRecord* plain = registerFreq(1234, al);
    plain->lastUsed = int32_t(fakeWallStart + 32 * 86400 + 9 * 3600 + 5 * 60 + 7);

    const std::string lines[] = {
        "100  [Bob]" + std::string(22, ' ') + " - Red",
        "200  [Bob][Squad: Reds]" + std::string(9, ' '),
        // Long owner and squad: cut at 32, closing bracket and all.
        "65535[ABCDEFGHIJKLMNOPQRST][Squa - N",
        "1234 [Al]" + std::string(23, ' '),
    };
    const std::string stamps[] = {
        " [LastUsed: 1.01.2026 0:00:00]",
        " [LastUsed: (INVALID DATE) (INVALID TIME)]",
        " [LastUsed: 1.01.1970 0:00:00]",
        " [LastUsed: 2.02.2026 9:05:07]",
    };
    Lines forPlayer, forOperators;
    for (int i = 0; i < 4; ++i)
        forPlayer.push_back("Bob: " + lines[i]);
    for (const char* who : {"Op", "Owner"})
        for (int i = 0; i < 4; ++i)
            forOperators.push_back(who + (": " + lines[i] + stamps[i]));
    host.command(bob, "freqs", "");
    EXPECT_EQ(host.take(), forPlayer);
    host.command(op, "freqs", "100");
    host.command(owner, "freqs", "");
    EXPECT_EQ(host.take(), forOperators);
}

std::string fieldByWord(const FreqRecord& r, const std::string& word) {
    if (word == "fname") return std::string(fieldOf(r.freqName));
    if (word == "fsquad") return std::string(fieldOf(r.allowedSquad));
    return std::string(fieldOf(r.welcome));
}

TEST_F(Registration, SettingsCommandsSetTheirField) {
    const std::string long40(40, 'n'), long25(25, 's'), long250(250, 'w');
    struct Case {
        const char* word;
        std::string argument;
        const char* reply;
        std::string expected; // the field afterwards; it held "old" before
    } cases[] = {
        {"fname", "100:Red Team", "Freq name changed", "Red Team"},
        {"fname", " 100 : Red Team ", "Freq name changed", "Red Team"},
        {"fname", "100:   ", "Freq name changed", ""},
        {"fname", "100:" + long40, "Freq name changed", long40.substr(0, 31)},
        {"fname", "100:a:b", "Freq name changed", "a:b"},
        {"fname", "100:\tTab", "Freq name changed", "\tTab"},
        {"fsquad", "100:Blue Squad", "Allowed squad changed", "Blue Squad"},
        {"fsquad", "100:", "Allowed squad changed", ""},
        {"fsquad", "100:  ", "Allowed squad changed", ""},
        {"fsquad", "100:" + long25, "Allowed squad changed", long25.substr(0, 19)},
        {"fwelc", "100:Hi %name%: welcome", "Freq welcome message changed", "Hi %name%: welcome"},
        {"fwelc", "100:", "Freq welcome message changed", ""},
        {"fwelc", "100:" + long250, "Freq welcome message changed", long250.substr(0, 199)},
    };
    for (const Case& c : cases) {
        FakeHost h;
        PlayerRecord& bob = h.addPlayer("Bob");
        FreqRecord* r = addFreq(h.registry, 100, bob.name, 0);
        r->lastUsed = 7;
        setTextField(r->freqName, "old");
        setTextField(r->allowedSquad, "old");
        setTextField(r->welcome, "old");
        h.command(bob, c.word, c.argument.c_str());
        EXPECT_EQ(h.take(), Lines{std::string("Bob: ") + c.reply}) << c.word << " " << c.argument;
        EXPECT_EQ(fieldByWord(*r, c.word), c.expected) << c.word << " " << c.argument;
        EXPECT_EQ(r->lastUsed, 7) << c.word;
        // The other two fields are left alone.
        for (const char* other : {"fname", "fsquad", "fwelc"}) {
            if (std::string(other) != c.word) {
                EXPECT_EQ(fieldByWord(*r, other), "old") << c.word << " " << other;
            }
        }
    }
}

TEST_F(Registration, FpassStoresTheTrimmedPasswordHash) {
    PlayerRecord& bob = host.addPlayer("Bob");
    FreqRecord* r = registerFreq(100, bob, "old");
    host.command(bob, "fpass", "100:  New Pass ");
    EXPECT_EQ(host.take(), Lines{"Bob: Freq password changed"});
    EXPECT_EQ(r->passwordHash, hashOf("New Pass"));
    EXPECT_EQ(r->lastUsed, 7);
    host.command(bob, "fpass", "100:   ");
    EXPECT_EQ(host.take(), Lines{"Bob: Freq password changed"});
    EXPECT_EQ(r->passwordHash, hashOf(""));
}

} // namespace
