#include "platform/platform.h"

#include <gtest/gtest.h>

#include <csignal>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include <sys/resource.h>
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
    bool replace(const std::string& path, const std::string& contents) {
        return replaceFileContents(path.c_str(), contents.data(), contents.size());
    }
    // Everything in the directory but the named files: catches temporaries
    // left behind.
    std::vector<std::string> strays(std::initializer_list<const char*> expected) const {
        std::vector<std::string> found;
        for (const auto& entry : fs::directory_iterator(dir)) {
            const std::string name = entry.path().filename().string();
            bool known = false;
            for (const char* e : expected)
                known = known || name == e;
            if (!known) found.push_back(name);
        }
        return found;
    }

    fs::path dir;
};

using Strays = std::vector<std::string>;

} // namespace

TEST_F(PlatformFiles, ReplaceCreatesAndReplacesWholeContents) {
    const std::string path = pathOf("Zandrel.teams");
    ASSERT_TRUE(replace(path, std::string(568, 'x')));
    EXPECT_EQ(readFile(path), std::string(568, 'x'));

    // A shorter write leaves no tail of the older, longer contents.
    ASSERT_TRUE(replace(path, std::string("ab\0cd", 5)));
    EXPECT_EQ(readFile(path), std::string("ab\0cd", 5));

    ASSERT_TRUE(replaceFileContents(path.c_str(), nullptr, 0));
    EXPECT_TRUE(fs::exists(path));
    EXPECT_EQ(fs::file_size(path), 0u);
    EXPECT_EQ(strays({"Zandrel.teams"}), Strays{});
}

TEST_F(PlatformFiles, ReplaceWritesLargeContents) {
    std::string big(3 << 20, '\0');
    for (size_t i = 0; i < big.size(); ++i)
        big[i] = static_cast<char>(i * 131 + (i >> 12));
    const std::string path = pathOf("big");
    ASSERT_TRUE(replace(path, big));
    EXPECT_TRUE(readFile(path) == big);
}

TEST_F(PlatformFiles, ReplaceReusesStaleTemporary) {
    const std::string path = pathOf("Zandrel.teams");
    writeFile(path + ".tmp", std::string(1000, 'j'));
    ASSERT_TRUE(replace(path, "new"));
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(strays({"Zandrel.teams"}), Strays{});
}

TEST_F(PlatformFiles, ReplaceDoesNotWriteThroughLinkedTemporary) {
    // A stale temporary that is a symbolic link must not redirect the write.
    const std::string path = pathOf("Zandrel.teams");
    const std::string victim = pathOf("victim");
    writeFile(victim, "keep me");
    fs::create_symlink(victim, path + ".tmp");
    ASSERT_TRUE(replace(path, "new"));
    EXPECT_EQ(readFile(path), "new");
    EXPECT_EQ(readFile(victim), "keep me");
    EXPECT_FALSE(fs::is_symlink(path));
    EXPECT_EQ(strays({"Zandrel.teams", "victim"}), Strays{});
}

TEST_F(PlatformFiles, FailedReplaceLeavesOldContents) {
    const std::string old = "old contents";

    // The target is a directory: the rename fails.
    const std::string asDirectory = pathOf("adir");
    fs::create_directory(asDirectory);
    EXPECT_FALSE(replace(asDirectory, "new"));
    EXPECT_TRUE(fs::is_directory(asDirectory));

    // The temporary's name is taken by a directory that can't be removed.
    const std::string blocked = pathOf("blocked");
    writeFile(blocked, old);
    fs::create_directories(blocked + ".tmp/inside");
    EXPECT_FALSE(replace(blocked, "new"));
    EXPECT_EQ(readFile(blocked), old);
    EXPECT_TRUE(fs::is_directory(blocked + ".tmp/inside"));
    fs::remove_all(blocked + ".tmp");

    // No such directory.
    EXPECT_FALSE(replace(pathOf("missing/file"), "new"));
    EXPECT_FALSE(replaceFileContents(nullptr, "x", 1));
    EXPECT_FALSE(replaceFileContents("", "x", 1));

    EXPECT_EQ(strays({"adir", "blocked"}), Strays{});
}

TEST_F(PlatformFiles, FailedWriteLeavesOldContentsAndNoTemporary) {
    // A file size limit makes the write itself fail part way, as a full disk
    // would. Run in a child so the limit stays there.
    const std::string path = pathOf("Zandrel.teams");
    writeFile(path, "old contents");
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        signal(SIGXFSZ, SIG_IGN);
        const rlimit limit{4096, 4096};
        setrlimit(RLIMIT_FSIZE, &limit);
        const std::string big(100000, 'n');
        _exit(replaceFileContents(path.c_str(), big.data(), big.size()) ? 1 : 0);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "a failed write was reported as success";
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(strays({"Zandrel.teams"}), Strays{});
}

TEST_F(PlatformFiles, ReplaceInUnwritableDirectoryFails) {
    if (geteuid() == 0) GTEST_SKIP() << "root writes into any directory";
    const std::string path = pathOf("Zandrel.teams");
    writeFile(path, "old contents");
    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    EXPECT_FALSE(replace(path, "new"));
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(readFile(path), "old contents");
    EXPECT_EQ(strays({"Zandrel.teams"}), Strays{});
}

TEST_F(PlatformFiles, RenameNoReplaceNeverOverwrites) {
    const std::string from = pathOf("from");
    const std::string to = pathOf("to");
    writeFile(from, "first");
    ASSERT_TRUE(renameNoReplace(from.c_str(), to.c_str()));
    EXPECT_FALSE(fs::exists(from));
    EXPECT_EQ(readFile(to), "first");

    writeFile(from, "second");
    EXPECT_FALSE(renameNoReplace(from.c_str(), to.c_str()));
    EXPECT_EQ(readFile(from), "second");
    EXPECT_EQ(readFile(to), "first");

    EXPECT_FALSE(renameNoReplace(pathOf("missing").c_str(), pathOf("other").c_str()));
    EXPECT_FALSE(fs::exists(pathOf("other")));
}

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
    EXPECT_STREQ(configFileSuffix, "/freqs.ini");
}
