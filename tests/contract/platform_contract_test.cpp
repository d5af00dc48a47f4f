// The contracts of the platform layer, checked alike against the system's
// layer (in a fresh temporary directory) and against the fake one the fuzz
// targets link (HADROK_FAKE_PLATFORM), so that the fake cannot drift into
// promising what the real one does not keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

#ifdef HADROK_FAKE_PLATFORM
#include "tests/fakes/fake_platform.h"
#else
#include <filesystem>
#include <fstream>
#endif
#ifdef _WIN32
#include <windows.h>
#endif

namespace {

// The current directory, reached by its name.
const Folder here{};

class PlatformContract : public testing::Test {
  protected:
    void SetUp() override {
#ifdef HADROK_FAKE_PLATFORM
        clearFakeFiles();
#else
        // A folder of this process's own, made new: a name taken by a crashed
        // run is skipped, never reused.
        static int made = 0;
        const std::filesystem::path temporary = std::filesystem::temp_directory_path();
        for (;;) {
            dir_ = temporary / ("hadrok-contract-" + std::to_string(processId()) + "-" +
                                std::to_string(++made));
            if (std::filesystem::create_directory(dir_)) break;
        }
        std::filesystem::current_path(dir_);
#endif
    }
#ifndef HADROK_FAKE_PLATFORM
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path(std::filesystem::temp_directory_path(), ignored);
        std::filesystem::remove_all(dir_, ignored);
        std::filesystem::remove_all(movedDir(), ignored);
    }
    std::filesystem::path movedDir() const {
        return dir_.string() + ".moved";
    }
    std::filesystem::path dir_;
#endif

    // The test's folder moved away from its name, as an operator's "mv";
    // with putAnother, a folder holding "f" put in its place. The process
    // leaves it first, so that only what the test holds keeps it. False when
    // the system refuses.
    bool moveFolderAway(bool putAnother) {
#ifdef HADROK_FAKE_PLATFORM
        if (putAnother)
            putFakeFolderInPlace({{ "f", "theirs" }});
        else
            moveFakeFolderAway();
        return true;
#else
        std::error_code error;
        std::filesystem::current_path(dir_.parent_path(), error);
        std::filesystem::rename(dir_, movedDir(), error);
        if (error) return false;
        if (putAnother) {
            std::filesystem::create_directory(dir_);
            std::ofstream(dir_ / "f", std::ios::binary) << "theirs";
        }
        return true;
#endif
    }

    void heldFolderRow(bool putAnother);
};

// No error of the system's or the C library's pending, as before a call.
void clearSystemError() {
    errno = 0;
#ifdef _WIN32
    SetLastError(0);
#endif
}

WriteResult write(const char* path, const std::string& bytes, bool noReplace = false) {
    SafeWrite w;
    w.path = path;
    w.temporarySuffix = ".tmp.1";
    w.data = bytes.data();
    w.size = bytes.size();
    w.noReplace = noReplace;
    return writeFileSafely(w);
}

// The whole file, or "(missing)".
std::string contents(const char* path) {
    ReadableFile file;
    if (openRegularFile(path, file) != OpenResult::opened) return "(missing)";
    std::string bytes(file.size, '\0');
    const bool read = readExactly(file, bytes.data(), bytes.size());
    closeReadableFile(file);
    return read ? bytes : "(short)";
}

std::vector<std::string> names() {
    std::vector<std::string> all = currentDirectoryNames();
    std::sort(all.begin(), all.end());
    return all;
}

TEST_F(PlatformContract, ReplaceLeavesTheNewBytesAndNoTemporary) {
    ASSERT_EQ(write("f", "old"), WriteResult::written);
    write("f.tmp.1", "stale"); // a crashed save's temporary is replaced, not kept
    ASSERT_EQ(write("f", "new"), WriteResult::written);
    EXPECT_EQ(contents("f"), "new");
    EXPECT_EQ(names(), std::vector<std::string>{"f"});
}

TEST_F(PlatformContract, NoReplaceRefusesATakenNameAndLeavesBothAsTheyWere) {
    ASSERT_EQ(write("f", "old"), WriteResult::written);
    EXPECT_EQ(write("f", "new", true), WriteResult::failed);
    EXPECT_EQ(contents("f"), "old");
    EXPECT_EQ(names(), std::vector<std::string>{"f"});
    EXPECT_EQ(write("g", "new", true), WriteResult::written);
    EXPECT_EQ(contents("g"), "new");
}

