#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/password_hash.h"

void handleFjoin(const CommandContext& context) {
    const FreqRecord& record = *context.record;
    const Text& password = context.typed.rest;
    if (hashPassword(password.data, password.length) != record.passwordHash) {
        auditWrongPassword(context, record.freq);
        return reply(context, replies::invalidPassword);
    }
    addInvite(context.registry, record.freq, fieldOf(context.player.name));
    auditRepeat(context, RepeatKind::admission, record.freq, "admitted by password");
    Text line(replies::joinSecondsLead);
    line.append(int32_t(context.instance.iniConfig.inviteExpireSeconds));
    line.append(replies::joinSecondsTail);
    reply(context, line.data);
}
