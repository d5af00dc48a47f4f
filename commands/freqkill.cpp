#include "commands/commands.h"
#include "commands/replies.h"

void handleFreqkill(const CommandContext& context) {
    if (context.argument[0] == 0)
        return reply(context, replies::invalidSyntax);
    // One pass removes what repeated first-match searches would, in the same order.
    std::string_view owner = context.argument;
    FreqRegistry& registry = context.registry;
    for (FreqRecord* r = registry.freqs.first(); r;) {
        FreqRecord* following = registry.freqs.next(r);
        if (equalsNoCase(fieldOf(r->owner), owner))
            removeFreq(registry, r);
        r = following;
    }
    reply(context, replies::freqsKilled);
}