TEST_F(PlatformContract, MoveNoReplaceTellsATakenNameFromAMissingSource) {
    write("a", "A");
    write("b", "B");
    EXPECT_EQ(moveNoReplace("a", "b"), MoveResult::nameTaken);
    EXPECT_EQ(contents("a"), "A");
    EXPECT_EQ(contents("b"), "B");
    EXPECT_EQ(moveNoReplace("missing", "c"), MoveResult::failed);
    EXPECT_EQ(moveNoReplace("a", "c"), MoveResult::moved);
    EXPECT_EQ(pathKindOf("a"), PathKind::missing);
    EXPECT_EQ(contents("c"), "A");
}

TEST_F(PlatformContract, AMoveIsMadeDurableByFlushingItsFolder) {
    write("a", "A");
    ASSERT_EQ(moveNoReplace("a", "b"), MoveResult::moved);
    EXPECT_TRUE(flushFolderOf("b"));
    EXPECT_EQ(contents("b"), "A");
    clearSystemError();
    const std::string noError = lastSystemError();
    EXPECT_FALSE(flushFolderOf(""));
    EXPECT_NE(lastSystemError(), noError);
}

TEST_F(PlatformContract, RenameReplacesAndRemoveRemovesOnce) {
    write("a", "A");
    write("b", "B");
    // Windows refuses an existing target.
    EXPECT_EQ(renamePath("a", "b"), !windowsRules);
    if (windowsRules) {
        ASSERT_TRUE(removePath(here, "b") && renamePath("a", "b"));
    }
    EXPECT_EQ(contents("b"), "A");
    EXPECT_EQ(names(), std::vector<std::string>{"b"});
    EXPECT_FALSE(renamePath("a", "c"));
    EXPECT_TRUE(removePath(here, "b"));
    EXPECT_FALSE(removePath(here, "b"));
    EXPECT_EQ(pathKindOf("b"), PathKind::missing);
    EXPECT_TRUE(names().empty());
}

TEST_F(PlatformContract, TheLockIsHeldOnceUntilReleased) {
    FileLock first, second;
    ASSERT_EQ(takeFileLock("l", first), LockResult::taken);
    EXPECT_EQ(pathKindOf("l"), PathKind::regular);
    EXPECT_EQ(takeFileLock("l", second), LockResult::heldElsewhere);
    releaseFileLock(first);
    EXPECT_EQ(takeFileLock("l", second), LockResult::taken);
    releaseFileLock(second);
}

TEST_F(PlatformContract, ALookAtTheLockSeesItsHolderAndTakesNothing) {
    // A look that took the lock, even for an instant, could keep a holder
    // starting then from it for its whole run.
    EXPECT_EQ(probeFileLock("l"), LockProbe::free);
    EXPECT_EQ(pathKindOf("l"), PathKind::missing); // nor is the file made
    FileLock first, second;
    ASSERT_EQ(takeFileLock("l", first), LockResult::taken);
    ASSERT_TRUE(writeLockHolder(first, "host 4242 2026-12-11 06:40:00"));
    EXPECT_EQ(probeFileLock("l"), LockProbe::held);
    EXPECT_EQ(takeFileLock("l", second), LockResult::heldElsewhere);
    releaseFileLock(first);
    EXPECT_EQ(probeFileLock("l"), LockProbe::free);
    ASSERT_EQ(takeFileLock("l", second), LockResult::taken);
    EXPECT_EQ(probeFileLock("l"), LockProbe::held); // before its holder names itself
    releaseFileLock(second);
}

TEST_F(PlatformContract, TheHoldersLineIsReadWhileHeldAndClearedAtRelease) {
    FileLock first, second;
    ASSERT_EQ(takeFileLock("l", first), LockResult::taken);
    EXPECT_EQ(lockHolderOf(here, "l"), "");
    ASSERT_TRUE(writeLockHolder(first, "host 4242 2026-12-11 06:40:00"));
    // Read through an open of its own, as a process refused reads it.
    EXPECT_EQ(lockHolderOf(here, "l"), "host 4242 2026-12-11 06:40:00\n");
    EXPECT_EQ(takeFileLock("l", second), LockResult::heldElsewhere);
    EXPECT_EQ(lockHolderOf(here, "l"), "host 4242 2026-12-11 06:40:00\n");
    // A shorter line leaves nothing of the longer one.
    ASSERT_TRUE(writeLockHolder(first, "tool 7 - - x"));
    EXPECT_EQ(lockHolderOf(here, "l"), "tool 7 - - x\n");
    releaseFileLock(first);
    EXPECT_EQ(lockHolderOf(here, "l"), "");
    ASSERT_EQ(takeFileLock("l", second), LockResult::taken);
    releaseFileLock(second);
    EXPECT_EQ(pathKindOf("l"), PathKind::regular);
    EXPECT_EQ(lockHolderOf(here, "missing"), "");
}

