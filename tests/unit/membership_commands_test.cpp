#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "fake_clock.h"
#include "fake_host.h"
#include "platform/platform.h"
#include "registry/password_hash.h"

namespace {

uint32_t hashOf(const std::string& password) {
    return hashPassword(password.data(), uint32_t(password.size()));
}

const char joined[] = "You have 30 seconds to join the freq. After that you must !fjoin again";

class Membership : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    FakeHost host;
    PlayerRecord& alice = host.addPlayer("Alice");
    PlayerRecord& bob = host.addPlayer("Bob", 0, "", 100);
    FreqRecord* r = addFreq(host.registry, 100, alice.name, hashOf("Secret"));

    uint32_t inviteCount() { return host.registry.invites.count(); }
};

TEST_F(Membership, FjoinWithThePassword) {
    struct Case {
        const char* argument;
        const char* reply;
    } cases[] = {
        {"100:secret", "Invalid password"},
        {"100:SECRET", "Invalid password"},
        {"100:Secret!", "Invalid password"},
        {"100:\tSecret", "Invalid password"},
    };
    for (const Case& c : cases) {
        host.command(bob, "fjoin", c.argument);
        EXPECT_EQ(host.take(), Lines{std::string("Bob: ") + c.reply}) << c.argument;
    }
    EXPECT_EQ(inviteCount(), 0u);

    host.command(bob, "fjoin", " 100 :  Secret  ");
    EXPECT_EQ(host.take(), Lines{std::string("Bob: ") + joined});
    FreqInvite* invite = findInvite(host.registry, 100, "Bob");
    ASSERT_NE(invite, nullptr);
    EXPECT_EQ(fieldOf(invite->playerName), "Bob");
    EXPECT_EQ(invite->issuedAt, tickCount());
    // Nobody is moved: joining the freq is the player's own step.
    EXPECT_EQ(r->lastUsed, 0);
}

TEST_F(Membership, OwnerMayFjoinAndTheReplyTellsTheLifetime) {
    host.bot.iniConfig.inviteExpireSeconds = 120;
    host.command(alice, "fjoin", "100:Secret");
    EXPECT_EQ(host.take(),
              Lines{"Alice: You have 120 seconds to join the freq. After that you must !fjoin "
                    "again"});
    EXPECT_NE(findInvite(host.registry, 100, "alice"), nullptr);
}

TEST_F(Membership, SecondFjoinRestartsTheTime) {
    host.command(bob, "fjoin", "100:Secret");
    uint32_t firstIssued = tickCount();
    advanceClock(5000);
    PlayerRecord& loud = host.addPlayer("BOB");
    host.command(loud, "fjoin", "100:Secret");
    host.take();
    ASSERT_EQ(inviteCount(), 1u);
    FreqInvite* invite = host.registry.invites.first();
    EXPECT_EQ(invite->issuedAt, firstIssued + 5000);
    EXPECT_EQ(fieldOf(invite->playerName), "BOB");
}

TEST_F(Membership, FinvInvitesAndTellsTheTarget) {
    host.command(alice, "finv", "100:  bOB  ");
    EXPECT_EQ(host.take(),
              (Lines{"Bob: Alice invited you to freq 100. You have 30 seconds before the invite "
                     "expires",
                     "Alice: Player invited"}));
    ASSERT_EQ(inviteCount(), 1u);
    // The invite carries the name as the arena has it, not as typed.
    EXPECT_EQ(fieldOf(host.registry.invites.first()->playerName), "Bob");
    EXPECT_EQ(host.registry.invites.first()->freq, 100);
}

TEST_F(Membership, FinvFailures) {
    struct Case {
        PlayerRecord& who;
        const char* argument;
        const char* reply;
    } cases[] = {
        {alice, "100:", "The other player must be in the arena"},
        {alice, "100:Carl", "The other player must be in the arena"},
        {alice, "100:Bo", "The other player must be in the arena"},
    };
    for (const Case& c : cases) {
        host.command(c.who, "finv", c.argument);
        EXPECT_EQ(host.take(), Lines{std::string(fieldOf(c.who.name)) + ": " + c.reply})
            << c.argument;
    }
    EXPECT_EQ(inviteCount(), 0u);
}

TEST_F(Membership, FkickMovesTheTargetAndTellsTheOwnerNothing) {
    addInvite(host.registry, 100, "Bob");
    host.command(alice, "fkick", "100: BOB ");
    EXPECT_EQ(host.take(), (Lines{"Bob: You were kicked from the freq", "Bob: *setfreq 0"}));
    // The kicked player's invitation stays, so he may come back.
    EXPECT_NE(findInvite(host.registry, 100, "Bob"), nullptr);
}

TEST_F(Membership, FkickFailures) {
    PlayerRecord& elsewhere = host.addPlayer("Carl", 0, "", 200);
    (void)elsewhere;
    struct Case {
        PlayerRecord& who;
        const char* argument;
        const char* reply;
    } cases[] = {
        {alice, "100:Dave", "Player not found"},
        {alice, "100:   ", "Player not found"},
        {alice, "100:Carl", "The player is not on the freq"},
        // The lookup finds freq 100, but the player is not on the number typed.
        {alice, "65636:Bob", "The player is not on the freq"},
    };
    for (const Case& c : cases) {
        host.command(c.who, "fkick", c.argument);
        EXPECT_EQ(host.take(), Lines{std::string(fieldOf(c.who.name)) + ": " + c.reply})
            << c.argument;
    }
}

