#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <fstream>
#include <utility>

#include "registry/change_file.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "temp_dir.h"
#include "tests/fakes/lone_registry_file.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace {

FreqRecord makeRecord(uint16_t freq, const char* owner) {
    FreqRecord r{};
    r.freq = freq;
    std::memcpy(r.owner, owner, std::min(std::strlen(owner), sizeof r.owner));
    return r;
}

std::string imageOf(const FreqRecord& record) {
    std::string bytes(reinterpret_cast<const char*>(&record), sizeof record);
    scrambleRecord(reinterpret_cast<unsigned char*>(bytes.data()));
    return bytes;
}

TEST(RecordScramble, FirstWordHoldsFreqAndTheOwnersFirstTwoLetters) {
    FreqRecord r = makeRecord(1234, "Ab");
    unsigned char image[freqRecordSize];
    std::memcpy(image, &r, sizeof image);
    EXPECT_EQ(image[0], 0xD2);
    EXPECT_EQ(image[1], 0x04);
    EXPECT_EQ(image[2], 0x41);
    EXPECT_EQ(image[3], 0x62);
    scrambleRecord(image);
    uint32_t expected = 0x624104D2u ^ recordKey;
    EXPECT_EQ(image[0], uint8_t(expected));
    EXPECT_EQ(image[1], uint8_t(expected >> 8));
    EXPECT_EQ(image[2], uint8_t(expected >> 16));
    EXPECT_EQ(image[3], uint8_t(expected >> 24));
    // An all-zero word becomes the key itself, little-endian.
    EXPECT_EQ(image[280], 0x19);
    EXPECT_EQ(image[283], 0x2B);
    scrambleRecord(image);
    EXPECT_EQ(std::memcmp(image, &r, sizeof image), 0);
}

// The freqs a side file registers anew (changes without a base), in order.
std::vector<uint16_t> freqsAddedIn(const std::string& name) {
    const DecodedChangeFile file = decodeChangeFile(TempDir::read(name));
    EXPECT_EQ(file.kind, ChangeFileKind::changes) << file.reason;
    std::vector<uint16_t> freqs;
    for (const FreqChange& change : file.changes)
        if (change.baseKind == BaseKind::none && change.hasNew) freqs.push_back(change.freq);
    return freqs;
}

class RegistryFile : public ::testing::Test {
  protected:
    TempDir dir;
};

TEST_F(RegistryFile, MissingAndEmptyFilesGiveAnEmptyRegistry) {
    FreqRegistry missing;
    EXPECT_TRUE(loadRegistry(missing));
    EXPECT_EQ(missing.freqs.count(), 0u);
    TempDir::write(registryFileName, "");
    FreqRegistry empty;
    EXPECT_TRUE(loadRegistry(empty));
    EXPECT_EQ(empty.freqs.count(), 0u);
    EXPECT_TRUE(saveRegistry(empty));
    EXPECT_EQ(TempDir::read(registryFileName), "");
}

TEST_F(RegistryFile, TwoRecordsLoadInFileOrderAndSaveBackByteForByte) {
    FreqRecord a = makeRecord(700, "Zed");
    FreqRecord b = makeRecord(100, "Amy");
    setTextField(b.welcome, "Hi %name%");
    b.padding[0] = 0x5A; // padding is carried as it is
    b.lastUsed = -1;
    std::string file = imageOf(a) + imageOf(b);
    TempDir::write(registryFileName, file);

    FreqRegistry registry;
    EXPECT_TRUE(loadRegistry(registry));
    ASSERT_EQ(registry.freqs.count(), 2u);
    EXPECT_EQ(registry.freqs.first()->freq, 700);
    EXPECT_EQ(fieldOf(findFreq(registry, 100)->welcome), "Hi %name%");
    EXPECT_TRUE(saveRegistry(registry));
    EXPECT_EQ(TempDir::read(registryFileName), file);
    EXPECT_FALSE(TempDir::exists(std::string(registryFileName) + ".tmp"));
}