TEST_F(PlatformContract, AppendCreatesGrowsAndKeepsWritingToAFileMovedAway) {
    AppendableFile log;
    ASSERT_EQ(openForAppend(here, "log", log), OpenResult::opened);
    EXPECT_EQ(log.size, 0u);
    ASSERT_TRUE(appendBytes(log, "one\n", 4));
    ASSERT_TRUE(renamePath("log", "log.1"));
    ASSERT_TRUE(appendBytes(log, "two\n", 4));
    closeAppendableFile(log);
    EXPECT_EQ(contents("log.1"), "one\ntwo\n");
    ASSERT_EQ(openForAppend(here, "log.1", log), OpenResult::opened);
    EXPECT_EQ(log.size, 8u);
    closeAppendableFile(log);
}

TEST_F(PlatformContract, AReadNeverRunsPastTheEnd) {
    write("f", "12345");
    ReadableFile file;
    ASSERT_EQ(openRegularFile("f", file), OpenResult::opened);
    EXPECT_EQ(file.size, 5u);
    char buffer[8];
    EXPECT_TRUE(readExactly(file, buffer, 3));
    EXPECT_FALSE(readExactly(file, buffer, 3));
    closeReadableFile(file);
    EXPECT_EQ(openRegularFile("missing", file), OpenResult::missing);
}

TEST_F(PlatformContract, TheProfileBesideTheCurrentDirectoryIsRead) {
    write("freqs.ini", "[Config]\nMaxOwnedFreqs=9\n");
    char path[4096];
    ASSERT_TRUE(currentDirectory(path, sizeof path - 16));
    const std::string ini = std::string(path) + configFileSuffix;
    char value[8];
    EXPECT_EQ(readProfileString("Config", "MaxOwnedFreqs", "3", value, sizeof value, ini.c_str()),
              1u);
    EXPECT_STREQ(value, "9");
    EXPECT_EQ(readProfileString("Config", "Other", "30", value, sizeof value, ini.c_str()), 2u);
    EXPECT_STREQ(value, "30");
}

