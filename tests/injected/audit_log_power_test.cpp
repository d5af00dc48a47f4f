// The audit log's lines against the fake platform's power cuts and kills:
// a line is durable before the change it tells (a rotation, and the kept
// lines of the oldest generation, included), and a rotation cut short and
// done again writes no line twice. Beside them, the store's own save when its
// folder's flush failed.
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_platform.h"
#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/freq_registry.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"

namespace {

using Files = std::map<std::string, std::string>;

const char change[] = "the change";

// The log and every generation and the kept lines, in one text.
std::string allLogText(const Files& files) {
    std::string text;
    for (const auto& [name, bytes] : files)
        if (name.starts_with(auditLogFileName)) text += bytes;
    return text;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string operatorLine(int n) {
    return "op-line-" + std::to_string(n) + ";";
}

// Fills the log to just below its rotation, so that the line after `before`
// more rotates it; with `allGenerations`, .1 to .5 are there too, .5 with
// three lines that must be kept.
void fillLog(bool allGenerations, size_t before) {
    const size_t line = 64;
    setFakeFile(auditLogFileName, std::string(size_t(auditLogRotateBytes) - before * line, 'x'));
    if (!allGenerations) return;
    for (int n = 1; n <= auditLogGenerations; ++n)
        setFakeFile(std::string(auditLogFileName) + "." + std::to_string(n),
                    n < auditLogGenerations ? "g\n" : "five-a;\nfive-b;\nfive-c;\n");
}

void writeLines(AuditLog& log, int from, int to) {
    for (int n = from; n < to; ++n)
        auditToolLine(log, "op", "test", noFreq, operatorLine(n) + std::string(20, 'p'));
}

struct Cuts {
    std::vector<Files> states; // every state a power cut could leave
};
Cuts* cuts = nullptr;

extern "C" void keepEveryCut() {
    for (size_t kept = 0; kept <= pendingFolderChanges(); ++kept)
        cuts->states.push_back(survivingFiles(kept));
}

class AuditLogPower : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        clearFakeFiles();
        clearFaultPlan();
    }
    void TearDown() override {
        onPowerStep(nullptr);
        cuts = nullptr;
    }
};

// Forty lines across a rotation, a flush, then the change they tell: a cut
// at any step that keeps the change keeps all forty lines, and the lines the
// oldest generation held are never lost on the way into the kept file.
// (That they are never kept twice is the kill test's below.)
TEST_P(AuditLogPower, APowerCutNeverKeepsAChangeWithoutItsLines) {
    const bool allGenerations = GetParam();
    fillLog(allGenerations, 20);
    Cuts seen;
    cuts = &seen;
    onPowerStep(&keepEveryCut);
    {
        AuditLog log;
        writeLines(log, 0, 40);
        ASSERT_TRUE(fakeFile(std::string(auditLogFileName) + ".1")); // it did rotate
        ASSERT_TRUE(flushAuditLog(log));
        SafeWrite write;
        write.path = "r";
        write.data = change;
        write.size = sizeof change - 1;
        ASSERT_EQ(writeFileSafely(write), WriteResult::written);
    }
    onPowerStep(nullptr);
    ASSERT_FALSE(seen.states.empty());
    size_t withChange = 0;
    for (const Files& state : seen.states) {
        const std::string text = allLogText(state);
        // In .5, in the kept file, or (between the two) in both for a
        // moment: never in neither.
        if (allGenerations) {
            for (const char* kept : {"five-a;\n", "five-b;\n", "five-c;\n"})
                ASSERT_GE(countOf(text, kept), 1u) << kept;
        }
        auto r = state.find("r");
        if (r == state.end() || r->second != change) continue;
        ++withChange;
        for (int n = 0; n < 40; ++n)
            ASSERT_EQ(countOf(text, operatorLine(n)), 1u) << n;
    }
    EXPECT_GT(withChange, 0u);
}

