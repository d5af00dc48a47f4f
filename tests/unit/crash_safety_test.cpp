// A save killed at any moment must leave a registry file that loads whole:
// either the one before the save or the one after it, never a mixture; and
// two host processes in one directory must never mix or lose each other's
// saves.
#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "temp_dir.h"
#include "tests/fakes/lone_registry_file.h"

namespace {

void fill(FreqRegistry& registry, uint32_t count, int32_t stamp) {
    for (uint32_t i = 0; i < count; ++i) {
        FreqRecord r{};
        r.freq = uint16_t(100 + i);
        setTextField(r.freqName, "crash test");
        r.lastUsed = stamp;
        registry.freqs.append(r);
    }
}

// Temporaries of saves left in the directory.
int leftoverTemporaries() {
    int count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (entry.path().filename().string().rfind(std::string(registryFileName) + ".tmp", 0) == 0)
            ++count;
    return count;
}

void killAndReap(pid_t child) {
    kill(child, SIGKILL);
    int status = 0;
    waitpid(child, &status, 0);
}

constexpr uint32_t records = 20000; // about 5.7 MB a save

TEST(CrashSafety, SaveKilledAtRandomMomentsNeverLosesTheRegistry) {
    TempDir dir;
    FreqRegistry first, second;
    fill(first, records, 1);
    fill(second, records, 2);
    const std::string imageA = registryImage(first);
    const std::string imageB = registryImage(second);
    ASSERT_TRUE(saveRegistry(first));

    std::mt19937 random(20261210);
    constexpr int rounds = 40;
    int killedMidSave = 0;
    for (int round = 0; round < rounds; ++round) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            for (bool told = false;; told = true) {
                saveRegistry(second);
                // The kill is timed from here: on a busy machine the child
                // may take longer to start than the longest wait below.
                if (!told && write(started[1], "s", 1) != 1) _exit(2);
                saveRegistry(first);
            }
        }
        close(started[1]);
        char none;
        ASSERT_EQ(read(started[0], &none, 1), 1);
        close(started[0]);
        usleep(std::uniform_int_distribution<useconds_t>(1000, 60000)(random));
        killAndReap(child);
        if (leftoverTemporaries() > 0) ++killedMidSave;

        FreqRegistry loaded;
        ASSERT_TRUE(loadRegistry(loaded)) << "round " << round;
        ASSERT_EQ(loaded.freqs.count(), records) << "round " << round;
        std::string image = registryImage(loaded);
        ASSERT_TRUE(image == imageA || image == imageB) << "round " << round;
    }
    // The kills must have hit saves in progress, or the test shows nothing.
    EXPECT_GT(killedMidSave, 0);
    // The next process to hold the directory's lock clears what killed saves
    // left behind.
    RegistryStore store;
    openRegistryStore(store);
    EXPECT_EQ(leftoverTemporaries(), 0);
    closeRegistryStore(store);
    std::cout << "[ crash    ] " << rounds << " kills, " << killedMidSave
              << " of them during a save\n";
}

// Two host processes started in one directory, each saving as fast as it
// can, both killed at a random moment: only the one holding the lock ever
// writes, so the file is always one whole image of the holder's (or what was
// there before), and the other's temporaries never disturb it.
TEST(CrashSafety, TwoProcessesInOneDirectoryNeverMixTheirSaves) {
    TempDir dir;
    FreqRegistry images[4];
    for (int i = 0; i < 4; ++i)
        fill(images[i], records / 4, i + 1);
    std::string bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = registryImage(images[i]);
    ASSERT_TRUE(saveRegistry(images[0]));

    std::mt19937 random(20261211);
    constexpr int rounds = 30;
    int savesByNonHolder = 0;
    for (int round = 0; round < rounds; ++round) {
        const std::string before = TempDir::read(registryFileName);
        int report[2];
        ASSERT_EQ(pipe(report), 0);
        pid_t children[2];
        for (int p = 0; p < 2; ++p) {
            children[p] = fork();
            ASSERT_GE(children[p], 0);
            if (children[p] == 0) {
                close(report[0]);
                RegistryStore store;
                openRegistryStore(store);
                FreqRegistry loaded;
                loadRegistryFile(store, loaded);
                const char held = holdsRegistry(store) ? 'H' : 'N';
                if (write(report[1], &held, 1) != 1) _exit(2);
                for (int n = 0;; ++n) {
                    const SaveStatus status =
                        saveRegistryFile(store, images[p * 2 + n % 2], 0).status;
                    // A non-holder that wrote anything is the fault sought.
                    if (held == 'N' && status != SaveStatus::notHeld) _exit(3);
                }
            }
        }
        close(report[1]);
        char held[2] = {};
        ASSERT_EQ(read(report[0], &held[0], 1), 1);
        ASSERT_EQ(read(report[0], &held[1], 1), 1);
        close(report[0]);
        usleep(std::uniform_int_distribution<useconds_t>(1000, 40000)(random));
        int holders = 0;
        for (int p = 0; p < 2; ++p) {
            kill(children[p], SIGKILL);
            int status = 0;
            waitpid(children[p], &status, 0);
            if (WIFEXITED(status)) ++savesByNonHolder;
        }
        holders = (held[0] == 'H') + (held[1] == 'H');
        ASSERT_EQ(holders, 1) << "round " << round;

        FreqRegistry loaded;
        ASSERT_TRUE(loadRegistry(loaded)) << "round " << round;
        const std::string image = registryImage(loaded);
        bool known = image == before;
        for (const std::string& b : bytes)
            known = known || image == b;
        ASSERT_TRUE(known) << "round " << round;
    }
    EXPECT_EQ(savesByNonHolder, 0);
}

} // namespace
