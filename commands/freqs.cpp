#include <ctime>

#include "commands/commands.h"
#include "commands/replies.h"
#include "text/date_time.h"
#include "text/number.h"

namespace {

// One local-time conversion serves both the date and the time text; a
// negative stored time has none.
const std::tm* toLocalTime(int32_t stored, std::tm& storage) {
    if (stored < 0)
        return nullptr;
    std::time_t t = stored;
#if defined(_WIN32)
    return localtime_s(&storage, &t) == 0 ? &storage : nullptr;
#else
    return localtime_r(&t, &storage);
#endif
}

Text freqLine(const FreqRecord& record, bool forOperator) {
    Text line = numberToText(record.freq, 10, 0, false).fit(5);
    line.append("[");
    line.append(fieldOf(record.owner));
    if (!fieldOf(record.allowedSquad).empty()) {
        line.append("][Squad: ");
        line.append(fieldOf(record.allowedSquad));
    }
    line.append("]");
    line = line.fit(32);
    if (!fieldOf(record.freqName).empty()) {
        line.append(" - ");
        line.append(fieldOf(record.freqName));
    }
    if (forOperator) {
        std::tm storage{};
        const std::tm* local = toLocalTime(record.lastUsed, storage);
        line.append(" [LastUsed: ");
        line.append(dateText(local));
        line.append(" ");
        line.append(timeText(local));
        line.append("]");
    }
    return line;
}

} // namespace

void handleFreqs(const CommandContext& context) {
    FreqRegistry& registry = context.registry;
    if (registry.freqs.count() == 0)
        return reply(context, replies::noFreqs);
    bool forOperator = context.player.operatorLevel != 0;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        reply(context, freqLine(*r, forOperator).data);
}
