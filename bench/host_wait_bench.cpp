// What the host itself waits for, through the plug-in as a host loads it
// (dlopen): the load, from dlopen to the return of the first event; a Tick
// that saves, from call to return; the unload with its save; and the heap the
// loaded registry holds. Each is set against the raw work in the same round:
// reading and unscrambling the file, and writing, flushing and renaming the
// same bytes. The inner benchmarks (hadrok_bench) say where time goes; the
// targets are on these.
//
//   hadrok_host_wait_bench [BENCHMARK ARGS...]   (HADROK_PLUGIN_PATH built in)
#include <benchmark/benchmark.h>

#include <dlfcn.h>
#include <fcntl.h>
#include <malloc.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include "bench_support.h"
#include "host_event.h"
#include "paired.h"
#include "registry/registry_file.h"

namespace {

namespace fs = std::filesystem;
using Talk = void (*)(BotEvent&);

constexpr int fileRepetitions = 15;

PlayerNode* noPlayers = nullptr;
ArenaSettingsRecord arena{};

extern "C" void quietHost(BotEvent&) {}

// One zone folder with the 65,536-record registry, one without any, both on
// the disk of the working directory (bench_main's), and the registry's bytes.
struct Zones {
    fs::path full, empty;
    std::string image; // the file's bytes
    uint32_t records = 0;
};

void writeFile(const fs::path& path, const std::string& bytes) {
    std::ofstream(path, std::ios::binary).write(bytes.data(), std::streamsize(bytes.size()));
}

// The settings a zone runs with but for the autosave: every Tick saves, so
// that the measured tick is a saving one. The audit log stays on (the
// default), as the host meets it.
const char zoneSettings[] = "[Config]\nAutoSaveDelay=1\n";

Zones& zones() {
    static Zones z = [] {
        Zones made;
        made.full = fs::current_path() / "zone-full";
        made.empty = fs::current_path() / "zone-empty";
        fs::create_directories(made.full);
        fs::create_directories(made.empty);
        auto bench = makeBenchRegistry(largeRecords, 0);
        const auto [image, size] = registryImage(bench->registry);
        made.image.assign(reinterpret_cast<const char*>(image.get()), size);
        made.records = bench->registry.freqs.count();
        writeFile(made.full / registryFileName, made.image);
        writeFile(made.full / "freqs.ini", zoneSettings);
        writeFile(made.empty / "freqs.ini", zoneSettings);
        return made;
    }();
    return z;
}

struct Loaded {
    void* library = nullptr;
    Talk talk = nullptr;
};

void send(const Loaded& plugin, uint32_t code, uintptr_t slot0 = 0, uintptr_t slot1 = 0,
          uintptr_t slot2 = 0) {
    BotEvent event = hostEvent(1, code, slot0, slot1, slot2);
    plugin.talk(event);
}

// dlopen in `folder` until the first event (Connect) returns: all the host
// waits for before the plug-in serves.
Loaded loadIn(const fs::path& folder) {
    fs::current_path(folder);
    Loaded plugin;
    plugin.library = dlopen(HADROK_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
    if (!plugin.library) return plugin;
    plugin.talk = reinterpret_cast<Talk>(dlsym(plugin.library, "talk"));
    if (!plugin.talk) return plugin;
    send(plugin, Connect, interfaceMajor << 16 | interfaceMinor,
         reinterpret_cast<uintptr_t>(&quietHost), reinterpret_cast<uintptr_t>(&noPlayers));
    return plugin;
}

void unload(Loaded& plugin) {
    if (plugin.library) dlclose(plugin.library);
    plugin = {};
}

// A registered freq renamed by its owner: one change for the next save.
void changeOneFreq(const Loaded& plugin, uint32_t round) {
    arena.freqLimit = 65536;
    send(plugin, ArenaSettings, reinterpret_cast<uintptr_t>(&arena));
    PlayerRecord owner = makePlayer("owner0", "", 0, 1);
    const std::string argument = "100:Round " + std::to_string(round);
    CommandRecord command{};
    command.word = "fname";
    command.argument = argument.c_str();
    send(plugin, Command, reinterpret_cast<uintptr_t>(&owner),
         reinterpret_cast<uintptr_t>(&command));
}

// The least a save can cost: the bytes, laid out already, written to a
// temporary file, flushed and renamed into place.
bool rawSave(const fs::path& folder, const std::string& image) {
    const std::string temporary = (folder / "raw.tmp").string();
    const std::string target = (folder / "raw.dat").string();
    const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd < 0) return false;
    size_t done = 0;
    while (done < image.size()) {
        const ssize_t n = write(fd, image.data() + done, image.size() - done);
        if (n <= 0) break;
        done += size_t(n);
    }
    bool ok = done == image.size() && fsync(fd) == 0;
    ok = close(fd) == 0 && ok;
    return ok && std::rename(temporary.c_str(), target.c_str()) == 0;
}

size_t heapInUse() {
    const struct mallinfo2 info = mallinfo2();
    return info.uordblks + info.hblkhd;
}

// Puts the zone's registry back as the bench made it, so each load reads the
// same file (a save at unload may have renamed a freq).
void resetZone(const Zones& z) {
    writeFile(z.full / registryFileName, z.image);
}

// --- The load ---------------------------------------------------------------

// dlopen with the registry to the return of Connect, less the same without a
// registry (the library's own loading, which no registry size changes),
// against reading and unscrambling the file. Each round runs the three in a
// rotating order; the heap the registry holds is read after each load.
void BM_HostWait_Load(benchmark::State& state) {
    Zones& z = zones();
    const fs::path home = fs::current_path();
    Clocks with, without, raw;
    double heapWith = 0, heapWithout = 0;
    bool failed = false;
    uint64_t round = 0;
    for (auto _ : state) {
        double thisRound = 0;
        auto loadFull = [&] {
            const size_t before = heapInUse();
            Loaded plugin;
            thisRound = timed(with, [&] { plugin = loadIn(z.full); });
            failed |= !plugin.talk;
            heapWith += double(heapInUse() - before);
            unload(plugin);
            resetZone(z);
        };
        auto loadEmpty = [&] {
            const size_t before = heapInUse();
            Loaded plugin;
            timed(without, [&] { plugin = loadIn(z.empty); });
            failed |= !plugin.talk;
            heapWithout += double(heapInUse() - before);
            unload(plugin);
        };
        auto loadRaw = [&] {
            size_t got = 0;
            std::unique_ptr<unsigned char[]> buffer;
            timed(raw,
                  [&] { buffer = readAndUnscramble((z.full / registryFileName).c_str(), got); });
            failed |= got != z.image.size();
        };
        switch (round++ % 3) {
        case 0:
            loadFull();
            loadEmpty();
            loadRaw();
            break;
        case 1:
            loadEmpty();
            loadRaw();
            loadFull();
            break;
        default:
            loadRaw();
            loadFull();
            loadEmpty();
            break;
        }
        malloc_trim(0);
        state.SetIterationTime(thisRound);
    }
    fs::current_path(home);
    if (failed) state.SkipWithError("the plug-in did not load, or a read came short");
    const double rounds = double(state.iterations());
    state.counters["ms_wall"] = with.wall * 1e3 / rounds;
    state.counters["ms_wall_without_registry"] = without.wall * 1e3 / rounds;
    state.counters["baseline_ms_wall"] = raw.wall * 1e3 / rounds;
    state.counters["ratio_wall"] = (with.wall - without.wall) / raw.wall;
    state.counters["ratio_cpu"] = (with.cpu - without.cpu) / raw.cpu;
    state.counters["heap_bytes_per_record"] = (heapWith - heapWithout) / rounds / z.records;
    state.counters["records"] = z.records;
}
BENCHMARK(BM_HostWait_Load)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(fileRepetitions);

// --- A saving tick ----------------------------------------------------------

// A Tick whose autosave writes one changed freq, from call to return, against
// writing, flushing and renaming the registry's bytes.
void BM_HostWait_SavingTick(benchmark::State& state) {
    Zones& z = zones();
    const fs::path home = fs::current_path();
    resetZone(z);
    Loaded plugin = loadIn(z.full);
    if (!plugin.talk) {
        state.SkipWithError("the plug-in did not load");
        return;
    }
    // The day's first save also keeps the day's backup: not what each tick costs.
    changeOneFreq(plugin, 0);
    send(plugin, Tick);
    uint32_t round = 1;
    bool failed = false;
    auto tick = [&] { send(plugin, Tick); };
    auto raw = [&] { failed |= !rawSave(z.full, z.image); };
    auto change = [&] { changeOneFreq(plugin, round++); };
    change();
    paired(state, tick, raw, change);
    // The last tick's change is in the file: the plug-in did save.
    const std::string saved = readWholeFile((z.full / registryFileName).string());
    if (failed || saved.size() != z.image.size() || saved == z.image)
        state.SkipWithError("a save failed");
    unload(plugin);
    fs::current_path(home);
    resetZone(z);
    fs::remove(z.full / "raw.dat");
}
BENCHMARK(BM_HostWait_SavingTick)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(fileRepetitions);

// --- The unload -------------------------------------------------------------

// dlclose after one change, with the save it makes, against writing,
// flushing and renaming the registry's bytes. Loading again is not timed.
void BM_HostWait_Unload(benchmark::State& state) {
    Zones& z = zones();
    const fs::path home = fs::current_path();
    resetZone(z);
    Loaded plugin = loadIn(z.full);
    uint32_t round = 0;
    bool failed = !plugin.talk;
    auto stop = [&] { unload(plugin); };
    auto raw = [&] { failed |= !rawSave(z.full, z.image); };
    auto again = [&] {
        if (plugin.library) return; // after the raw save: the plug-in still runs
        plugin = loadIn(z.full);
        failed |= !plugin.talk;
        if (plugin.talk) changeOneFreq(plugin, round++);
    };
    // The day's first save also keeps the day's backup: not what an unload costs.
    if (plugin.talk) changeOneFreq(plugin, round++);
    stop();
    again();
    paired(state, stop, raw, again);
    unload(plugin);
    fs::current_path(home);
    if (failed) state.SkipWithError("the plug-in did not load, or a save failed");
    resetZone(z);
    fs::remove(z.full / "raw.dat");
}
BENCHMARK(BM_HostWait_Unload)
    ->Unit(benchmark::kMillisecond)
    ->UseManualTime()
    ->Repetitions(fileRepetitions);

} // namespace

// The zones live in a fresh folder beside the current one, on the same disk,
// so that the flushes are real ones; it goes at the end.
int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    const fs::path previous = fs::current_path();
    std::string pattern = (previous / "hadrok-host-wait-XXXXXX").string();
    if (!mkdtemp(pattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    fs::current_path(pattern);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    fs::current_path(previous);
    std::error_code ignored;
    fs::remove_all(pattern, ignored);
    return 0;
}
