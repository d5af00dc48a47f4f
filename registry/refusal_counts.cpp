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

std::string_view nameOf(const PlayerCounts& player) {
    return {player.name.data(), player.nameLength};
}

bool minuteIsOver(uint32_t startTick, uint32_t nowTick) {
    // Elapsed ticks, so that the counter's wrap does no harm.
    return uint32_t(nowTick - startTick) >= refusalMinuteMs;
}

void appendRefusals(Text& change, uint32_t count) {
    change.append(groupedNumber(count));
    change.append(count == 1 ? " wrong password" : " wrong passwords");
}

void appendMinute(Text& change, int64_t startTime) {
    change.append(" in the minute from ");
    change.append(auditTimeText(startTime));
}

CountLine playerLine(const PlayerCounts& player) {
    CountLine line;
    line.handle = player.handle;
    line.hasPlayer = true;
    line.name = std::string(nameOf(player));
    line.level = player.level;
    bool first = true;
    for (size_t i = 0; i < player.freqsUsed; ++i) {
        const FreqCount& counted = player.freqs[i];
        if (counted.count == 0) continue;
        if (first) {
            appendRefusals(line.change, counted.count);
        } else {
            line.change.append(", ");
            line.change.append(groupedNumber(counted.count));
        }
        line.change.append(" for freq=");
        line.change.append(int32_t(counted.freq));
        first = false;
    }
    if (player.otherFreqs != 0) {
        if (first) {
            appendRefusals(line.change, player.otherFreqs);
        } else {
            line.change.append(" and ");
            line.change.append(groupedNumber(player.otherFreqs));
        }
        line.change.append(" for other freqs");
    }
    line.change.append(" by ");
    line.change.append(auditQuote(nameOf(player)));
    appendMinute(line.change, player.startTime);
    return line;
}

bool anyRefusals(const PlayerCounts& player) {
    if (player.otherFreqs != 0) return true;
    for (size_t i = 0; i < player.freqsUsed; ++i)
        if (player.freqs[i].count != 0) return true;
    return false;
}

void startMinute(PlayerCounts& player, uint32_t nowTick, int64_t nowTime) {
    player.startTick = nowTick;
    player.startTime = nowTime;
    // The freqs stay in their places; only their counts begin again.
    for (size_t i = 0; i < player.freqsUsed; ++i)
        player.freqs[i].count = 0;
    player.otherFreqs = 0;
}

void addOne(uint32_t& count) {
    if (count != UINT32_MAX) ++count;
}

} // namespace

RefusalCounted countRefusal(RefusalCounts& counts, uint32_t handle, std::string_view name,
                            uint32_t level, int32_t freq, uint32_t nowTick, int64_t nowTime) {
    name = name.substr(0, countedNameBytes);
    PlayerCounts* free = nullptr;
    for (PlayerCounts& player : counts.players) {
        if (!player.used) {
            if (!free) free = &player;
            continue;
        }
        if (player.handle != handle || !equalsNoCase(nameOf(player), name)) continue;
        player.level = level;
        for (size_t i = 0; i < player.freqsUsed; ++i)
            if (player.freqs[i].freq == freq) {
                addOne(player.freqs[i].count);
                return RefusalCounted::counted;
            }
        if (player.freqsUsed < countedFreqsPerPlayer) {
            player.freqs[player.freqsUsed++] = {freq, 1};
        } else {
            // Freqs that have had no refusal this minute make room first.
            auto idle = std::find_if(player.freqs.begin(), player.freqs.end(),
                                     [](const FreqCount& c) { return c.count == 0; });
            if (idle != player.freqs.end())
                *idle = {freq, 1};
            else
                addOne(player.otherFreqs);
        }
        return RefusalCounted::counted;
    }
    if (!free) {
        if (counts.uncounted == 0) {
            counts.uncountedStartTick = nowTick;
            counts.uncountedStartTime = nowTime;
        }
        addOne(counts.uncounted);
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
    ++counts.playersUsed;
    return RefusalCounted::writeInFull;
}

void takeDueCounts(RefusalCounts& counts, uint32_t nowTick, int64_t nowTime, bool all,
                   std::vector<CountLine>& out) {
    for (PlayerCounts& player : counts.players) {
        if (!player.used || !(all || minuteIsOver(player.startTick, nowTick))) continue;
        if (anyRefusals(player)) {
            out.push_back(playerLine(player));
            if (!all) {
                startMinute(player, nowTick, nowTime);
                continue;
            }
        }
        player.used = false;
        --counts.playersUsed;
    }
    if (counts.uncounted != 0 && (all || minuteIsOver(counts.uncountedStartTick, nowTick))) {
        CountLine line;
        appendRefusals(line.change, counts.uncounted);
        line.change.append(" by players beyond the ");
        line.change.append(int32_t(countedPlayers));
        line.change.append(" counted one by one,");
        appendMinute(line.change, counts.uncountedStartTime);
        out.push_back(std::move(line));
        counts.uncounted = 0;
    }
}
