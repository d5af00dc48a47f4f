#include "commands/commands.h"
#include "commands/replies.h"

void handleFname(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Strict, true, argument);
    if (!record)
        return;
    setTextField(record->freqName, argument.rest.view());
    reply(context, replies::nameChanged);
}