TEST_F(PlatformContract, ALockFileDeletedOrReplacedWhileHeldIsToldOrRefused) {
    // POSIX lets a held lock file go and checkFileLock tells it; Windows
    // keeps its name leading to the held file.
    struct Case {
        const char* what;
        bool (*act)();
    };
    const Case cases[] = {
        {"deleted", [] { return removePath(here, "l"); }},
        {"replaced", [] { return write("l", "other") == WriteResult::written; }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FileLock lock;
        ASSERT_EQ(takeFileLock("l", lock), LockResult::taken);
        const bool done = c.act();
        EXPECT_EQ(done, !windowsRules);
        EXPECT_EQ(checkFileLock("l", lock), done ? LockCheck::replaced : LockCheck::same);
        releaseFileLock(lock);
        removePath(here, "l");
    }
}

TEST_F(PlatformContract, AFileReplacedHasANewStampWhateverItsSizeAndTimes) {
    ASSERT_EQ(write("f", "same"), WriteResult::written);
    FileStamp before, after;
    ASSERT_TRUE(fileStampOf("f", before));
    EXPECT_EQ(before.size, 4u);
#ifndef HADROK_FAKE_PLATFORM
    const auto written = std::filesystem::last_write_time(dir_ / "f");
#endif
    ASSERT_EQ(write("f", "same"), WriteResult::written);
#ifndef HADROK_FAKE_PLATFORM
    // The new file given the old one's time of writing, as a copy that keeps
    // times would: only its identity can tell it.
    std::filesystem::last_write_time(dir_ / "f", written);
#endif
    ASSERT_TRUE(fileStampOf("f", after));
    EXPECT_EQ(after.size, 4u);
    EXPECT_NE(before.identity, after.identity);
    EXPECT_NE(before, after);
    FileStamp again;
    ASSERT_TRUE(fileStampOf("f", again));
    EXPECT_EQ(again, after);
    EXPECT_FALSE(fileStampOf("missing", again));
}

#ifndef HADROK_FAKE_PLATFORM
// What only the systems' own files show.

TEST_F(PlatformContract, AReplaceOfAReadOnlyOrOpenFile) {
    // POSIX replaces the name whatever the old file's mode and whoever has it
    // open; Windows refuses both, and nothing is left behind.
    struct Case {
        const char* what;
        bool readOnly;
        bool heldOpen;
    };
    for (const Case& c : {Case{"read-only", true, false}, Case{"held open", false, true}}) {
        SCOPED_TRACE(c.what);
        ASSERT_EQ(write("f", "old"), WriteResult::written);
        namespace fs = std::filesystem;
        if (c.readOnly)
            fs::permissions(dir_ / "f",
                            fs::perms::owner_write | fs::perms::group_write |
                                fs::perms::others_write,
                            fs::perm_options::remove);
        std::FILE* held = c.heldOpen ? std::fopen("f", "rb") : nullptr;
        EXPECT_EQ(write("f", "new"), windowsRules ? WriteResult::failed : WriteResult::written);
        if (held) std::fclose(held);
        EXPECT_EQ(contents("f"), windowsRules ? "old" : "new");
        EXPECT_EQ(names(), std::vector<std::string>{"f"});
        fs::permissions(dir_ / "f", fs::perms::owner_write, fs::perm_options::add);
        removePath(here, "f");
    }
}

TEST_F(PlatformContract, AFileThatShrinksWhileReadIsAFailedRead) {
    write("f", "12345");
    ReadableFile file;
    ASSERT_EQ(openRegularFile("f", file), OpenResult::opened);
    ASSERT_EQ(file.size, 5u);
    std::filesystem::resize_file(dir_ / "f", 2);
    char buffer[5];
    EXPECT_FALSE(readExactly(file, buffer, sizeof buffer));
    closeReadableFile(file);
}

TEST_F(PlatformContract, TwoNamesOfOneFileAreOneIdentity) {
    write("f", "x");
    write("g", "x");
    std::filesystem::create_hard_link(dir_ / "f", dir_ / "h");
    EXPECT_TRUE(sameFile(fileIdentityOf("f"), fileIdentityOf("h")));
    EXPECT_FALSE(sameFile(fileIdentityOf("f"), fileIdentityOf("g")));
    EXPECT_FALSE(fileIdentityOf("missing").known);
    FileStamp f, h;
    ASSERT_TRUE(fileStampOf("f", f) && fileStampOf("h", h));
    EXPECT_EQ(f.identity, h.identity);
    EXPECT_EQ(f.volume, h.volume);
}

TEST_F(PlatformContract, WhatIsNotARegularFileIsToldSo) {
    std::filesystem::create_directory(dir_ / "d");
    EXPECT_EQ(pathKindOf("d"), PathKind::other);
    EXPECT_EQ(pathKindWords("d", false), "a directory");
    EXPECT_EQ(pathKindWords("missing", false), "");
    write("f", "x");
    EXPECT_EQ(pathKindWords("f", false), "");
    ReadableFile file;
    EXPECT_EQ(openRegularFile("d", file), OpenResult::notRegular);
    AppendableFile log;
    EXPECT_EQ(openForAppend(here, "d", log), OpenResult::notRegular);
}
#endif

} // namespace

