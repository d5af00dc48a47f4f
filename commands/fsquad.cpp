#include "commands/commands.h"
#include "commands/replies.h"

void handleFsquad(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Lenient, true, argument);
    if (!record) return;
    Text before(fieldOf(record->allowedSquad));
    setTextField(record->allowedSquad, argument.rest.view());
    audit(context, "!fsquad", record->freq,
          changedFromTo("squad", before.view(), fieldOf(record->allowedSquad)).view());
    reply(context, replies::squadChanged);
}
