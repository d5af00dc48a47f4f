#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "fake_clock.h"
#include "registry/freq_registry.h"

namespace {

struct OwnerField {
    char bytes[20] = {};
    // A name of 20 characters fills the field with no terminating zero.
    explicit OwnerField(const char* name) {
        std::memcpy(bytes, name, std::min(std::strlen(name), sizeof bytes));
    }
};

FreqRecord* add(FreqRegistry& r, uint16_t freq, const char* owner, uint32_t hash = 0) {
    return addFreq(r, freq, OwnerField(owner).bytes, hash);
}

std::vector<uint16_t> freqsInOrder(FreqRegistry& r) {
    std::vector<uint16_t> out;
    for (FreqRecord* f = r.freqs.first(); f; f = r.freqs.next(f))
        out.push_back(f->freq);
    return out;
}

class Registry : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    FreqRegistry registry;
};

TEST_F(Registry, EmptyRegistryFindsNothing) {
    EXPECT_EQ(findFreq(registry, 100), nullptr);
    EXPECT_EQ(findOwnedBy(registry, "Alice"), nullptr);
    EXPECT_EQ(countOwnedBy(registry, "Alice"), 0u);
    EXPECT_EQ(findInvite(registry, 100, "Alice"), nullptr);
    EXPECT_EQ(registry.freqs.count(), 0u);
}

TEST_F(Registry, AddedRecordHasOnlyItsGivenFields) {
    FreqRecord* r = add(registry, 1234, "Alice", 0xDEADBEEF);
    EXPECT_EQ(r->freq, 1234);
    EXPECT_EQ(fieldOf(r->owner), "Alice");
    EXPECT_EQ(r->passwordHash, 0xDEADBEEFu);
    EXPECT_EQ(fieldOf(r->welcome), "");
    EXPECT_EQ(fieldOf(r->freqName), "");
    EXPECT_EQ(fieldOf(r->allowedSquad), "");
    EXPECT_EQ(r->lastUsed, 0);
    EXPECT_EQ(findFreq(registry, 1234), r);
}

TEST_F(Registry, OwnersCompareIgnoringAsciiCaseOnly) {
    add(registry, 100, "Alice");
    add(registry, 101, "ALICE");
    add(registry, 102, "alice");
    add(registry, 103, "\xC4lice"); // differs from "\xE4lice" only in a non-ASCII byte
    EXPECT_EQ(countOwnedBy(registry, "aLiCe"), 3u);
    EXPECT_EQ(countOwnedBy(registry, "\xE4lice"), 0u);
    EXPECT_EQ(countOwnedBy(registry, "Alice "), 0u);
    EXPECT_EQ(findOwnedBy(registry, "ALICE")->freq, 100);
}

TEST_F(Registry, OwnerFieldWithoutZeroIsComparedWithinItsWidth) {
    FreqRecord* r = add(registry, 100, "TwentyCharacterName!"); // fills all 20 bytes
    EXPECT_EQ(fieldOf(r->owner).size(), 20u);
    EXPECT_EQ(countOwnedBy(registry, "twentycharactername!"), 1u);
    EXPECT_EQ(countOwnedBy(registry, "TwentyCharacterName"), 0u);
}

TEST_F(Registry, RemovingKeepsTheOrderOfTheRest) {
    add(registry, 100, "A");
    FreqRecord* middle = add(registry, 200, "B");
    add(registry, 300, "C");
    removeFreq(registry, middle);
    EXPECT_EQ(freqsInOrder(registry), (std::vector<uint16_t>{100, 300}));
    EXPECT_EQ(registry.freqs.count(), 2u);
    EXPECT_EQ(findFreq(registry, 200), nullptr);
    add(registry, 400, "D"); // reuses the freed slot but still goes to the end
    EXPECT_EQ(freqsInOrder(registry), (std::vector<uint16_t>{100, 300, 400}));
}

TEST_F(Registry, RemovingSomethingNotInTheListIsIgnored) {
    FreqRecord* r = add(registry, 100, "A");
    FreqRecord outsider{};
    removeFreq(registry, &outsider);
    removeFreq(registry, nullptr);
    removeFreq(registry, r);
    removeFreq(registry, r); // already removed
    EXPECT_EQ(registry.freqs.count(), 0u);
    EXPECT_EQ(findFreq(registry, 100), nullptr);
}

TEST_F(Registry, DuplicateFreqsAreFoundFirstInListOrder) {
    FreqRecord* first = add(registry, 500, "First");
    FreqRecord* second = add(registry, 500, "Second");
    EXPECT_EQ(findFreq(registry, 500), first);
    removeFreq(registry, first);
    EXPECT_EQ(findFreq(registry, 500), second);
}

TEST_F(Registry, RecordsStayPutWhileOthersComeAndGo) {
    FreqRecord* kept = add(registry, 100, "Keeper");
    for (uint32_t i = 0; i < 5000; ++i)
        add(registry, uint16_t(1000 + i), "Filler");
    for (uint32_t i = 0; i < 5000; i += 2)
        removeFreq(registry, findFreq(registry, uint16_t(1000 + i)));
    EXPECT_EQ(findFreq(registry, 100), kept);
    EXPECT_EQ(fieldOf(kept->owner), "Keeper");
    EXPECT_EQ(registry.freqs.count(), 2501u);
    EXPECT_EQ(countOwnedBy(registry, "filler"), 2500u);
}

TEST_F(Registry, ClearFreqsEmptiesAndAllowsReuse) {
    add(registry, 100, "A");
    add(registry, 101, "B");
    clearFreqs(registry);
    EXPECT_EQ(registry.freqs.count(), 0u);
    EXPECT_EQ(registry.freqs.first(), nullptr);
    EXPECT_EQ(findFreq(registry, 100), nullptr);
    add(registry, 100, "C");
    EXPECT_EQ(fieldOf(findFreq(registry, 100)->owner), "C");
}