// A kill at any step of a rotation that keeps the oldest generation's lines,
// then a new process that logs a line (and so rotates again): every line is
// in the files once.
TEST(AuditLogKill, ARotationKilledAtAnyStepWritesNoLineTwice) {
    clearFakeFiles();
    fillLog(true, 0);
    std::vector<Files> live;
    static std::vector<Files>* states = nullptr;
    states = &live;
    onPowerStep([] {
        Files now;
        for (const std::string& name : fakeFileNames())
            now[name] = *fakeFile(name);
        states->push_back(std::move(now));
    });
    {
        AuditLog log;
        writeLines(log, 0, 1);
    }
    onPowerStep(nullptr);
    ASSERT_GT(live.size(), 3u);
    for (size_t step = 0; step < live.size(); ++step) {
        restoreFiles(live[step]);
        {
            AuditLog log;
            writeLines(log, 1, 2);
        }
        Files after;
        for (const std::string& name : fakeFileNames())
            after[name] = *fakeFile(name);
        const std::string text = allLogText(after);
        for (const char* kept : {"five-a;\n", "five-b;\n", "five-c;\n"})
            EXPECT_EQ(countOf(text, kept), 1u) << kept << " after a kill at step " << step;
        // Killed before its line was written, or after: never twice.
        EXPECT_LE(countOf(text, operatorLine(0)), 1u) << "step " << step;
        EXPECT_EQ(countOf(text, operatorLine(1)), 1u) << "step " << step;
    }
}

// The flush at a rotation's close fails: the file is held on, the operator
// is told, and the next flush (the one before a save) makes its line
// durable, moved to .1 as it is.
TEST(AuditLogFlush, ALineWhoseFlushFailedAtACloseIsFlushedByTheNext) {
    clearFakeFiles();
    fillLog(false, 1);
    AuditLog log;
    writeLines(log, 0, 1);
    setFaultPlan({.atCall = 1, .kind = "flushAppendableFile"});
    writeLines(log, 1, 2); // rotates: the close's flush fails
    clearFaultPlan();
    ASSERT_TRUE(fakeFile(std::string(auditLogFileName) + ".1"));
    EXPECT_NE(auditLogProblem(log).find("could not be flushed to disk"), std::string::npos);
    EXPECT_EQ(countOf(allLogText(survivingFiles()), operatorLine(0)), 0u);
    ASSERT_TRUE(flushAuditLog(log));
    const std::string text = allLogText(survivingFiles());
    EXPECT_EQ(countOf(text, operatorLine(0)), 1u);
    EXPECT_EQ(countOf(text, operatorLine(1)), 1u);
}

INSTANTIATE_TEST_SUITE_P(Rotations, AuditLogPower, testing::Bool(), [](const auto& info) {
    return info.param ? std::string("oldest_generation_kept") : std::string("into_a_free_one");
});

// A save whose folder flush failed put this process's file in place: once
// the lock file is deleted by hand, the lock is taken back and the next save
// writes, rather than taking the file for another process's.
TEST(StoreSave, AFailedFolderFlushLeavesTheSaveThisProcesssOwn) {
    clearFakeFiles();
    clearFaultPlan();
    RegistryStore store;
    FreqRegistry registry;
    openRegistryStore(store);
    loadRegistryFile(store, registry);
    char owner[20] = "Bob";
    addFreq(registry, 100, owner, 0);
    setFaultPlan({.atCall = 1, .kind = "folderFlushOfWrite"});
    EXPECT_EQ(saveRegistryFile(store, registry, 0).status, SaveStatus::savedUnflushed);
    clearFaultPlan();
    removeFakeFile(registryLockFileName);
    addFreq(registry, 101, owner, 0);
    const SaveReport next = saveRegistryFile(store, registry, 0);
    EXPECT_EQ(next.status, SaveStatus::saved) << next.reason;
    EXPECT_TRUE(store.lockRetaken);
    ASSERT_TRUE(fakeFile(registryFileName));
    EXPECT_EQ(*fakeFile(registryFileName), std::string(registryImage(registry)));
    closeRegistryStore(store);
}

} // namespace
