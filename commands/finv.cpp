#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"

void handleFinv(const CommandContext& context) {
    const FreqRecord& record = *context.record;
    const PlayerRecord* target = findPlayerByName(context.instance, context.typed.rest.view());
    if (!target) return reply(context, replies::mustBeInArena);
    addInvite(context.registry, record.freq, fieldOf(target->name));
    Text change("invited ");
    change.append(auditQuote(fieldOf(target->name)));
    auditRepeat(context, RepeatKind::invite, record.freq, change.view(), fieldOf(target->name));
    Text line(fieldOf(context.player.name));
    line.append(replies::invitedYou);
    line.append(int32_t(record.freq));
    line.append(replies::inviteYouHave);
    line.append(int32_t(context.instance.iniConfig.inviteExpireSeconds));
    line.append(replies::inviteExpires);
    sendPrivate(context.instance, *target, line.data);
    reply(context, replies::playerInvited);
}
