// The registry file at the largest size a zone can reach, each side by side
// with the least that the same job can cost on this machine, and the heap
// that a loaded record takes.
//
// The save and the load are measured in pairs (see bench/paired.h),
// so that the operation and its baseline meet the same disk and the same
// competition for the processor.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "bench_support.h"
#include "paired.h"
#include "registry/registry_file.h"
#include "tests/fakes/lone_registry_file.h"

namespace {

// The disk is what other work on the machine disturbs most, so the medians
// of the file benchmarks are taken over more rounds.
constexpr int fileRepetitions = 15;

const char baselineTemporary[] = "baseline.tmp";
const char baselineFile[] = "baseline.dat";

// --- Save --------------------------------------------------------------------

// saveRegistry of 65,536 records, against the same bytes, already laid out,
// written to a temporary file with one write, flushed with fsync and renamed
// into place.
void BM_SaveVsBaseline(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    const std::string image = registryImage(bench.registry);
    bool failed = false;
    auto save = [&] { failed |= !saveRegistry(bench.registry); };
    auto baseline = [&] {
        int fd = open(baselineTemporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            failed = true;
            return;
        }
        size_t done = 0;
        while (done < image.size()) {
            ssize_t n = write(fd, image.data() + done, image.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        bool ok = done == image.size() && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        failed |= !ok || std::rename(baselineTemporary, baselineFile) != 0;
    };
    paired(state, save, baseline, [] {});
    if (failed) state.SkipWithError("a write failed");
    // Both wrote the same bytes.
    if (readWholeFile(registryFileName) != image || readWholeFile(baselineFile) != image)
        state.SkipWithError("the files differ from the image");
    std::remove(baselineFile);
    state.counters["records"] = double(bench.registry.freqs.count());
}
BENCHMARK(BM_SaveVsBaseline)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(fileRepetitions);

// --- Load --------------------------------------------------------------------

// loadRegistry of the 65,536-record file into a fresh registry, against
// reading the same file into a buffer and unscrambling its words in a plain
// loop. Freeing the result is not timed; after it the heap is handed back to
// the system, so each round starts as the load at library load does, on pages
// not yet touched, rather than on whatever the allocator happened to keep.
void BM_LoadVsBaseline(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    if (!saveRegistry(bench.registry)) state.SkipWithError("save failed");
    const uint32_t records = bench.registry.freqs.count();
    std::unique_ptr<FreqRegistry> loaded;
    std::unique_ptr<unsigned char[]> buffer;
    size_t got = 0;
    bool failed = false;
    auto load = [&] {
        loaded = std::make_unique<FreqRegistry>();
        loadRegistry(*loaded);
    };
    auto baseline = [&] { buffer = readAndUnscramble(registryFileName, got); };
    auto release = [&] {
        if (loaded && loaded->freqs.count() != records) failed = true;
        if (buffer && got != size_t(records) * freqRecordSize) failed = true;
        loaded.reset();
        buffer.reset();
        got = 0;
        malloc_trim(0);
    };
    paired(state, load, baseline, release);
    if (failed) state.SkipWithError("a load came short");
    state.counters["records"] = double(records);
}
BENCHMARK(BM_LoadVsBaseline)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(fileRepetitions);

// --- Memory ------------------------------------------------------------------

// Heap bytes that the loaded records hold, counted by this program's global
// operator new/delete (usable size of each block) across loadRegistry into an
// empty registry; the glibc arena's own count (mallinfo2, headers included)
// beside it.
void BM_MemoryPerLoadedRecord(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    if (!saveRegistry(bench.registry)) state.SkipWithError("save failed");
    const double records = double(bench.registry.freqs.count());
    int64_t counted = 0, arena = 0;
    for (auto _ : state) {
        auto registry = std::make_unique<FreqRegistry>();
        const struct mallinfo2 before = mallinfo2();
        startHeapCount();
        loadRegistry(*registry);
        counted = stopHeapCount();
        const struct mallinfo2 after = mallinfo2();
        arena = int64_t(after.uordblks + after.hblkhd) - int64_t(before.uordblks + before.hblkhd);
        state.PauseTiming();
        if (registry->freqs.count() != records) state.SkipWithError("not all records loaded");
        registry.reset();
        state.ResumeTiming();
    }
    state.counters["heap_bytes_per_record"] = double(counted) / records;
    state.counters["mallinfo_bytes_per_record"] = double(arena) / records;
    state.counters["records"] = records;
}
BENCHMARK(BM_MemoryPerLoadedRecord)->Iterations(3)->Unit(benchmark::kMillisecond);

} // namespace
