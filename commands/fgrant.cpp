#include <cstring>

#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"

void handleFgrant(const CommandContext& context) {
    FreqRecord& record = *context.record;
    const PlayerRecord* target = findPlayerByName(context.instance, context.typed.rest.view());
    if (!target) return reply(context, replies::mustBeInArena);
    if (countOwnedBy(context.registry, fieldOf(target->name)) >=
        context.instance.iniConfig.maxOwnedFreqs)
        return reply(context, replies::playerOwnsTooMany);
    // Handing a freq to oneself changes nothing; the line says so plainly.
    const bool same = fieldOf(record.owner) == fieldOf(target->name);
    Text change = same ? Text("owner unchanged: handed to its owner ")
                       : changedFromTo("owner", fieldOf(record.owner), fieldOf(target->name));
    if (same) change.append(auditQuote(fieldOf(target->name)));
    markChanged(context.registry, record.freq);
    std::memcpy(record.owner, target->name, sizeof record.owner);
    auditRepeat(context, RepeatKind::handOver, record.freq, change.view(), fieldOf(target->name));
    Text line(replies::nowOwner);
    line.append(int32_t(record.freq));
    sendPrivate(context.instance, *target, line.data);
    reply(context, replies::ownerChanged);
}
