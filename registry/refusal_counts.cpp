#include "registry/refusal_counts.h"

#include <algorithm>

#include "registry/audit_log.h"
#include "text/ascii.h"

Text groupedNumber(uint64_t value) {
    char digits[32];
    int length = 0;
    int inGroup = 0;
    do {
        if (inGroup == 3) {
            digits[length++] = ',';
            inGroup = 0;
        }
        digits[length++] = char('0' + value % 10);
        value /= 10;
        ++inGroup;
    } while (value != 0);
    std::reverse(digits, digits + length);
    return Text(digits, uint32_t(length));
}

namespace {

// What each kind is called in its lines: the command, a count's noun in the
// singular and plural, and the words before what the last one set.
struct KindWords {
    const char* command;
    const char* one;
    const char* many;
    const char* last; // null: the kind names nothing
};

constexpr KindWords kindWords[repeatKinds] = {
    {"!fjoin", " wrong password", " wrong passwords", nullptr},
    {"!fjoin", " admission by password", " admissions by password", nullptr},
    {"!fname", " name change", " name changes", "; the last set it to "},
    {"!fsquad", " squad change", " squad changes", "; the last set it to "},
    {"!fwelc", " welcome change", " welcome changes", nullptr},
    {"!fpass", " password change", " password changes", nullptr},
    {"!finv", " invite", " invites", "; the last invited "},
    {"!fkick", " kick", " kicks", "; the last kicked "},
    {"!fgrant", " hand-over", " hand-overs", "; the last handed it to "},
};

const KindWords& wordsOf(RepeatKind kind) {
    return kindWords[size_t(kind)];
}

std::string_view nameOf(const PlayerCounts& player) {
    return {player.name.data(), player.nameLength};
}

bool minuteIsOver(uint32_t startTick, uint32_t nowTick) {
    // Elapsed ticks, so that the counter's wrap does no harm.
    return uint32_t(nowTick - startTick) >= refusalMinuteMs;
}

void appendCount(Text& change, RepeatKind kind, uint32_t count) {
    change.append(groupedNumber(count));
    change.append(count == 1 ? wordsOf(kind).one : wordsOf(kind).many);
}

void appendMinute(Text& change, int64_t startTime) {
    change.append(" in the minute from ");
    change.append(auditTimeText(startTime));
}

CountLine lineFor(const PlayerCounts& player, RepeatKind kind, int32_t freq) {
    CountLine line;
    line.handle = player.handle;
    line.hasPlayer = true;
    line.name = std::string(nameOf(player));
    line.level = player.level;
    line.command = wordsOf(kind).command;
    line.freq = freq;
    return line;
}

void appendByWhom(Text& change, const PlayerCounts& player) {
    change.append(" by ");
    change.append(auditQuote(nameOf(player)));
    appendMinute(change, player.startTime);
}

// Wrong passwords, all freqs of the minute in one line, as they have
// always been written.
void wrongPasswordLine(const PlayerCounts& player, std::vector<CountLine>& out) {
    const RepeatKind kind = RepeatKind::wrongPassword;
    CountLine line = lineFor(player, kind, -1);
    bool first = true;
    for (size_t i = 0; i < player.freqsUsed; ++i) {
        const FreqCount& counted = player.freqs[i];
        if (counted.kind != kind || counted.count == 0) continue;
        if (first) {
            appendCount(line.change, kind, counted.count);
        } else {
            line.change.append(", ");
            line.change.append(groupedNumber(counted.count));
        }
        line.change.append(" for freq=");
        line.change.append(int32_t(counted.freq));
        first = false;
    }
    const uint32_t other = player.otherFreqs[size_t(kind)];
    if (other != 0) {
        if (first) {
            appendCount(line.change, kind, other);
        } else {
            line.change.append(" and ");
            line.change.append(groupedNumber(other));
        }
        line.change.append(" for other freqs");
        first = false;
    }
    if (first) return;
    appendByWhom(line.change, player);
    out.push_back(std::move(line));
}

// Every other kind: a line per freq, naming what the last one set.
void playerLines(const PlayerCounts& player, std::vector<CountLine>& out) {
    wrongPasswordLine(player, out);
    for (size_t i = 0; i < player.freqsUsed; ++i) {
        const FreqCount& counted = player.freqs[i];
        if (counted.kind == RepeatKind::wrongPassword || counted.count == 0) continue;
        CountLine line = lineFor(player, counted.kind, counted.freq);
        appendCount(line.change, counted.kind, counted.count);
        appendByWhom(line.change, player);
        if (const char* last = wordsOf(counted.kind).last) {
            line.change.append(last);
            line.change.append(auditQuote({counted.last.data(), counted.lastLength}));
        }
        out.push_back(std::move(line));
    }
    for (size_t k = 1; k < repeatKinds; ++k) {
        const uint32_t other = player.otherFreqs[k];
        if (other == 0) continue;
        CountLine line = lineFor(player, RepeatKind(k), -1);
        appendCount(line.change, RepeatKind(k), other);
        line.change.append(" for other freqs");
        appendByWhom(line.change, player);
        out.push_back(std::move(line));
    }
}

bool anyRepeats(const PlayerCounts& player) {
    for (uint32_t other : player.otherFreqs)
        if (other != 0) return true;
    for (size_t i = 0; i < player.freqsUsed; ++i)
        if (player.freqs[i].count != 0) return true;
    return false;
}

void startMinute(PlayerCounts& player, uint32_t nowTick, int64_t nowTime) {
    player.startTick = nowTick;
    player.startTime = nowTime;
    // The freqs stay in their places; only their counts begin again. What
    // was written in full stays: a flood that goes on is counted throughout.
    for (size_t i = 0; i < player.freqsUsed; ++i)
        player.freqs[i].count = 0;
    player.otherFreqs = {};
}

bool anyUncounted(const RefusalCounts& counts) {
    for (uint32_t c : counts.uncounted)
        if (c != 0) return true;
    return false;
}

void addOne(uint32_t& count) {
    if (count != UINT32_MAX) ++count;
}

void keepLast(FreqCount& counted, std::string_view last) {
    last = last.substr(0, countedLastBytes);
    std::copy(last.begin(), last.end(), counted.last.begin());
    counted.lastLength = uint8_t(last.size());
}

void countFor(PlayerCounts& player, RepeatKind kind, int32_t freq, std::string_view last) {
    for (size_t i = 0; i < player.freqsUsed; ++i) {
        FreqCount& counted = player.freqs[i];
        if (counted.kind == kind && counted.freq == freq) {
            addOne(counted.count);
            keepLast(counted, last);
            return;
        }
    }
    FreqCount* place = nullptr;
    if (player.freqsUsed < countedFreqsPerPlayer) {
        place = &player.freqs[player.freqsUsed++];
    } else {
        // Places that have had no repeat this minute make room first.
        auto idle = std::find_if(player.freqs.begin(), player.freqs.end(),
                                 [](const FreqCount& c) { return c.count == 0; });
        if (idle != player.freqs.end()) place = &*idle;
    }
    if (!place) return addOne(player.otherFreqs[size_t(kind)]);
    *place = FreqCount{kind, freq, 1, {}, 0};
    keepLast(*place, last);
}

} // namespace

