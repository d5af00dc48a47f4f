#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"

void handleFunreg(const CommandContext& context) {
    FreqRecord& record = *context.record;
    bool ownFreq = equalsNoCase(fieldOf(record.owner), fieldOf(context.player.name));
    Text change(ownFreq ? "unregistered" : "unregistered by an operator; owner was ");
    if (!ownFreq) change.append(auditQuote(fieldOf(record.owner)));
    audit(context, "!funreg", record.freq, change.view());
    sendToFreq(context.instance, record.freq, replies::noLongerOwned);
    removeFreq(context.registry, &record);
    reply(context, replies::unregistered);
}