TEST(TextField, IsCutToWidthLessOneAndAlwaysTerminated) {
    FreqRecord r{};
    std::memset(r.welcome, 'x', sizeof r.welcome);
    setTextField(r.welcome, std::string(250, 'w'));
    EXPECT_EQ(fieldOf(r.welcome), std::string(199, 'w'));
    EXPECT_EQ(r.welcome[199], 0);
    setTextField(r.freqName, "Red Team");
    EXPECT_EQ(fieldOf(r.freqName), "Red Team");
    setTextField(r.freqName, "");
    for (char c : r.freqName)
        EXPECT_EQ(c, 0);
}

TEST_F(Registry, SecondInviteReplacesTheFirstAndGoesToTheEnd) {
    addInvite(registry, 100, "Bob");
    addInvite(registry, 200, "Carol");
    advanceClock(5000);
    FreqInvite* again = addInvite(registry, 100, "BOB");
    EXPECT_EQ(registry.invites.count(), 2u);
    EXPECT_EQ(registry.invites.first()->freq, 200);
    EXPECT_EQ(registry.invites.next(registry.invites.first()), again);
    EXPECT_EQ(again->issuedAt, uint32_t(fakeMonotonicMs()));
    EXPECT_EQ(fieldOf(again->playerName), "BOB");
    EXPECT_EQ(findInvite(registry, 100, "bob"), again);
    EXPECT_EQ(findInvite(registry, 200, "bob"), nullptr);
}

TEST_F(Registry, InviteNameIsCutToNineteenCharacters) {
    FreqInvite* i = addInvite(registry, 100, "ABCDEFGHIJKLMNOPQRSTUVWXYZ");
    EXPECT_EQ(fieldOf(i->playerName), "ABCDEFGHIJKLMNOPQRS");
    EXPECT_EQ(i->playerName[19], 0);
}

TEST_F(Registry, InviteLivesItsLifetimeAndGoesAtTheNextPass) {
    addInvite(registry, 100, "Bob");
    advanceClock(30000);
    expireInvites(registry, 30);
    EXPECT_NE(findInvite(registry, 100, "Bob"), nullptr) << "limit equals now: kept";
    advanceClock(1);
    expireInvites(registry, 30);
    EXPECT_EQ(findInvite(registry, 100, "Bob"), nullptr);
}

TEST_F(Registry, ExpiryRemovesRunsAndTheLastElementInOnePass) {
    addInvite(registry, 100, "Old1");
    addInvite(registry, 101, "Old2");
    advanceClock(20000);
    addInvite(registry, 102, "Young");
    addInvite(registry, 103, "Young2");
    advanceClock(11000);
    addInvite(registry, 104, "Fresh");
    expireInvites(registry, 30);
    std::vector<uint16_t> left;
    for (FreqInvite* i = registry.invites.first(); i; i = registry.invites.next(i))
        left.push_back(i->freq);
    EXPECT_EQ(left, (std::vector<uint16_t>{102, 103, 104}));
    advanceClock(30001);
    expireInvites(registry, 30);
    EXPECT_EQ(registry.invites.count(), 0u);
}

// The 32-bit tick counter wraps every 49.7 days; an invitation's age is
// right across the wrap: it neither goes at once nor stays for weeks.
TEST(InviteExpiry, AgeIsRightAcrossTheTickCounterWrap) {
    struct Pass {
        int64_t sinceMadeMs;
        bool kept;
    };
    struct Case {
        const char* what;
        int64_t madeBeforeWrapMs;
        std::vector<Pass> passes; // each an expiry pass of a 30 s lifetime
    } cases[] = {
        // A wrapped sum of issue time and lifetime would lie below the
        // counter already, and the first pass would remove it.
        {"made 10 s before the wrap", 10000, {{5000, true}, {30000, true}, {30001, false}}},
        {"made 5 s before the wrap", 5000, {{10000, true}, {31000, false}}},
        // Past its lifetime before the wrap: the first pass after it removes it.
        {"lifetime over 1 s before the wrap", 31000, {{32000, false}}},
        {"made at the counter's last millisecond", 1, {{30000, true}, {30001, false}}},
    };
    for (const Case& c : cases) {
        resetClock();
        FreqRegistry registry;
        advanceClock((int64_t(1) << 32) - fakeMonotonicStartMs - c.madeBeforeWrapMs);
        addInvite(registry, 100, "Bob");
        int64_t elapsed = 0;
        for (const Pass& pass : c.passes) {
            advanceClock(pass.sinceMadeMs - elapsed);
            elapsed = pass.sinceMadeMs;
            expireInvites(registry, 30);
            EXPECT_EQ(findInvite(registry, 100, "Bob") != nullptr, pass.kept)
                << c.what << ", " << pass.sinceMadeMs << " ms after";
        }
    }
    resetClock();
}

TEST_F(Registry, LongLifetimesDoNotWrap) {
    addInvite(registry, 100, "Bob");
    advanceClock(10000);
    expireInvites(registry, 4294968); // 4294968000 ms: more than 32 bits hold
    EXPECT_NE(findInvite(registry, 100, "Bob"), nullptr);
}

TEST_F(Registry, InvitesOutliveTheirFreqAndAdmitToItsSuccessor) {
    add(registry, 500, "Old");
    addInvite(registry, 500, "Bob");
    removeFreq(registry, findFreq(registry, 500));
    add(registry, 500, "New");
    EXPECT_NE(findInvite(registry, 500, "Bob"), nullptr);
    clearInvites(registry);
    EXPECT_EQ(registry.invites.count(), 0u);
}

} // namespace
