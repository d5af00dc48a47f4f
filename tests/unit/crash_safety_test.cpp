// A save killed at any moment must leave a registry file that loads whole:
// either the one before the save or the one after it, never a mixture.
#include <gtest/gtest.h>

#include <csignal>
#include <random>

#include <sys/wait.h>
#include <unistd.h>

#include "registry/registry_file.h"
#include "temp_dir.h"

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

TEST(CrashSafety, SaveKilledAtRandomMomentsNeverLosesTheRegistry) {
    TempDir dir;
    constexpr uint32_t records = 20000; // about 5.7 MB a save
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
        pid_t child = fork();
        ASSERT_GE(child, 0);
        if (child == 0) {
            for (;;) {
                saveRegistry(second);
                saveRegistry(first);
            }
        }
        usleep(std::uniform_int_distribution<useconds_t>(1000, 60000)(random));
        kill(child, SIGKILL);
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status));
        if (TempDir::exists(std::string(registryFileName) + ".tmp")) ++killedMidSave;

        FreqRegistry loaded;
        ASSERT_TRUE(loadRegistry(loaded)) << "round " << round;
        ASSERT_EQ(loaded.freqs.count(), records) << "round " << round;
        std::string image = registryImage(loaded);
        ASSERT_TRUE(image == imageA || image == imageB) << "round " << round;
    }
    // The kills must have hit saves in progress, or the test shows nothing.
    EXPECT_GT(killedMidSave, 0);
    // The next save clears a temporary file that a killed one left behind.
    FreqRegistry last;
    fill(last, 1, 3);
    ASSERT_TRUE(saveRegistry(last));
    EXPECT_FALSE(TempDir::exists(std::string(registryFileName) + ".tmp"));
    std::cout << "[ crash    ] " << rounds << " kills, " << killedMidSave
              << " of them during a save\n";
}

} // namespace
