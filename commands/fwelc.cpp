#include "commands/commands.h"
#include "commands/replies.h"

void handleFwelc(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Lenient, true, argument);
    if (!record) return;
    setTextField(record->welcome, argument.rest.view());
    audit(context, "!fwelc", record->freq, "welcome changed");
    reply(context, replies::welcomeChanged);
}
