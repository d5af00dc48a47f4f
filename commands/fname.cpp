#include "commands/commands.h"
#include "commands/replies.h"

void handleFname(const CommandContext& context) {
    FreqRecord& record = *context.record;
    Text before(fieldOf(record.freqName));
    setTextField(record.freqName, context.typed.rest.view());
    audit(context, "!fname", record.freq,
          changedFromTo("name", before.view(), fieldOf(record.freqName)).view());
    reply(context, replies::nameChanged);
}