TEST_F(RegistryFile, TextFieldsWithoutZeroAreKeptAsStored) {
    FreqRecord r = makeRecord(100, "");
    std::memset(r.owner, 'O', sizeof r.owner);
    std::memset(r.welcome, 'W', sizeof r.welcome);
    std::memset(r.allowedSquad, 'S', sizeof r.allowedSquad);
    std::memset(r.freqName, 'N', sizeof r.freqName);
    std::string file = imageOf(r);
    TempDir::write(registryFileName, file);
    FreqRegistry registry;
    loadRegistry(registry);
    FreqRecord* loaded = findFreq(registry, 100);
    ASSERT_NE(loaded, nullptr);
    EXPECT_EQ(fieldOf(loaded->owner), std::string(20, 'O'));
    EXPECT_EQ(fieldOf(loaded->freqName), std::string(32, 'N'));
    saveRegistry(registry);
    EXPECT_EQ(TempDir::read(registryFileName), file);
}

TEST_F(RegistryFile, DamagedFileIsKeptAsideNeverOverwritten) {
    std::string damaged(285, '\x7F');
    TempDir::write(registryFileName, damaged);
    TempDir::write("Zandrel.teams.damaged", "an earlier one");

    RegistryStore store;
    openRegistryStore(store);
    FreqRegistry registry;
    const LoadReport& load = loadRegistryFile(store, registry);
    EXPECT_EQ(load.outcome, LoadOutcome::keptAside);
    EXPECT_EQ(registry.freqs.count(), 0u);
    EXPECT_EQ(load.keptAs, "Zandrel.teams.damaged.1");
    EXPECT_EQ(TempDir::read("Zandrel.teams.damaged.1"), damaged);
    EXPECT_EQ(TempDir::read("Zandrel.teams.damaged"), "an earlier one");

    FreqRecord r = makeRecord(100, "New");
    registry.freqs.append(r);
    EXPECT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    EXPECT_EQ(TempDir::read(registryFileName), imageOf(r));
    EXPECT_EQ(TempDir::read("Zandrel.teams.damaged.1"), damaged);
    closeRegistryStore(store);
}

TEST_F(RegistryFile, FailedSaveLeavesTheOldFile) {
    FreqRecord r = makeRecord(100, "Old");
    TempDir::write(registryFileName, imageOf(r));
    // A directory where the temporary file must go makes the save fail.
    const std::string temporary = registryFileName + processTemporarySuffix();
    std::filesystem::create_directories(temporary + "/x");
    FreqRegistry registry;
    registry.freqs.append(makeRecord(200, "New"));
    EXPECT_FALSE(saveRegistry(registry));
    EXPECT_EQ(TempDir::read(registryFileName), imageOf(r));
}

// The file's inode and change time: a save that writes anything replaces the
// file (a new inode) or at least changes them.
const std::string teamsFile = registryFileName;

