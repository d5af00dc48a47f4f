#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"

void handleFkick(const CommandContext& context) {
    const FreqRecord& record = *context.record;
    const PlayerRecord* target = findPlayerByName(context.instance, context.typed.rest.view());
    if (!target) return reply(context, replies::playerNotFound);
    if (uint32_t(target->freq) != uint32_t(context.typed.freq))
        return reply(context, replies::notOnFreq);
    Text change("kicked ");
    change.append(auditQuote(fieldOf(target->name)));
    audit(context, "!fkick", record.freq, change.view());
    sendPrivate(context.instance, *target, replies::kicked);
    sendPrivate(context.instance, *target, setFreqZero);
}
