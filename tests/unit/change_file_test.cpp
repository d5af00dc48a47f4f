// The side file's format and the three-way merge of its changes.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "registry/change_file.h"
#include "registry/change_merge.h"
#include "registry/registry_file.h"

namespace {

FreqRecord recordOf(uint16_t freq, const char* owner, uint32_t hash = 0, int32_t lastUsed = 0) {
    FreqRecord r{};
    r.freq = freq;
    setTextField(r.owner, owner);
    r.passwordHash = hash;
    r.lastUsed = lastUsed;
    return r;
}

bool same(const FreqRecord& a, const FreqRecord& b) {
    return std::memcmp(&a, &b, sizeof a) == 0;
}

FreqChange added(const FreqRecord& now, int64_t at = 0) {
    FreqChange c;
    c.freq = now.freq;
    c.baseKind = BaseKind::none;
    c.hasNew = true;
    c.now = now;
    c.changedAt = at;
    return c;
}

FreqChange changed(const FreqRecord& base, const FreqRecord& now) {
    FreqChange c = added(now);
    c.baseKind = BaseKind::record;
    c.base = base;
    return c;
}

FreqChange unregistered(const FreqRecord& base) {
    FreqChange c;
    c.freq = base.freq;
    c.baseKind = BaseKind::record;
    c.base = base;
    c.hasNew = false;
    return c;
}

FreqChange offered(const FreqRecord& now) { // an older side file's record
    FreqChange c = added(now);
    c.baseKind = BaseKind::unknown;
    return c;
}

// The encoder writes a record that is not there as zeros; this one writes
// what the change holds, and mends the checksum.
std::string encodeWithStrayBase(const FreqChange& change);

const ChangeRun run{.identity = 0x1122334455667788ull, .sequence = 42, .writer = 4242};

std::string sample() {
    return encodeChangeFile(run, {added(recordOf(3000, "Ann", 7), 1765400000),
                                  changed(recordOf(1500, "Bob", 1), recordOf(1500, "Bob", 2)),
                                  unregistered(recordOf(500, "Carol"))});
}

TEST(ChangeFile, WhatIsWrittenIsReadBackWhole) {
    const DecodedChangeFile file = decodeChangeFile(sample());
    ASSERT_EQ(file.kind, ChangeFileKind::changes) << file.reason;
    EXPECT_EQ(file.run.sequence, 42u);
    EXPECT_EQ(file.run.identity, run.identity);
    EXPECT_EQ(file.run.writer, 4242u);
    ASSERT_EQ(file.changes.size(), 3u);
    EXPECT_EQ(file.changes[0].freq, 3000);
    EXPECT_EQ(file.changes[0].baseKind, BaseKind::none);
    EXPECT_TRUE(same(file.changes[0].now, recordOf(3000, "Ann", 7)));
    EXPECT_EQ(file.changes[0].changedAt, 1765400000);
    EXPECT_EQ(file.changes[1].baseKind, BaseKind::record);
    EXPECT_TRUE(same(file.changes[1].base, recordOf(1500, "Bob", 1)));
    EXPECT_TRUE(same(file.changes[1].now, recordOf(1500, "Bob", 2)));
    EXPECT_FALSE(file.changes[2].hasNew);
    EXPECT_TRUE(same(file.changes[2].base, recordOf(500, "Carol")));
    ChangeRun head;
    ASSERT_TRUE(changeRunOf(sample().substr(0, changeFileHeaderSize), head));
    EXPECT_EQ(head.sequence, 42u);
}

// Cut anywhere, or any one byte changed, a side file is told as torn (never
// read past its end, never taken for changes); an old whole-registry one is
// told by its size.
TEST(ChangeFile, ATornOrForeignFileIsToldAsSuch) {
    const std::string whole = sample();
    for (size_t size = 0; size < whole.size(); ++size) {
        const DecodedChangeFile file = decodeChangeFile(std::string_view(whole).substr(0, size));
        if (size == 0) {
            EXPECT_EQ(file.kind, ChangeFileKind::wholeRegistry); // an empty older one
            continue;
        }
        EXPECT_EQ(file.kind, ChangeFileKind::torn) << size;
        EXPECT_TRUE(file.changes.empty());
    }
    for (size_t at = 0; at < whole.size(); ++at) {
        std::string bent = whole;
        bent[at] = char(bent[at] ^ 0x10);
        const DecodedChangeFile file = decodeChangeFile(bent);
        EXPECT_NE(file.kind, ChangeFileKind::changes) << at;
    }
    struct Case {
        const char* name;
        std::string bytes;
        ChangeFileKind kind;
        size_t changes;
        const char* reason = ""; // a part of what it says
    };
    FreqRegistry registry;
    for (const FreqRecord& r : {recordOf(100, "A"), recordOf(200, "B"), recordOf(100, "C")})
        registry.freqs.append(r);
    std::string version2 = whole;
    version2[8] = 2;
    const Case cases[] = {
        {"an older side file: the first record of each freq", registryImage(registry),
         ChangeFileKind::wholeRegistry, 2},
        {"neither", "hello, world", ChangeFileKind::foreign, 0},
        {"a later version", version2, ChangeFileKind::foreign, 0},
        {"a freq named twice, checksum and all",
         encodeChangeFile(run, {added(recordOf(100, "A")), added(recordOf(100, "B"))}),
         ChangeFileKind::torn, 0},
        {"a record where none is, checksum and all",
         [] {
             FreqChange stray = added(recordOf(100, "A"));
             stray.base = recordOf(100, "B"); // with no base flag
             return encodeWithStrayBase(stray);
         }(),
         ChangeFileKind::torn, 0, "holds a record where none is"},
        {"a record of another freq",
         encodeChangeFile(run, {changed(recordOf(100, "A"), recordOf(101, "A"))}),
         ChangeFileKind::torn, 0},
    };
    for (const Case& c : cases) {
        const DecodedChangeFile file = decodeChangeFile(c.bytes);
        EXPECT_EQ(file.kind, c.kind) << c.name;
        EXPECT_EQ(file.changes.size(), c.changes) << c.name;
        if (c.kind != ChangeFileKind::wholeRegistry && c.kind != ChangeFileKind::changes) {
            EXPECT_FALSE(file.reason.empty()) << c.name;
        }
        EXPECT_NE(file.reason.find(c.reason), std::string::npos) << c.name << ": " << file.reason;
    }
    const DecodedChangeFile older = decodeChangeFile(registryImage(registry).view());
    EXPECT_EQ(older.changes[0].baseKind, BaseKind::unknown);
    EXPECT_TRUE(same(older.changes[0].now, recordOf(100, "A")));
}

std::string encodeWithStrayBase(const FreqChange& change) {
    FreqChange asRecord = change;
    asRecord.baseKind = BaseKind::record;
    std::string bytes = encodeChangeFile(run, {asRecord});
    bytes[changeFileHeaderSize + 2] = 2; // flags: a new record, no base
    // The checksum, mended: four lanes of FNV-1a over words, as the format has it.
    const std::string_view body(bytes.data(), bytes.size() - 8);
    uint64_t lanes[4] = {14695981039346656037ull, 14695981039346656037ull ^ 1,
                         14695981039346656037ull ^ 2, 14695981039346656037ull ^ 3};
    std::string padded(body);
    padded.resize((padded.size() + 7) / 8 * 8, '\0');
    for (size_t i = 0; i < padded.size() / 8; ++i) {
        uint64_t word;
        std::memcpy(&word, padded.data() + i * 8, 8);
        lanes[i % 4] = (lanes[i % 4] ^ word) * 1099511628211ull;
    }
    uint64_t digest = lanes[0];
    for (size_t lane = 1; lane < 4; ++lane)
        digest = (digest ^ lanes[lane]) * 1099511628211ull;
    digest = (digest ^ body.size()) * 1099511628211ull;
    std::memcpy(bytes.data() + body.size(), &digest, 8);
    return bytes;
}

TEST(ChangeFile, RunsAreOrderedBySequenceThenIdentity) {
    EXPECT_TRUE(runBefore({.identity = 9, .sequence = 1}, {.identity = 1, .sequence = 2}));
    EXPECT_TRUE(runBefore({.identity = 1, .sequence = 2}, {.identity = 9, .sequence = 2}));
    EXPECT_FALSE(runBefore({.identity = 1, .sequence = 2}, {.identity = 1, .sequence = 2}));
}

// Each change merged into a registry holding one record of the freq (or
// none): made where the base fits, done where the registry holds it,
// otherwise a conflict, made only when taken.
TEST(ChangeMerge, ThreeWays) {
    const FreqRecord bob = recordOf(1500, "Bob", 1, 100), bobNew = recordOf(1500, "Bob", 2, 100),
                     bobIvy = recordOf(1500, "Ivy", 1, 100),
                     bobLater = recordOf(1500, "Bob", 1, 900);
    const FreqRecord ann = recordOf(1500, "Ann", 5);
    struct Case {
        const char* name;
        std::vector<FreqRecord> registry;
        FreqChange change;
        bool take;
        ChangeOutcome outcome;
        std::vector<FreqRecord> after;
    };
    const Case cases[] = {
        {"new, registry lacks it", {}, added(bob), false, ChangeOutcome::added, {bob}},
        {"new, registry holds the same", {bob}, added(bob), false, ChangeOutcome::done, {bob}},
        {"new, registry holds another", {ann}, added(bob), false, ChangeOutcome::conflict, {ann}},
        {"new, another, taken", {ann}, added(bob), true, ChangeOutcome::changed, {bob}},
        {"changed from what the registry holds",
         {bob},
         changed(bob, bobNew),
         false,
         ChangeOutcome::changed,
         {bobNew}},
        {"changed, only a later use since: still fits, the later use kept",
         {bobLater},
         changed(bob, bobNew),
         false,
         ChangeOutcome::changed,
         {recordOf(1500, "Bob", 2, 900)}},
        {"changed, registry holds the change",
         {bobNew},
         changed(bob, bobNew),
         false,
         ChangeOutcome::done,
         {bobNew}},
        {"changed, registry moved on: never reverted",
         {bobIvy},
         changed(bob, bobNew),
         false,
         ChangeOutcome::conflict,
         {bobIvy}},
        {"changed, registry unregistered it since",
         {},
         changed(bob, bobNew),
         false,
         ChangeOutcome::conflict,
         {}},
        {"unregistered from what the registry holds",
         {bob},
         unregistered(bob),
         false,
         ChangeOutcome::unregistered,
         {}},
        {"unregistered, gone already", {}, unregistered(bob), false, ChangeOutcome::done, {}},
        {"unregistered, registry changed it since",
         {bobIvy},
         unregistered(bob),
         false,
         ChangeOutcome::conflict,
         {bobIvy}},
        {"unregistered, changed since, taken",
         {bobIvy},
         unregistered(bob),
         true,
         ChangeOutcome::unregistered,
         {}},
        {"older file: offered where the registry lacks it",
         {},
         offered(bob),
         false,
         ChangeOutcome::added,
         {bob}},
        {"older file: a record that differs is a conflict",
         {bobIvy},
         offered(bob),
         false,
         ChangeOutcome::conflict,
         {bobIvy}},
        {"older file: only a later use is taken",
         {bob},
         offered(bobLater),
         false,
         ChangeOutcome::changed,
         {bobLater}},
        {"older file: an earlier use changes nothing",
         {bobLater},
         offered(bob),
         false,
         ChangeOutcome::done,
         {bobLater}},
    };
    for (const Case& c : cases) {
        MergeTarget target;
        startMerge(target, c.registry);
        const MergeStep step = mergeChange(target, c.change, c.take);
        EXPECT_EQ(step.outcome, c.outcome) << c.name;
        EXPECT_EQ(step.taken, c.take && c.outcome != ChangeOutcome::conflict &&
                                  c.outcome != ChangeOutcome::done)
            << c.name;
        const std::vector<FreqRecord> after = mergedRecords(target);
        ASSERT_EQ(after.size(), c.after.size()) << c.name;
        for (size_t i = 0; i < after.size(); ++i)
            EXPECT_TRUE(same(after[i], c.after[i])) << c.name;
        // Merged again, the same change finds it done, or the same conflict.
        const MergeStep again = mergeChange(target, c.change, false);
        EXPECT_TRUE(
            again.outcome == ChangeOutcome::done ||
            (c.outcome == ChangeOutcome::conflict && again.outcome == ChangeOutcome::conflict) ||
            (c.take && again.outcome == ChangeOutcome::conflict))
            << c.name;
        EXPECT_EQ(mergedRecords(target).size(), c.after.size()) << c.name;
    }
}

// A freq twice in the registry: a host goes by the first; unregistered, the
// second is what it finds next, and the merge goes by that one too.
TEST(ChangeMerge, TheFirstRecordOfAFreqIsTheOneMerged) {
    const FreqRecord first = recordOf(100, "A"), second = recordOf(100, "B");
    MergeTarget target;
    startMerge(target, {first, recordOf(200, "C"), second});
    EXPECT_EQ(mergeChange(target, unregistered(first), false).outcome, ChangeOutcome::unregistered);
    ASSERT_NE(currentRecord(target, 100), nullptr);
    EXPECT_TRUE(same(*currentRecord(target, 100), second));
    EXPECT_EQ(mergeChange(target, unregistered(first), false).outcome, ChangeOutcome::conflict);
    EXPECT_EQ(mergeChange(target, unregistered(second), false).outcome,
              ChangeOutcome::unregistered);
    EXPECT_EQ(currentRecord(target, 100), nullptr);
    EXPECT_EQ(mergedRecords(target).size(), 1u);
}

} // namespace