const char* repeatCommand(RepeatKind kind) {
    return wordsOf(kind).command;
}

RefusalCounted countRepeat(RefusalCounts& counts, RepeatKind kind, uint32_t handle,
                           std::string_view name, uint32_t level, int32_t freq,
                           std::string_view last, uint32_t nowTick, int64_t nowTime) {
    name = name.substr(0, countedNameBytes);
    const size_t k = size_t(kind);
    PlayerCounts* free = nullptr;
    for (PlayerCounts& player : counts.players) {
        if (!player.used) {
            if (!free) free = &player;
            continue;
        }
        if (player.handle != handle || !equalsNoCase(nameOf(player), name)) continue;
        player.level = level;
        if (player.inFull[k] < repeatsInFull(kind)) {
            ++player.inFull[k];
            return RefusalCounted::writeInFull;
        }
        countFor(player, kind, freq, last);
        return RefusalCounted::counted;
    }
    if (!free) {
        if (!anyUncounted(counts)) {
            counts.uncountedStartTick = nowTick;
            counts.uncountedStartTime = nowTime;
        }
        addOne(counts.uncounted[k]);
        return RefusalCounted::counted;
    }
    *free = PlayerCounts{};
    free->used = true;
    free->handle = handle;
    std::copy(name.begin(), name.end(), free->name.begin());
    free->nameLength = uint8_t(name.size());
    free->level = level;
    free->startTick = nowTick;
    free->startTime = nowTime;
    free->inFull[k] = 1;
    ++counts.playersUsed;
    return RefusalCounted::writeInFull;
}

bool anyCounts(const RefusalCounts& counts) {
    return counts.playersUsed != 0 || anyUncounted(counts);
}

void takeDueCounts(RefusalCounts& counts, uint32_t nowTick, int64_t nowTime, bool all,
                   std::vector<CountLine>& out) {
    for (PlayerCounts& player : counts.players) {
        if (!player.used || !(all || minuteIsOver(player.startTick, nowTick))) continue;
        if (anyRepeats(player)) {
            playerLines(player, out);
            if (!all) {
                startMinute(player, nowTick, nowTime);
                continue;
            }
        }
        player.used = false;
        --counts.playersUsed;
    }
    if (!anyUncounted(counts) || !(all || minuteIsOver(counts.uncountedStartTick, nowTick))) return;
    for (size_t k = 0; k < repeatKinds; ++k) {
        if (counts.uncounted[k] == 0) continue;
        CountLine line;
        line.command = wordsOf(RepeatKind(k)).command;
        appendCount(line.change, RepeatKind(k), counts.uncounted[k]);
        line.change.append(" by players beyond the ");
        line.change.append(int32_t(countedPlayers));
        line.change.append(" counted one by one,");
        appendMinute(line.change, counts.uncountedStartTime);
        out.push_back(std::move(line));
        counts.uncounted[k] = 0;
    }
}
