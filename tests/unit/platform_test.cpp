#include "platform/platform.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace {

class PlatformFiles : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string pattern = (fs::temp_directory_path() / "hadrok-platform-XXXXXX").string();
        ASSERT_NE(mkdtemp(pattern.data()), nullptr);
        dir = pattern;
    }
    void TearDown() override {
        std::error_code ignored;
        fs::permissions(dir, fs::perms::owner_all, fs::perm_options::add, ignored);
        fs::remove_all(dir, ignored);
    }

    std::string pathOf(const char* name) const { return (dir / name).string(); }

    static void writeFile(const std::string& path, const std::string& contents) {
        std::ofstream(path, std::ios::binary) << contents;
    }
    static std::string readFile(const std::string& path) {
        std::ifstream in(path, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }

    fs::path dir;
};

} // namespace

TEST_F(PlatformFiles, ProfileStringFromFile) {
    const std::string ini = pathOf("freqs.ini");
    char buffer[16];
    auto read = [&](const std::string& path, const char* key, const char* fallback) {
        std::memset(buffer, 0, sizeof buffer);
        const uint32_t n =
            readProfileString("Config", key, fallback, buffer, sizeof buffer, path.c_str());
        EXPECT_EQ(n, std::strlen(buffer));
        return std::string(buffer);
    };

    EXPECT_EQ(read(ini, "MaxOwnedFreqs", "3"), "3") << "missing file";
    writeFile(ini, "[Config]\r\nMaxOwnedFreqs = 5\r\nAutoSaveDelay=10 minutes\r\n");
    EXPECT_EQ(read(ini, "MaxOwnedFreqs", "3"), "5");
    EXPECT_EQ(read(ini, "autosavedelay", "300"), "10 minutes");
    EXPECT_EQ(read(ini, "InviteExpireSeconds", "30"), "30");
    EXPECT_EQ(read(dir.string(), "MaxOwnedFreqs", "3"), "3") << "directory";
    EXPECT_EQ(readProfileString("Config", "K", "3", buffer, sizeof buffer, nullptr), 1u);
}

TEST_F(PlatformFiles, ProfileStringReadsOnlyTheFirstMebibyte) {
    const std::string ini = pathOf("freqs.ini");
    std::string text = "[Config]\nMaxOwnedFreqs=7\n";
    text.append((size_t(1) << 20) - text.size() - 1, ';');
    text += "\nAutoSaveDelay=5\n"; // starts right at the cap
    writeFile(ini, text);
    char buffer[16];
    readProfileString("Config", "MaxOwnedFreqs", "3", buffer, sizeof buffer, ini.c_str());
    EXPECT_STREQ(buffer, "7");
    readProfileString("Config", "AutoSaveDelay", "300", buffer, sizeof buffer, ini.c_str());
    EXPECT_STREQ(buffer, "300");
}

TEST_F(PlatformFiles, ProfileStringTreatsSpecialFilesAsMissing) {
    // Neither blocks on a pipe with no writer nor reads an endless device.
    const std::string fifo = pathOf("fifo.ini");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    char buffer[16];
    EXPECT_EQ(readProfileString("Config", "K", "30", buffer, sizeof buffer, fifo.c_str()), 2u);
    EXPECT_STREQ(buffer, "30");
    EXPECT_EQ(readProfileString("Config", "K", "30", buffer, sizeof buffer, "/dev/zero"), 2u);
    EXPECT_STREQ(buffer, "30");
}

TEST_F(PlatformFiles, FileLockExcludesASecondHolderUntilReleased) {
    const std::string path = pathOf("Zandrel.teams.lock");
    FileLock first;
    ASSERT_EQ(takeFileLock(path.c_str(), first), LockResult::taken);
    struct stat st {};
    ASSERT_EQ(stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // Another process is refused at once, without waiting.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        FileLock other;
        _exit(takeFileLock(path.c_str(), other) == LockResult::heldElsewhere ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);

    releaseFileLock(first);
    FileLock second;
    EXPECT_EQ(takeFileLock(path.c_str(), second), LockResult::taken);
    releaseFileLock(second);
}

TEST_F(PlatformFiles, FileLockRefusesWhatIsNotAPlainFile) {
    // Neither a FIFO (which must not block) nor a link (which could point the
    // lock anywhere) nor a directory is taken as the lock file.
    const std::string fifo = pathOf("fifo.lock");
    ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
    const std::string link = pathOf("link.lock");
    ASSERT_EQ(symlink(pathOf("target").c_str(), link.c_str()), 0);
    const std::string directory = pathOf("dir.lock");
    ASSERT_EQ(mkdir(directory.c_str(), 0700), 0);
    for (const std::string& path : {fifo, link, directory}) {
        FileLock lock;
        EXPECT_EQ(takeFileLock(path.c_str(), lock), LockResult::failed) << path;
        EXPECT_FALSE(lastSystemError().empty());
        EXPECT_EQ(lock.handle, -1);
    }
    EXPECT_FALSE(fs::exists(pathOf("target")));
}

TEST(PlatformDirectory, CurrentDirectoryFitsOrIsEmpty) {
    const std::string cwd = fs::current_path().string();
    std::vector<char> buffer(cwd.size() + 8, '#');

    ASSERT_TRUE(currentDirectory(buffer.data(), static_cast<uint32_t>(cwd.size() + 1)));
    EXPECT_EQ(std::string(buffer.data()), cwd);

    std::fill(buffer.begin(), buffer.end(), '#');
    EXPECT_FALSE(currentDirectory(buffer.data(), static_cast<uint32_t>(cwd.size())));
    EXPECT_EQ(buffer[0], '\0');
    EXPECT_EQ(buffer[cwd.size()], '#') << "written past the buffer";

    EXPECT_FALSE(currentDirectory(buffer.data(), 0));
}
