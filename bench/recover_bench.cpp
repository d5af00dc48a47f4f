// The merge "teams recover" makes: twenty side files of changes over a
// registry of 65,536 records, each file read, decoded and merged in turn
// (one side file in memory at a time, beside the registry), paired in each
// round with the bare reading of the same files. Measured at two sizes of
// side file, so that its time is seen to grow with what it reads.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>
#include <vector>

#include "bench_support.h"
#include "paired.h"
#include "registry/change_file.h"
#include "registry/change_merge.h"

namespace {

constexpr int sideFiles = 20;
constexpr uint32_t registryRecords = 65536;

FreqRecord recordOf(uint32_t freq, const char* name, uint32_t hash) {
    FreqRecord r{};
    r.freq = uint16_t(freq);
    setTextField(r.owner, "owner");
    setTextField(r.freqName, name);
    r.passwordHash = hash;
    r.lastUsed = 1765400000;
    return r;
}

std::string fileName(int i) {
    return "recover-bench.unsaved." + std::to_string(i);
}

// The registry, and twenty runs that each changed `changes` of its freqs
// from what it held: the first run's are made, the later ones' conflict.
std::vector<FreqRecord> writeSideFiles(uint32_t changes) {
    std::vector<FreqRecord> registry;
    for (uint32_t freq = 0; freq < registryRecords; ++freq)
        registry.push_back(recordOf(freq, "as saved", freq));
    for (int i = 0; i < sideFiles; ++i) {
        std::vector<FreqChange> list;
        for (uint32_t n = 0; n < changes; ++n) {
            FreqChange change;
            change.freq = uint16_t(n * (registryRecords / changes));
            change.baseKind = BaseKind::record;
            change.base = registry[change.freq];
            change.hasNew = true;
            change.now = recordOf(change.freq, "changed", uint32_t(i));
            change.changedAt = 1765400000 + i;
            list.push_back(change);
        }
        const std::string bytes =
            encodeChangeFile({.identity = uint64_t(i), .sequence = uint64_t(i + 1)}, list);
        if (std::FILE* file = std::fopen(fileName(i).c_str(), "wb")) {
            std::fwrite(bytes.data(), 1, bytes.size(), file);
            std::fclose(file);
        }
    }
    return registry;
}

void BM_RecoverVsRead(benchmark::State& state) {
    const uint32_t changes = uint32_t(state.range(0));
    const std::vector<FreqRecord> registry = writeSideFiles(changes);
    size_t made = 0, conflicts = 0, bytesRead = 0;
    bool failed = false;
    auto recover = [&] {
        MergeTarget target;
        startMerge(target, registry);
        for (int i = 0; i < sideFiles; ++i) {
            const DecodedChangeFile file = decodeChangeFile(readWholeFile(fileName(i)));
            failed |= file.kind != ChangeFileKind::changes || file.changes.size() != changes;
            for (const FreqChange& change : file.changes) {
                const ChangeOutcome outcome = mergeChange(target, change, false).outcome;
                made += outcome == ChangeOutcome::changed;
                conflicts += outcome == ChangeOutcome::conflict;
            }
        }
        benchmark::DoNotOptimize(mergedRecords(target).size());
    };
    auto read = [&] {
        for (int i = 0; i < sideFiles; ++i) {
            const std::string bytes = readWholeFile(fileName(i));
            bytesRead += bytes.size();
            benchmark::DoNotOptimize(bytes.data());
        }
    };
    paired(state, recover, read, [] {});
    const size_t rounds = size_t(state.iterations());
    if (failed || made != changes * rounds || conflicts != size_t(sideFiles - 1) * changes * rounds)
        state.SkipWithError("the merge did not make what the side files hold");
    state.counters["side_file_mb"] =
        double(bytesRead) / double(state.iterations()) / sideFiles / (1 << 20);
    for (int i = 0; i < sideFiles; ++i)
        std::remove(fileName(i).c_str());
}
BENCHMARK(BM_RecoverVsRead)->Arg(16384)->Arg(65536)->UseManualTime()->Unit(benchmark::kMillisecond);

} // namespace
