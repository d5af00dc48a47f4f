#include "commands/commands.h"
#include "commands/replies.h"

void handleFkick(const CommandContext& context) {
    FreqArgument argument;
    FreqRecord* record = checkFreqCommand(context, ColonRule::Strict, true, argument);
    if (!record)
        return;
    const PlayerRecord* target = findPlayerByName(context.instance, argument.rest.view());
    if (!target)
        return reply(context, replies::playerNotFound);
    if (uint32_t(target->freq) != uint32_t(argument.freq))
        return reply(context, replies::notOnFreq);
    sendPrivate(context.instance, *target, replies::kicked);
    sendPrivate(context.instance, *target, replies::setFreqZero);
}
