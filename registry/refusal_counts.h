// Lines a player can cause over and over at will (a wrong !fjoin password, an
// admission by password, each setting of a field, an invite, a kick, a
// hand-over), counted instead of written one by one, so that no flood of them
// can push the operators' lines out of the audit log. A player's first few of
// each kind are written as they come, and his first opens a minute for him;
// the rest of that minute is counted per kind and freq and written as one
// line when the minute is over, and so on for every minute the repeats go on.
// The table is fixed in size: a player cycling names or freqs fills it,
// never grows it.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "text/text.h"

// What a player repeats; each kind is written in full and counted apart.
enum class RepeatKind : uint8_t {
    wrongPassword,
    admission, // admitted by password
    name,
    squad,
    welcome,
    password,
    invite,
    kick,
    handOver,
};
constexpr size_t repeatKinds = 9;

constexpr uint32_t refusalMinuteMs = 60000;
constexpr size_t countedPlayers = 64;
constexpr size_t countedFreqsPerPlayer = 8; // kinds and freqs a player's minute tells apart
constexpr size_t countedNameBytes = 32;     // a host's names are shorter
constexpr size_t countedLastBytes = 32;     // the longest field a count names (a freq name)

// How many of a kind a player's minute writes in full before it counts: a
// wrong password once, the rest a few times, so that a player who makes a
// few changes in a row sees each of them in the log.
constexpr uint32_t repeatsInFull(RepeatKind kind) {
    return kind == RepeatKind::wrongPassword ? 1 : 5;
}

// One kind on one freq: how many since the minute began, and what the last
// of them set (a name, a squad, the invited, kicked or new owner's name).
struct FreqCount {
    RepeatKind kind = RepeatKind::wrongPassword;
    int32_t freq = 0;
    uint32_t count = 0;
    std::array<char, countedLastBytes> last{};
    uint8_t lastLength = 0;
};

// One player's minute: who he is (bot and name), how many of each kind were
// written in full since he entered the table, and his counts since the
// minute began; kinds and freqs past the first few are counted together.
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
    std::array<uint32_t, repeatKinds> otherFreqs{};
    std::array<uint8_t, repeatKinds> inFull{};
};

struct RefusalCounts {
    std::array<PlayerCounts, countedPlayers> players{};
    size_t playersUsed = 0;
    // Repeats of players who found the table full, counted together per kind.
    std::array<uint32_t, repeatKinds> uncounted{};
    uint32_t uncountedStartTick = 0;
    int64_t uncountedStartTime = 0;
};

// Whether a repeat must be written now, in full, or has been counted.
enum class RefusalCounted { writeInFull, counted };

// `last` is what the repeat set, kept for the count's line (cut to
// countedLastBytes); empty for kinds that name nothing.
RefusalCounted countRepeat(RefusalCounts& counts, RepeatKind kind, uint32_t handle,
                           std::string_view name, uint32_t level, int32_t freq,
                           std::string_view last, uint32_t nowTick, int64_t nowTime);

inline RefusalCounted countRefusal(RefusalCounts& counts, uint32_t handle, std::string_view name,
                                   uint32_t level, int32_t freq, uint32_t nowTick,
                                   int64_t nowTime) {
    return countRepeat(counts, RepeatKind::wrongPassword, handle, name, level, freq, {}, nowTick,
                       nowTime);
}

// The command a kind's lines are written under: "!fjoin", "!fname", ...
const char* repeatCommand(RepeatKind kind);

// A line that the counts owe the log; without a player for the repeats of
// players beyond the table.
struct CountLine {
    uint32_t handle = 0;
    bool hasPlayer = false;
    std::string name;
    uint32_t level = 0;
    const char* command = "";
    int32_t freq = -1; // none
    Text change;
};

// The lines of every minute that is over (all of them when `all`, at
// unload), appended to `out`. A player whose minute passed without a repeat
// leaves the table; one still repeating begins a new minute now.
void takeDueCounts(RefusalCounts& counts, uint32_t nowTick, int64_t nowTime, bool all,
                   std::vector<CountLine>& out);

// Whether anything at all is counted, so that a tick can return at once.
bool anyCounts(const RefusalCounts& counts);

// A count as the log writes it: 12,345.
Text groupedNumber(uint64_t value);
