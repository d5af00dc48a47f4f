#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/password_hash.h"

void handleFpass(const CommandContext& context) {
    FreqRecord& record = *context.record;
    const Text& password = context.typed.rest;
    record.passwordHash = hashPassword(password.data, password.length);
    audit(context, "!fpass", record.freq, "password changed");
    reply(context, replies::passwordChanged);
}
