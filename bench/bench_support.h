// What the benchmarks share: a registry filled to a given size, a bot that
// talks to a host which only counts what it is sent, and the heap counter.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "hostlink/bot_instance.h"
#include "plugin/plugin_state.h"
#include "registry/freq_registry.h"

// The two registry sizes every size-dependent path is measured at.
constexpr uint32_t smallRecords = 100, smallInvites = 10;
constexpr uint32_t largeRecords = 65536, largeInvites = 10000;

// Every record carries this welcome, so each admission expands all six macros.
extern const char benchWelcome[];
// Every record's password.
extern const char benchPassword[];

// Lines the host has been handed since the start.
extern uint64_t hostLinesSent;
extern "C" void countingHost(BotEvent& event);

// A registry as a zone could hold it: `records` freqs with distinct numbers,
// each with its own owner, name, squad and the welcome above, and `invites`
// invites. The last-registered freq is `targetFreq`; it carries four invites
// for other players, then, as the very last invite, one for `invited`. The
// other invites are spread over the other freqs.
struct BenchRegistry {
    PluginState state; // no files: the store is never opened
    FreqRegistry& registry = state.registry;
    uint16_t targetFreq = 0;
    PlayerRecord invited{};  // admitted by his invite; squad not allowed
    PlayerRecord stranger{}; // no invite, not the owner, wrong squad
};
std::unique_ptr<BenchRegistry> makeBenchRegistry(uint32_t records, uint32_t invites);

// One registry per size (with 10 invites at 100 records, 10,000 at 65,536),
// built on first use and shared by the benchmarks; none changes its size.
BenchRegistry& benchRegistry(uint32_t records);

// A connected bot as the host leaves it after Connect: callback, settings.
void connectBot(BotInstance& bot, uint32_t auditLog);

PlayerRecord makePlayer(const char* name, const char* squad, uint16_t freq, uint16_t ident);

// A whole file's bytes (empty when it can't be read).
std::string readWholeFile(const std::string& name);

// The least a load can cost: the file read into a buffer and its words
// unscrambled in a plain loop. The buffer is returned, so that freeing it is
// not timed (as the load's own records are not); got: the bytes read.
std::unique_ptr<unsigned char[]> readAndUnscramble(const char* name, size_t& got);

// Unloads hadrok.so if a benchmark loaded it; its save at unload goes to the
// current directory, so this must run before the working directory goes.
void closePlugin();

// Heap counting in this program's global operator new/delete: while on, the
// usable size of every block handed out is added and of every block freed
// subtracted.
void startHeapCount();
int64_t stopHeapCount(); // net bytes still allocated since startHeapCount
