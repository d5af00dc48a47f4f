// The contracts of the platform layer, checked alike against the system's
// layer (in a fresh temporary directory) and against the fake one the fuzz
// targets link (HADROK_FAKE_PLATFORM), so that the fake cannot drift into
// promising what the real one does not keep.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/platform.h"

#ifdef HADROK_FAKE_PLATFORM
#include "tests/fakes/fake_platform.h"
#else
#include <filesystem>
#include <unistd.h>
#endif

namespace {

class PlatformContract : public testing::Test {
  protected:
    void SetUp() override {
#ifdef HADROK_FAKE_PLATFORM
        clearFakeFiles();
#else
        std::string pattern = (std::filesystem::temp_directory_path() / "hadrok-contract-XXXXXX");
        ASSERT_TRUE(mkdtemp(pattern.data()));
        dir_ = pattern;
        std::filesystem::current_path(dir_);
#endif
    }
#ifndef HADROK_FAKE_PLATFORM
    void TearDown() override {
        std::error_code ignored;
        std::filesystem::current_path("/", ignored);
        std::filesystem::remove_all(dir_, ignored);
    }
    std::filesystem::path dir_;
#endif
};

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
    errno = 0;
    EXPECT_FALSE(flushFolderOf(""));
    EXPECT_NE(errno, 0);
}

TEST_F(PlatformContract, RenameReplacesAndRemoveRemovesOnce) {
    write("a", "A");
    write("b", "B");
    EXPECT_TRUE(renamePath("a", "b"));
    EXPECT_EQ(contents("b"), "A");
    EXPECT_EQ(names(), std::vector<std::string>{"b"});
    EXPECT_FALSE(renamePath("a", "c"));
    EXPECT_TRUE(removePath("b"));
    EXPECT_FALSE(removePath("b"));
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

TEST_F(PlatformContract, AppendCreatesGrowsAndKeepsWritingToAFileMovedAway) {
    AppendableFile log;
    ASSERT_EQ(openForAppend("log", log), OpenResult::opened);
    EXPECT_EQ(log.size, 0u);
    ASSERT_TRUE(appendBytes(log, "one\n", 4));
    ASSERT_TRUE(renamePath("log", "log.1"));
    ASSERT_TRUE(appendBytes(log, "two\n", 4));
    closeAppendableFile(log);
    EXPECT_EQ(contents("log.1"), "one\ntwo\n");
    ASSERT_EQ(openForAppend("log.1", log), OpenResult::opened);
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

} // namespace
