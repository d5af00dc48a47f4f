#include "commands/commands.h"
#include "commands/replies.h"

void handleFname(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Strict, true, argument);
    if (!record) return;
    Text before(fieldOf(record->freqName));
    setTextField(record->freqName, argument.rest.view());
    audit(context, "!fname", record->freq,
          changedFromTo("name", before.view(), fieldOf(record->freqName)).view());
    reply(context, replies::nameChanged);
}
