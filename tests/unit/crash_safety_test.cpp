// A save killed at any moment must leave a registry file that loads whole:
// either the one before the save or the one after it, never a mixture; and
// two host processes in one directory must never mix or lose each other's
// saves.
#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <filesystem>
#include <numeric>
#include <random>
#include <vector>

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

// About 570 kB a save: small enough for many rounds, large enough that the
// write, the flush, the rename and the directory's flush each take a share of
// a save's time, so that kills spread over a save land in every one of them.
constexpr uint32_t records = 2000;

// How long a save of this registry takes here, in microseconds: the kills
// are timed within one save's length, whatever the speed of the disk.
useconds_t microsecondsPerSave(FreqRegistry& registry) {
    constexpr int saves = 4;
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < saves; ++i)
        if (!saveRegistry(registry)) return 0;
    const auto spent = std::chrono::steady_clock::now() - start;
    return useconds_t(std::chrono::duration_cast<std::chrono::microseconds>(spent).count() / saves);
}

// Waits before each round's kill, spread evenly over span microseconds in
// random order (one at a random point of each of rounds equal slices), so
// that no stretch of a save goes without a kill.
std::vector<useconds_t> killDelays(int rounds, useconds_t span, std::mt19937& random) {
    std::vector<int> slices(size_t(rounds), 0);
    std::iota(slices.begin(), slices.end(), 0);
    std::shuffle(slices.begin(), slices.end(), random);
    std::uniform_real_distribution<double> within(0.0, 1.0);
    std::vector<useconds_t> delays;
    for (int slice : slices)
        delays.push_back(useconds_t((slice + within(random)) * span / rounds));
    return delays;
}

TEST(CrashSafety, SaveKilledAtRandomMomentsNeverLosesTheRegistry) {
    TempDir dir;
    FreqRegistry first, second;
    fill(first, records, 1);
    fill(second, records, 2);
    const std::string imageA = registryImage(first);
    const std::string imageB = registryImage(second);
    ASSERT_TRUE(saveRegistry(first));
    const useconds_t save = microsecondsPerSave(first);
    ASSERT_GT(save, 0u);

    std::mt19937 random(20261210);
    constexpr int rounds = 100;
    // The child saves without a pause, so the kills spread over one save's
    // length fall in every part of a save.
    const std::vector<useconds_t> delays = killDelays(rounds, save, random);
    // Where each kill left the child's save, told by its temporary.
    int whileWriting = 0, beforeRename = 0, afterRename = 0;
    for (int round = 0; round < rounds; ++round) {
        int started[2];
        ASSERT_EQ(pipe(started), 0);
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            close(started[0]);
            for (bool told = false;; told = true) {
                saveRegistry(second);
                // The kill is timed from here, a save in full swing: the
                // first save of a new process takes longer, and on a busy
                // machine the child may take longer to start than a save.
                if (!told && write(started[1], "s", 1) != 1) _exit(2);
                saveRegistry(first);
            }
        }
        close(started[1]);
        char none;
        ASSERT_EQ(read(started[0], &none, 1), 1);
        close(started[0]);
        usleep(delays[size_t(round)]);
        killAndReap(child);

        // Each process writes a temporary of its own: one left by an earlier
        // round's child is not this kill's.
        std::error_code missing;
        const auto written = std::filesystem::file_size(
            std::string(registryFileName) + ".tmp." + std::to_string(child), missing);
        if (missing)
            ++afterRename;
        else if (written < imageA.size())
            ++whileWriting;
        else
            ++beforeRename;

        FreqRegistry loaded;
        ASSERT_TRUE(loadRegistry(loaded)) << "round " << round;
        ASSERT_EQ(loaded.freqs.count(), records) << "round " << round;
        std::string image = registryImage(loaded);
        ASSERT_TRUE(image == imageA || image == imageB) << "round " << round;
    }
    // The kills must have hit saves in progress, or the test shows nothing.
    const int killedMidSave = whileWriting + beforeRename;
    EXPECT_GT(killedMidSave, 0);
    // The next process to hold the directory's lock clears what killed saves
    // left behind.
    RegistryStore store;
    openRegistryStore(store);
    EXPECT_EQ(leftoverTemporaries(), 0);
    closeRegistryStore(store);
    std::cout << "[ crash    ] " << rounds << " kills within a save of " << save
              << " us: " << whileWriting << " while writing, " << beforeRename
              << " before the rename, " << afterRename << " after it\n";
}

// Two host processes started in one directory, each saving as fast as it
// can, both killed at a random moment: only the one holding the lock ever
// writes, so the file is always one whole image of the holder's (or what was
// there before), and the other's temporaries never disturb it.
TEST(CrashSafety, TwoProcessesInOneDirectoryNeverMixTheirSaves) {
    TempDir dir;
    FreqRegistry images[4];
    for (int i = 0; i < 4; ++i)
        fill(images[i], records, i + 1);
    std::string bytes[4];
    for (int i = 0; i < 4; ++i)
        bytes[i] = registryImage(images[i]);
    ASSERT_TRUE(saveRegistry(images[0]));
    const useconds_t save = microsecondsPerSave(images[0]);
    ASSERT_GT(save, 0u);

    std::mt19937 random(20261211);
    constexpr int rounds = 60;
    // The holder's next save starts as it reports: the kills fall within it.
    const std::vector<useconds_t> delays = killDelays(rounds, save, random);
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
                // One save before the report: the kill is timed from a save
                // in full swing, the first of a new process taking longer.
                const SaveStatus first = saveRegistryFile(store, images[p * 2], 0).status;
                if (write(report[1], &held, 1) != 1) _exit(2);
                if (held == 'N' && first != SaveStatus::notHeld) _exit(3);
                for (int n = 1;; ++n) {
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
        usleep(delays[size_t(round)]);
        int holders = 0;
        // The holder first: its kill is the one timed within a save.
        const int holderFirst = held[1] == 'H' ? 1 : 0;
        for (int k = 0; k < 2; ++k) {
            const int p = k ^ holderFirst;
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
