// The per-event paths a host pays for: the dispatch floor, admission with its
// welcome, "!fjoin" and the invite expiry pass.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>

#include <dlfcn.h>

#include "bench_support.h"
#include "paired.h"
#include "platform/platform.h"
#include "plugin/event_handling.h"
#include "registry/audit_log.h"
#include "registry/password_hash.h"

namespace {

// --- Dispatch floor ----------------------------------------------------------

// The plug-in as the host loads it: hadrok.so opened with dlopen, its talk
// found with dlsym, one bot connected. Opened in the benchmark's working
// directory, so its load and its save at unload touch only that directory.
struct LoadedPlugin {
    void* library = nullptr;
    void (*talk)(BotEvent&) = nullptr;
    PlayerNode* head = nullptr;

    LoadedPlugin() {
        library = dlopen(HADROK_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (!library) return;
        talk = reinterpret_cast<void (*)(BotEvent&)>(dlsym(library, "talk"));
        if (!talk) return;
        BotEvent connect{};
        connect.handle = 1;
        connect.code = Connect;
        connect.slot[0] = uintptr_t(interfaceMajor) << 16;
        connect.slot[1] = reinterpret_cast<uintptr_t>(&countingHost);
        connect.slot[2] = reinterpret_cast<uintptr_t>(&head);
        talk(connect);
    }
    ~LoadedPlugin() {
        if (library) dlclose(library);
    }
};

std::unique_ptr<LoadedPlugin> loadedPlugin;

LoadedPlugin& plugin() {
    if (!loadedPlugin) loadedPlugin = std::make_unique<LoadedPlugin>();
    return *loadedPlugin;
}

void BM_DispatchFloor_talk(benchmark::State& state) {
    LoadedPlugin& p = plugin();
    if (!p.talk) {
        state.SkipWithError("could not load " HADROK_PLUGIN_PATH);
        return;
    }
    BotEvent event{};
    for (auto _ : state) {
        event.handle = 1;
        event.code = 99; // no such event
        p.talk(event);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DispatchFloor_talk);

// The same unknown event handed straight to handleEvent, without the export.
void BM_DispatchFloor_handleEvent(benchmark::State& state) {
    PluginState plugin;
    BotInstance bot;
    connectBot(bot, 1);
    BotEvent event{};
    for (auto _ : state) {
        event.handle = 1;
        event.code = 99;
        handleEvent(bot, plugin, event);
        benchmark::ClobberMemory();
    }
}
BENCHMARK(BM_DispatchFloor_handleEvent);

// --- Admission ---------------------------------------------------------------

void freqChange(benchmark::State& state, bool admitted) {
    const uint32_t records = uint32_t(state.range(0));
    BenchRegistry& bench = benchRegistry(records);
    BotInstance bot;
    connectBot(bot, 1);
    PlayerRecord& player = admitted ? bench.invited : bench.stranger;
    BotEvent event{};
    const uint64_t linesBefore = hostLinesSent;
    for (auto _ : state) {
        event.handle = 1;
        event.code = PlayerFreqChange;
        event.slot[0] = reinterpret_cast<uintptr_t>(&player);
        handleEvent(bot, bench.state, event);
        benchmark::ClobberMemory();
    }
    // Admitted: one welcome; refused: the refusal and "*setfreq 0".
    const uint64_t expected = state.iterations() * (admitted ? 1 : 2);
    if (hostLinesSent - linesBefore != expected) state.SkipWithError("unexpected line count");
    state.counters["records"] = double(records);
    state.counters["invites"] = double(bench.registry.invites.count());
}

void BM_Admission_Admitted(benchmark::State& state) {
    freqChange(state, true);
}
void BM_Admission_Refused(benchmark::State& state) {
    freqChange(state, false);
}
BENCHMARK(BM_Admission_Admitted)->Arg(smallRecords)->Arg(largeRecords);
BENCHMARK(BM_Admission_Refused)->Arg(smallRecords)->Arg(largeRecords);

// The welcome expansion alone, for the record.
void BM_ExpandWelcome(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(smallRecords);
    const FreqRecord& record = *findFreq(bench.registry, bench.targetFreq);
    for (auto _ : state) {
        Text text = expandWelcome(record, bench.invited, bench.targetFreq);
        benchmark::DoNotOptimize(text.data);
    }
}
BENCHMARK(BM_ExpandWelcome);

// --- !fjoin ------------------------------------------------------------------

// The right password for the last-registered freq, as Bob, whose invite is
// thereby renewed (removed and appended again), so the registry keeps its size.
// Arg 1: the records; arg 2: 0, the bot's AuditLog off; 1, on (the default):
// Bob, a player, has his first joins of a minute written in full and the rest
// counted; 2, on, and Bob an operator, whose every join appends a line to
// hadrok.log.
void BM_Fjoin(benchmark::State& state) {
    const uint32_t records = uint32_t(state.range(0));
    BenchRegistry& bench = benchRegistry(records);
    BotInstance bot;
    connectBot(bot, state.range(1) != 0 ? 1 : 0);
    PlayerRecord joiner = bench.invited;
    if (state.range(1) == 2) joiner.operatorLevel = 1;
    const std::string argument = std::to_string(bench.targetFreq) + ":" + benchPassword;
    CommandRecord command{};
    command.word = "fjoin";
    command.argument = argument.c_str();
    const uint32_t invitesBefore = bench.registry.invites.count();
    BotEvent event{};
    for (auto _ : state) {
        event.handle = 1;
        event.code = Command;
        event.slot[0] = reinterpret_cast<uintptr_t>(&joiner);
        event.slot[1] = reinterpret_cast<uintptr_t>(&command);
        handleEvent(bot, bench.state, event);
        benchmark::ClobberMemory();
    }
    if (bench.registry.invites.count() != invitesBefore)
        state.SkipWithError("invite count changed");
    if (!findInvite(bench.registry, bench.targetFreq, "Bob")) state.SkipWithError("no invite");
    std::remove("hadrok.log");
    lookAtAuditLogFile(bench.state.log); // the next run's lines go to a new file
    state.counters["records"] = double(records);
}
BENCHMARK(BM_Fjoin)->ArgsProduct({{smallRecords, largeRecords}, {0, 1, 2}});

// A !fjoin whose password is 30,000 bytes (the host's longest argument is
// 32,000), paired in each round with hashPassword of those bytes alone: what
// the argument's way from the host's record to the hash adds to the hash
// itself. The audit log is off, so that no file work hides that cost.
void BM_FjoinLongPasswordVsHash(benchmark::State& state) {
    std::string password(30000, 'x');
    uint32_t x = 2463534242u;
    for (char& c : password) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char('!' + x % 94); // printable, no space: nothing is trimmed
    }
    const uint32_t length = uint32_t(password.size());
    PluginState plugin;
    FreqRegistry& registry = plugin.registry;
    const uint16_t freq = 1000;
    char owner[20] = "Alice";
    addFreq(registry, freq, owner, hashPassword(password.data(), length));
    PlayerRecord bob = makePlayer("Bob", "Blue", 0, 1);
    BotInstance bot;
    connectBot(bot, 0);
    const std::string argument = std::to_string(freq) + ":" + password;
    CommandRecord command{};
    command.word = "fjoin";
    command.argument = argument.c_str();
    BotEvent event{};
    uint32_t hash = 0;
    const uint64_t linesBefore = hostLinesSent;
    auto fjoin = [&] {
        event.handle = 1;
        event.code = Command;
        event.slot[0] = reinterpret_cast<uintptr_t>(&bob);
        event.slot[1] = reinterpret_cast<uintptr_t>(&command);
        handleEvent(bot, plugin, event);
        benchmark::ClobberMemory();
    };
    auto hashAlone = [&] {
        hash = hashPassword(password.data(), length);
        benchmark::DoNotOptimize(hash);
    };
    paired(state, fjoin, hashAlone, [] {});
    // Every join was admitted: one reply each, and Bob's single invite renewed.
    if (hostLinesSent - linesBefore != uint64_t(state.iterations()))
        state.SkipWithError("unexpected line count");
    if (registry.invites.count() != 1 || !findInvite(registry, freq, "Bob"))
        state.SkipWithError("no invite");
    if (hash != findFreq(registry, freq)->passwordHash) state.SkipWithError("hash differs");
    state.counters["password_bytes"] = double(length);
}
BENCHMARK(BM_FjoinLongPasswordVsHash)->UseManualTime()->Unit(benchmark::kMicrosecond);

// --- Tick: the expiry pass ---------------------------------------------------

// A Tick that falls on the ageing step, over 10,000 invites of which none has
// expired (the steady state: the pass reads every invite and removes none).
// Items are invites, so the rate is per invite.
void BM_TickExpiryPass(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    BotInstance bot;
    connectBot(bot, 0);
    bot.iniConfig.inviteExpireSeconds = 3600;
    const uint32_t invites = bench.registry.invites.count();
    BotEvent event{};
    for (auto _ : state) {
        bot.expiryCountdown = 1; // this tick ages the invites
        event.handle = 1;
        event.code = Tick;
        handleEvent(bot, bench.state, event);
        benchmark::ClobberMemory();
    }
    if (bench.registry.invites.count() != invites) state.SkipWithError("invites expired");
    state.SetItemsProcessed(int64_t(state.iterations()) * invites);
    state.counters["invites"] = double(invites);
}
BENCHMARK(BM_TickExpiryPass);

// For the record: the same test over a plain array of the same invites.
void BM_ExpiryScanBaseline(benchmark::State& state) {
    BenchRegistry& bench = benchRegistry(largeRecords);
    std::vector<FreqInvite> plain;
    for (FreqInvite* i = bench.registry.invites.first(); i; i = bench.registry.invites.next(i))
        plain.push_back(*i);
    const uint32_t lifetime = 3600u * 1000u;
    for (auto _ : state) {
        const uint32_t now = tickCount();
        uint32_t expired = 0;
        for (const FreqInvite& i : plain)
            expired += i.issuedAt + lifetime < now;
        benchmark::DoNotOptimize(expired);
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(plain.size()));
}
BENCHMARK(BM_ExpiryScanBaseline);

} // namespace

void closePlugin() {
    loadedPlugin.reset();
}
