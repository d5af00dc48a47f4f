// Refusals a player can repeat at will (a wrong !fjoin password), counted
// instead of written one by one, so that no flood of them can push the
// operators' lines out of the audit log. A player's first refusal is written
// as it comes and opens a minute for him; the rest of that minute is counted
// per freq and written as one line when the minute is over, and so on for
// every minute the refusals go on. The table is fixed in size: a player
// cycling names or freqs fills it, never grows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

constexpr uint32_t refusalMinuteMs = 60000;
constexpr size_t countedPlayers = 64;
constexpr size_t countedFreqsPerPlayer = 8;
constexpr size_t countedNameBytes = 32; // a host's names are shorter

struct FreqCount {
    int32_t freq = 0;
    uint32_t count = 0;
};

// One player's minute: who he is (bot and name), and his refusals since the
// minute began, per freq; freqs past the first few are counted together.
struct PlayerCounts {
    bool used = false;
    uint32_t handle = 0;
    std::array<char, countedNameBytes> name{};
    uint8_t nameLength = 0;
    uint32_t level = 0;
    uint32_t startTick = 0;
    int64_t startTime = 0;
    std::array<FreqCount, countedFreqsPerPlayer> freqs{};
    uint8_t freqsUsed = 0;
    uint32_t otherFreqs = 0;
};

struct RefusalCounts {
    std::array<PlayerCounts, countedPlayers> players{};
    size_t playersUsed = 0;
    // Refusals of players who found the table full, counted together.
    uint32_t uncounted = 0;
    uint32_t uncountedStartTick = 0;
    int64_t uncountedStartTime = 0;
};

// Whether a refusal must be written now, in full, or has been counted.
enum class RefusalCounted { writeInFull, counted };

RefusalCounted countRefusal(RefusalCounts& counts, uint32_t handle, std::string_view name,
                            uint32_t level, int32_t freq, uint32_t nowTick, int64_t nowTime);

// A line that the counts owe the log; without a player for the refusals of
// players beyond the table.
struct CountLine {
    uint32_t handle = 0;
    bool hasPlayer = false;
    std::string name;
    uint32_t level = 0;
    Text change;
};

// The lines of every minute that is over (all of them when `all`, at
// unload), appended to `out`. A player whose minute passed without a refusal
// leaves the table; one still refusing begins a new minute now.
void takeDueCounts(RefusalCounts& counts, uint32_t nowTick, int64_t nowTime, bool all,
                   std::vector<CountLine>& out);

// Whether anything at all is counted, so that a tick can return at once.
inline bool anyCounts(const RefusalCounts& counts) {
    return counts.playersUsed != 0 || counts.uncounted != 0;
}

// A count as the log writes it: 12,345.
Text groupedNumber(uint64_t value);
