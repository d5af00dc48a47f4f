#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"

void handleFkick(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Strict, true, argument);
    if (!record) return;
    const PlayerRecord* target = findPlayerByName(context.instance, argument.rest.view());
    if (!target) return reply(context, replies::playerNotFound);
    if (uint32_t(target->freq) != uint32_t(argument.freq))
        return reply(context, replies::notOnFreq);
    Text change("kicked ");
    change.append(auditQuote(fieldOf(target->name)));
    audit(context, "!fkick", record->freq, change.view());
    sendPrivate(context.instance, *target, replies::kicked);
    sendPrivate(context.instance, *target, replies::setFreqZero);
}
