#include "commands/commands.h"
#include "commands/replies.h"

void handleFsquad(const CommandContext& context) {
    FreqRecord& record = *context.record;
    Text before(fieldOf(record.allowedSquad));
    setTextField(record.allowedSquad, context.typed.rest.view());
    audit(context, "!fsquad", record.freq,
          changedFromTo("squad", before.view(), fieldOf(record.allowedSquad)).view());
    reply(context, replies::squadChanged);
}
