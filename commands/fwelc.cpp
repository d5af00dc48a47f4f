#include "commands/commands.h"
#include "commands/replies.h"

void handleFwelc(const CommandContext& context) {
    FreqRecord& record = *context.record;
    setTextField(record.welcome, context.typed.rest.view());
    audit(context, "!fwelc", record.freq, "welcome changed");
    reply(context, replies::welcomeChanged);
}
