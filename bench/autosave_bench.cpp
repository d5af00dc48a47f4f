// The autosave as the host meets it: the longest Tick call of the plug-in
// (loaded with dlopen, as a host loads it) when an autosave finds the
// registry unchanged, when players only changed freq since the last (a live
// zone), when one freq changed since the last, and when the tick saves
// nothing; and one tick round of many bots in step, each bot
// saving. Run it under bench/ slow_flush (LD_PRELOAD) to see a slow disk.
//
//   hadrok_autosave_bench PLUGIN RECORDS [BOTS]
//
// Plain wall-clock maxima over a few rounds, printed as a table row: this
// is not a Google Benchmark run, since the figure wanted is the worst tick.
#include <dlfcn.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "bench_support.h"
#include "host_event.h"
#include "registry/registry_file.h"

namespace {

using Talk = void (*)(BotEvent&);
using Clock = std::chrono::steady_clock;

Talk talk = nullptr;
PlayerNode* noPlayers = nullptr;
ArenaSettingsRecord settings{};

extern "C" void quietHost(BotEvent&) {}

void send(uint32_t handle, uint32_t code, uintptr_t slot0 = 0, uintptr_t slot1 = 0,
          uintptr_t slot2 = 0) {
    BotEvent event = hostEvent(handle, code, slot0, slot1, slot2);
    talk(event);
}

double millisecondsOf(void (*work)(uint32_t), uint32_t arg) {
    const auto start = Clock::now();
    work(arg);
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

double medianOf(std::vector<double> times) {
    std::nth_element(times.begin(), times.begin() + times.size() / 2, times.end());
    return times[times.size() / 2];
}

void tick(uint32_t handle) {
    send(handle, Tick);
}

// A registered freq's name changed by its owner, through the plug-in.
void changeOneFreq(uint32_t round) {
    PlayerRecord owner = makePlayer("owner0", "", 0, 1);
    const std::string argument = "100:Round " + std::to_string(round);
    CommandRecord command{};
    command.word = "fname";
    command.argument = argument.c_str();
    send(1, Command, reinterpret_cast<uintptr_t>(&owner), reinterpret_cast<uintptr_t>(&command));
}

// A live zone between two autosaves: players change freq all the time, to
// freqs nobody registered and to registered ones they may not join, and
// none of it changes the registry.
void liveZone(uint32_t) {
    PlayerRecord stranger = makePlayer("stranger", "", 200, 2);
    for (uint16_t freq : {uint16_t(7), uint16_t(100), uint16_t(101), uint16_t(9000)}) {
        stranger.freq = freq;
        send(1, PlayerFreqChange, reinterpret_cast<uintptr_t>(&stranger));
    }
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: hadrok_autosave_bench PLUGIN RECORDS [BOTS]\n");
        return 2;
    }
    const std::string plugin = std::filesystem::absolute(argv[1]).string();
    const uint32_t records = uint32_t(std::atol(argv[2]));
    const uint32_t bots = argc > 3 ? uint32_t(std::atol(argv[3])) : 1;
    // On the disk of the current directory, so that the flushes are real ones.
    const auto folder =
        std::filesystem::current_path() / ("hadrok-autosave-" + std::to_string(::getpid()));
    std::filesystem::create_directories(folder);
    std::filesystem::current_path(folder);
    {
        auto bench = makeBenchRegistry(records, 0);
        const auto [image, size] = registryImage(bench->registry);
        std::ofstream(registryFileName, std::ios::binary)
            .write(reinterpret_cast<const char*>(image.get()), std::streamsize(size));
    }
    // Every second tick saves; AuditLog off, so the log's own flushes don't count.
    std::ofstream("freqs.ini") << "[Config]\nAutoSaveDelay=2\nAuditLog=0\n";

    void* library = dlopen(plugin.c_str(), RTLD_NOW | RTLD_LOCAL);
    talk = library ? reinterpret_cast<Talk>(dlsym(library, "talk")) : nullptr;
    if (!talk) {
        std::fprintf(stderr, "cannot load %s\n", plugin.c_str());
        return 2;
    }
    settings.freqLimit = 65536;
    for (uint32_t handle = 1; handle <= bots; ++handle) {
        send(handle, Connect, interfaceMajor << 16 | interfaceMinor,
             reinterpret_cast<uintptr_t>(&quietHost), reinterpret_cast<uintptr_t>(&noPlayers));
        send(handle, ArenaSettings, reinterpret_cast<uintptr_t>(&settings));
    }

    constexpr int rounds = 5;
    double noSave = 0, unchanged = 0, live = 0, changed = 0, roundUnchanged = 0, roundChanged = 0;
    if (bots == 1) {
        tick(1);
        tick(1); // the first save: the file is not yet this process's own
        for (int round = 0; round < rounds; ++round) {
            noSave = std::max(noSave, millisecondsOf(tick, 1));
            unchanged = std::max(unchanged, millisecondsOf(tick, 1));
            noSave = std::max(noSave, millisecondsOf(tick, 1));
            liveZone(0);
            live = std::max(live, millisecondsOf(tick, 1));
            noSave = std::max(noSave, millisecondsOf(tick, 1));
            changeOneFreq(uint32_t(round));
            changed = std::max(changed, millisecondsOf(tick, 1));
        }
        // The maxima above are mostly the timer and the first touch of cold
        // caches; the medians of many pairs show what each tick itself costs.
        constexpr int pairs = 2000;
        std::vector<double> noSaveTimes, unchangedTimes;
        for (int pair = 0; pair < pairs; ++pair) {
            noSaveTimes.push_back(millisecondsOf(tick, 1));
            unchangedTimes.push_back(millisecondsOf(tick, 1));
        }
        std::printf("records=%u  tick saving nothing %.3f ms  unchanged autosave %.3f ms  "
                    "live-zone autosave %.3f ms  autosave after one change %.3f ms  (medians "
                    "of %d: saving nothing %.2f us, unchanged autosave %.2f us)\n",
                    records, noSave, unchanged, live, changed, pairs, medianOf(noSaveTimes) * 1000,
                    medianOf(unchangedTimes) * 1000);
    } else {
        // All bots in step: one round is a Tick for each; every second round
        // each bot's countdown ends and it saves.
        auto round = [&](bool change) {
            for (uint32_t handle = 1; handle <= bots; ++handle)
                tick(handle);
            if (change) changeOneFreq(0);
            const auto start = Clock::now();
            for (uint32_t handle = 1; handle <= bots; ++handle)
                tick(handle);
            return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
        };
        round(false);
        for (int r = 0; r < rounds; ++r) {
            roundUnchanged = std::max(roundUnchanged, round(false));
            roundChanged = std::max(roundChanged, round(true));
        }
        std::printf("records=%u bots=%u  saving round, registry unchanged %.1f ms  "
                    "after one change %.1f ms\n",
                    records, bots, roundUnchanged, roundChanged);
    }
    dlclose(library);
    std::filesystem::current_path(folder.parent_path());
    std::filesystem::remove_all(folder);
    return 0;
}
