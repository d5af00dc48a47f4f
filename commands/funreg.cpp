#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"
#include "text/number.h"

void handleFunreg(const CommandContext& context) {
    if (!isNumeric(context.argument)) return reply(context, replies::invalidSyntax);
    FreqRecord* record = findFreq(context.registry, uint16_t(textToNumber(context.argument, 10)));
    if (!record) return reply(context, replies::notRegistered);
    if (context.player.operatorLevel == 0 &&
        !equalsNoCase(fieldOf(record->owner), fieldOf(context.player.name)))
        return reply(context, replies::notOwner);
    bool ownFreq = equalsNoCase(fieldOf(record->owner), fieldOf(context.player.name));
    Text change(ownFreq ? "unregistered" : "unregistered by an operator; owner was ");
    if (!ownFreq) change.append(auditQuote(fieldOf(record->owner)));
    audit(context, "!funreg", record->freq, change.view());
    sendToFreq(context.instance, record->freq, replies::noLongerOwned);
    removeFreq(context.registry, record);
    reply(context, replies::unregistered);
}