TEST_F(Membership, FgrantHandsTheWholeRecordOn) {
    setTextField(r->freqName, "Reds");
    setTextField(r->allowedSquad, "Sq");
    setTextField(r->welcome, "Hi");
    r->lastUsed = 7;
    // A name that fills its field is copied whole.
    PlayerRecord& full = host.addPlayer("ABCDEFGHIJKLMNOPQRST", 0, "Z");
    FreqRecord before = *r;

    host.command(alice, "fgrant", "100: abcdefghijklmnopqrst ");
    EXPECT_EQ(host.take(), (Lines{"ABCDEFGHIJKLMNOPQRST: You are now the owner of freq 100",
                                  "Alice: Freq owner changed"}));
    EXPECT_EQ(std::memcmp(r->owner, full.name, 20), 0);
    std::memcpy(before.owner, full.name, 20);
    EXPECT_EQ(std::memcmp(r, &before, sizeof before), 0);

    // Alice is no longer the owner.
    host.command(alice, "fgrant", "100:Alice");
    EXPECT_EQ(host.take(), Lines{"Alice: You are not the owner of that freq"});
    host.command(full, "fgrant", "100:alice");
    EXPECT_EQ(host.take(), (Lines{"Alice: You are now the owner of freq 100",
                                  "ABCDEFGHIJKLMNOPQRST: Freq owner changed"}));
    EXPECT_EQ(fieldOf(r->owner), "Alice");
}

TEST_F(Membership, FgrantRespectsTheLimitAndMayGoToOneself) {
    host.bot.iniConfig.maxOwnedFreqs = 2;
    addFreq(host.registry, 200, bob.name, 0);
    addFreq(host.registry, 201, bob.name, 0);
    host.command(alice, "fgrant", "100:Bob");
    EXPECT_EQ(host.take(), Lines{"Alice: The player already owns too many freqs"});
    EXPECT_EQ(fieldOf(r->owner), "Alice");

    // Alice owns one of two: handing it to herself changes nothing but says so.
    host.command(alice, "fgrant", "100:ALICE");
    EXPECT_EQ(host.take(),
              (Lines{"Alice: You are now the owner of freq 100", "Alice: Freq owner changed"}));
    EXPECT_EQ(fieldOf(r->owner), "Alice");

    // At her own limit she cannot hand it to herself either.
    addFreq(host.registry, 300, alice.name, 0);
    host.command(alice, "fgrant", "100:Alice");
    EXPECT_EQ(host.take(), Lines{"Alice: The player already owns too many freqs"});
}

TEST_F(Membership, FgrantFailures) {
    struct Case {
        PlayerRecord& who;
        const char* argument;
        const char* reply;
    } cases[] = {
        {alice, "100:", "The other player must be in the arena"},
        {alice, "100:Nobody", "The other player must be in the arena"},
    };
    for (const Case& c : cases) {
        host.command(c.who, "fgrant", c.argument);
        EXPECT_EQ(host.take(), Lines{std::string(fieldOf(c.who.name)) + ": " + c.reply})
            << c.argument;
    }
    EXPECT_EQ(fieldOf(r->owner), "Alice");
}

// From the command to the change of freq: an invitation admits, a kick moves
// the player off, and the invitation lets him back until it is aged out.
TEST_F(Membership, InvitationsAdmitUntilTheyExpire) {
    PlayerRecord& carl = host.addPlayer("Carl");
    host.command(alice, "finv", "100:carl");
    host.take();
    host.changeFreq(carl, 100);
    EXPECT_TRUE(host.take().empty());
    host.command(alice, "fkick", "100:Carl");
    EXPECT_EQ(host.take(), (Lines{"Carl: You were kicked from the freq", "Carl: *setfreq 0"}));
    host.changeFreq(carl, 0);
    host.changeFreq(carl, 100);
    EXPECT_TRUE(host.take().empty());

    advanceClock(30001);
    host.tick(5);
    host.changeFreq(carl, 100);
    EXPECT_EQ(host.take(), (Lines{"Carl: You are not allowed on that freq", "Carl: *setfreq 0"}));
}

} // namespace

namespace {

// A host name that fills its whole 20-byte field: the invite keeps 19
// characters of it, and must still admit him, once.
TEST_F(Membership, InviteAdmitsANameThatFillsItsField) {
    PlayerRecord& full = host.addPlayer("ABCDEFGHIJKLMNOPQRST");
    host.command(full, "fjoin", "100:Secret");
    host.command(full, "fjoin", "100:Secret");
    host.command(alice, "finv", "100:abcdefghijklmnopqrst");
    EXPECT_EQ(inviteCount(), 1u);
    host.take();
    host.changeFreq(full, 100);
    EXPECT_TRUE(host.take().empty());
}

} // namespace