std::pair<ino_t, int64_t> identityOf(const std::string& name) {
    struct stat st {};
    EXPECT_EQ(stat(name.c_str(), &st), 0);
    return {st.st_ino, int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

// A save with nothing changed since this process wrote the file writes
// nothing; a change in memory, or any change to the file behind the
// process's back, is written again.
TEST_F(RegistryFile, SaveOfAnUnchangedRegistryWritesNothingElseAsBefore) {
    RegistryStore store;
    openRegistryStore(store);
    FreqRegistry registry;
    loadRegistryFile(store, registry);
    const FreqRecord first = makeRecord(100, "Bob");
    registry.freqs.append(first);
    ASSERT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    const auto written = identityOf(teamsFile);

    EXPECT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    EXPECT_EQ(identityOf(teamsFile), written) << "the same bytes were written again";

    const FreqRecord other = makeRecord(200, "Eve");
    struct Edit {
        const char* what;
        void (*edit)(const std::string& mine, const std::string& theirs);
    } edits[] = {
        {"another file put in place",
         [](const std::string&, const std::string& theirs) {
             TempDir::write(teamsFile + ".new", theirs);
             std::filesystem::rename(teamsFile + ".new", teamsFile);
         }},
        {"written over in place, same size, old time set back",
         [](const std::string& mine, const std::string& theirs) {
             struct stat before {};
             stat(teamsFile.c_str(), &before);
             ASSERT_EQ(mine.size(), theirs.size());
             std::fstream file(teamsFile, std::ios::in | std::ios::out | std::ios::binary);
             file.write(theirs.data(), std::streamsize(theirs.size()));
             file.close();
             const timespec times[2] = {before.st_atim, before.st_mtim};
             utimensat(AT_FDCWD, teamsFile.c_str(), times, 0);
         }},
        {"removed",
         [](const std::string&, const std::string&) { std::filesystem::remove(teamsFile); }},
    };
    for (const Edit& edit : edits) {
        SCOPED_TRACE(edit.what);
        edit.edit(imageOf(first), imageOf(other));
        EXPECT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
        EXPECT_EQ(TempDir::read(teamsFile), imageOf(first));
        // And once written again, it is left alone again.
        const auto again = identityOf(teamsFile);
        EXPECT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
        EXPECT_EQ(identityOf(teamsFile), again);
    }

    // Lookups and walks are no change: players who move about, list and ask
    // by freq or by owner leave nothing to write.
    const auto beforeLookups = identityOf(teamsFile);
    EXPECT_NE(findFreq(registry, 100), nullptr);
    EXPECT_EQ(findFreq(registry, 200), nullptr);
    EXPECT_NE(findOwnedBy(registry, "bob"), nullptr);
    EXPECT_EQ(findOwnedBy(registry, "Nobody"), nullptr);
    for (FreqRecord* r = registry.freqs.firstWithFreq(100); r; r = registry.freqs.nextWithFreq(r))
        EXPECT_EQ(r->freq, 100);
    EXPECT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    EXPECT_EQ(identityOf(teamsFile), beforeLookups) << "a lookup was taken for a change";

    // Changes in memory: a record changed in place where a lookup by freq
    // handed it out, one added, one removed.
    markChanged(registry, 100);
    findFreq(registry, 100)->lastUsed = 12345;
    ASSERT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    FreqRecord changed = first;
    changed.lastUsed = 12345;
    EXPECT_EQ(TempDir::read(teamsFile), imageOf(changed));
    addFreq(registry, 200, other.owner, 0);
    ASSERT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    EXPECT_EQ(TempDir::read(teamsFile), imageOf(changed) + imageOf(other));
    removeFreq(registry, findFreq(registry, 100));
    ASSERT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    EXPECT_EQ(TempDir::read(teamsFile), imageOf(other));
    closeRegistryStore(store);
}

// Runs that could not write the registry (another process holds its lock)
// each keep what they hold in a side file of their own: a second run, even
// with the same process number within the same second, never writes over
// the first one's, and each is readable by the host's own user whatever
// the registry's mode.
TEST_F(RegistryFile, EachRunKeepsWhatItCouldNotSaveInASideFileOfItsOwn) {
    TempDir::write(teamsFile, imageOf(makeRecord(100, "Bob")));
    std::filesystem::permissions(teamsFile, std::filesystem::perms::owner_read);
    FileLock otherHost;
    ASSERT_EQ(takeFileLock(registryLockFileName, otherHost), LockResult::taken);
    std::vector<std::string> names;
    for (uint16_t freq : {201, 202}) {
        SCOPED_TRACE(freq);
        RegistryStore store;
        openRegistryStore(store);
        FreqRegistry registry;
        loadRegistryFile(store, registry);
        addFreq(registry, freq, makeRecord(freq, "Ann").owner, 0);
        SaveReport save = saveRegistryFile(store, registry, 0);
        ASSERT_EQ(save.status, SaveStatus::notHeld);
        EXPECT_NE(saveNotice(save).find("Not saved"), std::string::npos) << saveNotice(save);
        keepInSideFile(store, registry, save);
        ASSERT_FALSE(save.sideName.empty()) << save.sideProblem;
        EXPECT_EQ(save.sideName.rfind("Zandrel.teams.unsaved.", 0), 0u) << save.sideName;
        names.push_back(save.sideName);
        // The run's later writes replace its own file only.
        addFreq(registry, freq + 100, makeRecord(freq, "Ann").owner, 0);
        keepInSideFile(store, registry, save);
        EXPECT_EQ(save.sideName, names.back());
        closeRegistryStore(store);
    }
    releaseFileLock(otherHost);
    ASSERT_NE(names[0], names[1]);
    for (size_t run = 0; run < 2; ++run) {
        const uint16_t freq = uint16_t(201 + run);
        EXPECT_EQ(freqsAddedIn(names[run]), (std::vector<uint16_t>{freq, uint16_t(freq + 100)}));
        const auto mode = std::filesystem::status(names[run]).permissions();
        EXPECT_EQ(mode, std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    }
    EXPECT_EQ(TempDir::read(teamsFile), imageOf(makeRecord(100, "Bob")));
}

// A host whose lock file was deleted, and which finds the new one free at
// its next save, takes it back only if nobody wrote the registry meanwhile:
// a second host that ran, saved and stopped in between keeps what it saved,
// and this one's changes go beside it. Untouched, the registry is written.
TEST_F(RegistryFile, ALockTakenBackNeverWritesOverWhatAnotherHostSavedMeanwhile) {
    const FreqRecord bob = makeRecord(100, "Bob"), eve = makeRecord(7200, "Eve"),
                     ann = makeRecord(300, "Ann");
    for (const bool secondHostSaves : {true, false}) {
        SCOPED_TRACE(secondHostSaves ? "a second host saved" : "nobody wrote");
        for (const auto& entry : std::filesystem::directory_iterator("."))
            std::filesystem::remove(entry.path());
        TempDir::write(teamsFile, imageOf(bob));
        RegistryStore first;
        openRegistryStore(first);
        FreqRegistry firstRegistry;
        loadRegistryFile(first, firstRegistry);
        std::filesystem::remove(registryLockFileName);
        {
            RegistryStore second;
            openRegistryStore(second);
            ASSERT_TRUE(holdsRegistry(second));
            FreqRegistry secondRegistry;
            loadRegistryFile(second, secondRegistry);
            if (secondHostSaves) {
                addFreq(secondRegistry, 7200, eve.owner, 0);
                ASSERT_EQ(saveRegistryFile(second, secondRegistry, 0).status, SaveStatus::saved);
            }
            closeRegistryStore(second);
        }
        addFreq(firstRegistry, 300, ann.owner, 0);
        const SaveReport save = saveRegistryFile(first, firstRegistry, 0);
        if (secondHostSaves) {
            EXPECT_EQ(save.status, SaveStatus::lockLost);
            EXPECT_NE(saveNotice(save).find("another process wrote Zandrel.teams meanwhile"),
                      std::string::npos)
                << saveNotice(save);
            EXPECT_EQ(TempDir::read(teamsFile), imageOf(bob) + imageOf(eve));
            ASSERT_FALSE(save.sideName.empty()) << save.sideProblem;
            EXPECT_EQ(freqsAddedIn(save.sideName), std::vector<uint16_t>{300});
        } else {
            EXPECT_EQ(save.status, SaveStatus::saved);
            EXPECT_EQ(TempDir::read(teamsFile), imageOf(bob) + imageOf(ann));
        }
        closeRegistryStore(first);
    }
}

// When what memory holds can be kept nowhere, the operator is told which
// freqs are lost: those new, changed or unregistered since the file was last
// loaded or saved, at most twenty named. A save starts the count again.
TEST_F(RegistryFile, TheChangesThatCanBeKeptNowhereAreNamed) {
    TempDir::write(teamsFile, imageOf(makeRecord(100, "Bob")) + imageOf(makeRecord(200, "Ann")));
    RegistryStore store;
    openRegistryStore(store);
    FreqRegistry registry;
    loadRegistryFile(store, registry);
    EXPECT_EQ(changesSinceSave(store, registry), "");
    addFreq(registry, 300, makeRecord(300, "Eve").owner, 0);
    findFreq(registry, 100)->passwordHash ^= 1;
    removeFreq(registry, findFreq(registry, 200));
    const std::string changes = changesSinceSave(store, registry);
    for (const char* part : {"100 changed", "300 new", "200 unregistered"})
        EXPECT_NE(changes.find(part), std::string::npos) << part << " in " << changes;
    EXPECT_EQ(changes.rfind("freq ", 0), 0u) << changes;

    ASSERT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::saved);
    EXPECT_EQ(changesSinceSave(store, registry), "");
    for (uint16_t freq = 1000; freq < 1025; ++freq)
        addFreq(registry, freq, makeRecord(freq, "Cat").owner, 0);
    const std::string many = changesSinceSave(store, registry);
    EXPECT_NE(many.find(" and 5 more"), std::string::npos) << many;
    EXPECT_EQ(std::count(many.begin(), many.end(), ','), 19) << many;
    closeRegistryStore(store);
}

} // namespace
