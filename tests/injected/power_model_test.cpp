// The fake platform's model of a power cut, on which the fault loop's cuts
// stand: only what was flushed survives, a file's bytes as of its last flush
// and the folder's names as of its last flush; a disk that writes out of
// order may keep any prefix of the rest.
#include <gtest/gtest.h>

#include <cerrno>
#include <map>
#include <string>

#include "fake_platform.h"
#include "platform/platform.h"

namespace {

// The current directory, reached by its name.
const Folder here{};

using Files = std::map<std::string, std::string>;

WriteResult safeWrite(const char* name, const std::string& bytes) {
    SafeWrite write;
    write.path = name;
    write.temporarySuffix = ".tmp.1";
    write.data = bytes.data();
    write.size = bytes.size();
    return writeFileSafely(write);
}

class PowerModel : public testing::Test {
  protected:
    void SetUp() override {
        clearFakeFiles();
        clearFaultPlan();
    }
    void TearDown() override { clearFaultPlan(); }
};

TEST_F(PowerModel, ASafeWriteSurvivesWholeAndOnlyOnceItsFolderIsFlushed) {
    setFakeFile("r", "old");
    ASSERT_EQ(safeWrite("r", "new"), WriteResult::written);
    EXPECT_EQ(survivingFiles(), (Files{{"r", "new"}}));

    // The folder's flush fails: the rename may be lost, the old file stays whole.
    setFaultPlan({.atCall = 1, .kind = "folderFlushOfWrite"});
    ASSERT_EQ(safeWrite("r", "newer"), WriteResult::renamedUnflushed);
    EXPECT_EQ(*fakeFile("r"), "newer");
    EXPECT_EQ(survivingFiles(), (Files{{"r", "new"}}));
    // Kept out of order: the temporary made, then renamed over the file.
    EXPECT_EQ(survivingFiles(1), (Files{{"r", "new"}, {"r.tmp.1", "newer"}}));
    EXPECT_EQ(survivingFiles(2), (Files{{"r", "newer"}}));
}

TEST_F(PowerModel, AMoveAndAnAppendAreLostUntilFlushed) {
    setFakeFile("r", "damaged");
    ASSERT_EQ(moveNoReplace("r", "r.damaged"), MoveResult::moved);
    AppendableFile log;
    ASSERT_EQ(openForAppend(here, "log", log), OpenResult::opened);
    ASSERT_TRUE(appendBytes(log, "line\n", 5));
    closeAppendableFile(log);
    EXPECT_EQ(survivingFiles(), (Files{{"r", "damaged"}}));
    EXPECT_EQ(survivingFiles(2), (Files{{"log", ""}, {"r.damaged", "damaged"}}));
    ASSERT_TRUE(flushFolderOf("r.damaged"));
    EXPECT_EQ(survivingFiles(), (Files{{"log", ""}, {"r.damaged", "damaged"}}));
    EXPECT_EQ(pendingFolderChanges(), 0u);
}

TEST_F(PowerModel, EachStepIsCountedAndRestoringDropsLocksAndHandles) {
    FileLock lock;
    ASSERT_EQ(takeFileLock("l", lock), LockResult::taken);
    const uint64_t before = powerSteps();
    ASSERT_EQ(safeWrite("r", "x"), WriteResult::written);
    // Made, flushed, renamed, the folder flushed.
    EXPECT_EQ(powerSteps() - before, 4u);
    restoreFiles(survivingFiles());
    FileLock again;
    EXPECT_EQ(takeFileLock("l", again), LockResult::taken);
    EXPECT_EQ(*fakeFile("r"), "x");
}

// The plan fails the call it names, with the class's error, and counts
// only what it fails.
TEST_F(PowerModel, APlanFailsTheNthCallOfAKind) {
    setFaultPlan({.atCall = 2, .kind = "removePath", .fault = FaultClass::noSpace});
    setFakeFile("a", "");
    setFakeFile("b", "");
    EXPECT_TRUE(removePath(here, "a"));
    errno = 0;
    EXPECT_FALSE(removePath(here, "b"));
    EXPECT_EQ(errno, ENOSPC);
    EXPECT_EQ(faultsFired(), 1u);
    EXPECT_TRUE(removePath(here, "b"));
    EXPECT_EQ(platformCalls(), 3u);

    setFaultPlan({.atCall = 1, .kind = {}, .fault = FaultClass::outOfMemory});
    EXPECT_THROW(currentDirectoryPath(), std::bad_alloc);
    // A call that has no way to fail is counted, never failed.
    setFaultPlan({.atCall = 1, .kind = {}, .fault = FaultClass::ioError});
    EXPECT_EQ(processId(), 4242u);
    EXPECT_EQ(faultsFired(), 0u);
}

} // namespace
