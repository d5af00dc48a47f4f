#include "commands/commands.h"
#include "commands/replies.h"

void handleFreqreset(const CommandContext& context) {
    clearFreqs(context.registry);
    clearInvites(context.registry);
    reply(context, replies::databaseCleared);
}
