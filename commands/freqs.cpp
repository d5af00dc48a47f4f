#include <ctime>

#include "commands/commands.h"
#include "commands/replies.h"
#include "platform/platform.h"
#include "text/date_time.h"
#include "text/number.h"

namespace {

Text freqLine(const FreqRecord& record, bool forOperator) {
    Text line = decimalText(record.freq).fit(5);
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
        // One conversion serves both texts.
        std::tm storage{};
        const std::tm* local = localTimeOf(record.lastUsed, storage) ? &storage : nullptr;
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
    if (registry.freqs.count() == 0) return reply(context, replies::noFreqs);
    bool forOperator = context.player.operatorLevel != 0;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        reply(context, freqLine(*r, forOperator).data);
}
