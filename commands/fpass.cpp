#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/password_hash.h"

void handleFpass(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Strict, true, argument);
    if (!record) return;
    record->passwordHash = hashPassword(argument.rest.data, argument.rest.length);
    audit(context, "!fpass", record->freq, "password changed");
    reply(context, replies::passwordChanged);
}
