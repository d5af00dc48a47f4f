#include "commands/commands.h"
#include "commands/replies.h"
#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/last_used.h"

void handleFunreg(const CommandContext& context) {
    FreqRecord& record = *context.record;
    bool ownFreq = equalsNoCase(fieldOf(record.owner), fieldOf(context.player.name));
    Text change(ownFreq ? "unregistered" : "unregistered by an operator; owner was ");
    if (!ownFreq) change.append(auditQuote(fieldOf(record.owner)));
    // What the freq was, so that the log can tell it after it is gone; the
    // password's hash stays out, as everywhere in the log.
    change.append("; record: owner ");
    change.append(auditQuote(fieldOf(record.owner)));
    change.append(", name ");
    change.append(auditQuote(fieldOf(record.freqName)));
    change.append(", squad ");
    change.append(auditQuote(fieldOf(record.allowedSquad)));
    change.append(", welcome ");
    change.append(auditQuote(fieldOf(record.welcome)));
    change.append(", last used ");
    // Read in the era of now, as the expiry reads it; without a clock, as stored.
    int64_t now = 0;
    const std::optional<int64_t> lastUsed =
        wallClock(now) ? lastUsedAt(record.lastUsed, now) : std::optional<int64_t>(record.lastUsed);
    change.append(lastUsed ? auditTimeText(*lastUsed) : Text("(no time)"));
    audit(context, "!funreg", record.freq, change.view());
    sendToFreq(context.instance, record.freq, replies::noLongerOwned);
    removeFreq(context.registry, &record);
    reply(context, replies::unregistered);
}