namespace {

WriteResult writeIn(const Folder& folder, const char* name, const std::string& bytes) {
    SafeWrite w;
    w.folder = &folder;
    w.path = name;
    w.temporarySuffix = ".tmp.1";
    w.data = bytes.data();
    w.size = bytes.size();
    return writeFileSafely(w);
}

std::string contentsIn(const Folder& folder, const char* name) {
    ReadableFile file;
    if (openRegularFile(folder, name, file) != OpenResult::opened) return "(missing)";
    std::string bytes(file.size, '\0');
    const bool read = readExactly(file, bytes.data(), bytes.size());
    closeReadableFile(file);
    return read ? bytes : "(short)";
}

std::vector<std::string> sorted(std::vector<std::string> names) {
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

// A folder held while it is moved away, and perhaps replaced: every call
// through it still reaches its own files, and what stands at its old name is
// never touched. Windows refuses the move; should it happen all the same,
// checkFolder tells, so that a caller going by the path writes nothing.
void PlatformContract::heldFolderRow(bool putAnother) {
    const std::string path = currentDirectoryPath();
    ASSERT_FALSE(path.empty());
    Folder held;
    ASSERT_TRUE(openFolder(path, held));
    ASSERT_EQ(writeIn(held, "kept", "ours"), WriteResult::written);
    FileLock lock;
    ASSERT_EQ(takeFileLock(held, "lock", lock), LockResult::taken);
    ASSERT_TRUE(writeLockHolder(lock, "host 4242 2026-12-11 06:40:00"));
    AppendableFile log;
    ASSERT_EQ(openForAppend(held, "log", log), OpenResult::opened);
    ASSERT_TRUE(appendBytes(log, "one\n", 4));
    const FolderCheck expected = putAnother ? FolderCheck::replaced : FolderCheck::moved;
    EXPECT_EQ(checkFolder(held), FolderCheck::same);

    const bool moved = moveFolderAway(putAnother);
    if (!folderFollowsHandle) {
        EXPECT_EQ(checkFolder(held), moved ? expected : FolderCheck::same);
    } else {
        ASSERT_TRUE(moved);
        EXPECT_EQ(checkFolder(held), expected);
        EXPECT_EQ(checkFileLock(held, "lock", lock), LockCheck::same);
        FileLock second;
        EXPECT_EQ(takeFileLock(held, "lock", second), LockResult::heldElsewhere);
        EXPECT_EQ(writeIn(held, "new", "ours too"), WriteResult::written);
        EXPECT_EQ(contentsIn(held, "new"), "ours too");
        EXPECT_EQ(contentsIn(held, "kept"), "ours");
        FileStamp stamp;
        EXPECT_TRUE(fileStampOf(held, "kept", stamp));
        EXPECT_EQ(stamp.size, 4u);
        EXPECT_EQ(moveNoReplace(held, "new", "kept"), MoveResult::nameTaken);
        EXPECT_EQ(moveNoReplace(held, "new", "newer"), MoveResult::moved);
        EXPECT_TRUE(flushFolder(held));
        EXPECT_EQ(pathKindOf(held, "newer"), PathKind::regular);
        EXPECT_EQ(pathKindOf(held, "new"), PathKind::missing);
        EXPECT_TRUE(removePath(held, "newer"));
        // The log rotated as the audit log rotates it, and a new one made:
        // all of it in the held folder.
        ASSERT_TRUE(appendBytes(log, "two\n", 4));
        ASSERT_TRUE(flushAppendableFile(log));
        closeAppendableFile(log);
        EXPECT_EQ(moveNoReplace(held, "log", "log.1"), MoveResult::moved);
        ASSERT_EQ(openForAppend(held, "log", log), OpenResult::opened);
        EXPECT_EQ(log.size, 0u);
        ASSERT_TRUE(appendBytes(log, "three\n", 6));
        closeAppendableFile(log);
        EXPECT_EQ(contentsIn(held, "log.1"), "one\ntwo\n");
        EXPECT_EQ(contentsIn(held, "log"), "three\n");
        EXPECT_EQ(lockHolderOf(held, "lock"), "host 4242 2026-12-11 06:40:00\n");
        EXPECT_EQ(sorted(directoryNames(held)),
                  (std::vector<std::string>{"kept", "lock", "log", "log.1"}));
        // At the old name: nothing, or the other folder as it was put there.
        EXPECT_EQ(contents((path + "log").c_str()), "(missing)");
        EXPECT_EQ(contents((path + "kept").c_str()), "(missing)");
        EXPECT_EQ(contents((path + "f").c_str()), putAnother ? "theirs" : "(missing)");
        EXPECT_EQ(sorted(directoryNames(Folder{-1, path})),
                  putAnother ? std::vector<std::string>{"f"} : std::vector<std::string>{});
    }
    closeAppendableFile(log);
    releaseFileLock(lock);
    closeFolder(held);
}

TEST_F(PlatformContract, AFolderRenamedWhileHeldKeepsItsFiles) {
    heldFolderRow(false);
}

TEST_F(PlatformContract, AFolderReplacedWhileHeldIsNeverWrittenThroughTheHold) {
    heldFolderRow(true);
}
