#include "commands/commands.h"
#include "commands/replies.h"

void handleFsquad(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Lenient, true, argument);
    if (!record)
        return;
    setTextField(record->allowedSquad, argument.rest.view());
    reply(context, replies::squadChanged);
}
