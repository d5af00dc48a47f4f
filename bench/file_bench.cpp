// The registry file at the largest size a zone can reach, each side by side
// with the least that the same job can cost on this machine, and the heap
// that a loaded record takes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>

#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include "bench_support.h"
#include "registry/registry_file.h"

namespace {

// The file benchmarks wait on the disk, which other work on the machine
// disturbs most, so their medians are taken over more rounds.
constexpr int fileRepetitions = 15;

const char baselineTemporary[] = "baseline.tmp";
const char baselineFile[] = "baseline.dat";

// The file as saveRegistry writes it for the large registry, in place before
// a load is measured.
std::string writeLargeFile(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    std::string image = registryImage(bench.registry);
    if (!saveRegistry(bench.registry)) state.SkipWithError("save failed");
    return image;
}

// --- Save --------------------------------------------------------------------

void BM_Save(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    for (auto _ : state)
        if (!saveRegistry(bench.registry)) {
            state.SkipWithError("save failed");
            break;
        }
    // What was measured wrote the bytes that the baseline writes.
    std::FILE* file = std::fopen(registryFileName, "rb");
    std::string written(size_t(bench.registry.freqs.count()) * freqRecordSize + 1, '\0');
    size_t got = file ? std::fread(written.data(), 1, written.size(), file) : 0;
    if (file) std::fclose(file);
    written.resize(got);
    if (written != registryImage(bench.registry)) state.SkipWithError("file differs from image");
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(got));
    state.counters["records"] = double(bench.registry.freqs.count());
}
BENCHMARK(BM_Save)->Unit(benchmark::kMillisecond)->Repetitions(fileRepetitions);

// The same bytes, already laid out, written to a temporary file with one
// write, flushed with fsync and renamed into place.
void BM_SaveBaseline(benchmark::State& state) {
    const std::string image = registryImage(benchRegistry(largeRecords).registry);
    for (auto _ : state) {
        int fd = open(baselineTemporary, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
        if (fd < 0) {
            state.SkipWithError("open failed");
            break;
        }
        size_t done = 0;
        while (done < image.size()) {
            ssize_t n = write(fd, image.data() + done, image.size() - done);
            if (n <= 0) break;
            done += size_t(n);
        }
        bool ok = done == image.size() && fsync(fd) == 0;
        ok = close(fd) == 0 && ok;
        if (!ok || std::rename(baselineTemporary, baselineFile) != 0) {
            state.SkipWithError("write failed");
            break;
        }
    }
    std::remove(baselineFile);
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_SaveBaseline)->Unit(benchmark::kMillisecond)->Repetitions(fileRepetitions);

// --- Load --------------------------------------------------------------------

// Loading into a fresh registry; freeing it afterwards is not timed. Both load
// benchmarks hand freed memory back to the system before the next round, so
// each round starts as the load at library load does, on pages not yet
// touched, rather than on whatever the allocator happened to keep.
void BM_Load(benchmark::State& state) {
    const std::string image = writeLargeFile(state);
    const uint32_t records = uint32_t(image.size() / freqRecordSize);
    for (auto _ : state) {
        auto registry = std::make_unique<FreqRegistry>();
        loadRegistry(*registry);
        state.PauseTiming();
        if (registry->freqs.count() != records) state.SkipWithError("not all records loaded");
        registry.reset();
        malloc_trim(0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_Load)->Unit(benchmark::kMillisecond)->Repetitions(fileRepetitions);

// Reading the same file into a buffer and unscrambling its words in a plain
// loop; freeing the buffer is not timed, and the heap is trimmed as above.
void BM_LoadBaseline(benchmark::State& state) {
    const std::string image = writeLargeFile(state);
    for (auto _ : state) {
        std::FILE* file = std::fopen(registryFileName, "rb");
        if (!file) {
            state.SkipWithError("open failed");
            break;
        }
        std::fseek(file, 0, SEEK_END);
        const size_t size = size_t(std::ftell(file));
        std::fseek(file, 0, SEEK_SET);
        std::unique_ptr<unsigned char[]> buffer(new unsigned char[size]);
        const size_t got = std::fread(buffer.get(), 1, size, file);
        std::fclose(file);
        for (size_t offset = 0; offset + 4 <= got; offset += 4) {
            uint32_t word;
            std::memcpy(&word, buffer.get() + offset, 4);
            word ^= recordKey;
            std::memcpy(buffer.get() + offset, &word, 4);
        }
        benchmark::DoNotOptimize(buffer.get());
        state.PauseTiming();
        if (got != image.size()) state.SkipWithError("short read");
        buffer.reset();
        malloc_trim(0);
        state.ResumeTiming();
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(image.size()));
}
BENCHMARK(BM_LoadBaseline)->Unit(benchmark::kMillisecond)->Repetitions(fileRepetitions);

// --- Memory ------------------------------------------------------------------

// Heap bytes that the loaded records hold, counted by this program's global
// operator new/delete (usable size of each block) across loadRegistry into an
// empty registry; the glibc arena's own count (mallinfo2, headers included)
// beside it.
void BM_MemoryPerLoadedRecord(benchmark::State& state) {
    const std::string image = writeLargeFile(state);
    const double records = double(image.size() / freqRecordSize);
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
