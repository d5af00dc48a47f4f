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
    auditRepeat(context, RepeatKind::kick, record.freq, change.view(), fieldOf(target->name));
    sendPrivate(context.instance, *target, replies::kicked);
    sendPrivate(context.instance, *target, setFreqZero);
}
