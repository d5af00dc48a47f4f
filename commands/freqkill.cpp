#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"
#include "text/number.h"

void handleFreqkill(const CommandContext& context) {
    std::string_view owner = context.argument;
    FreqRegistry& registry = context.registry;
    if (!findOwnedBy(registry, owner)) return reply(context, replies::freqsKilled);
    // The registry as it stands, so that the operator can undo a wrong name.
    std::string snapshot = undoSnapshot(context, "freqkill");
    Text change("deleted the freqs of ");
    change.append(auditQuote(owner));
    change.append(":");
    // One pass removes what repeated first-match searches would, in the same order.
    for (FreqRecord* r = registry.freqs.first(); r;) {
        FreqRecord* following = registry.freqs.next(r);
        if (equalsNoCase(fieldOf(r->owner), owner)) {
            change.append(" ");
            change.append(decimalText(r->freq));
            removeFreq(registry, r);
        }
        r = following;
    }
    change.append(snapshot.empty() ? "; no snapshot could be written" : "; snapshot ");
    change.append(snapshot.c_str());
    audit(context, "!freqkill", noFreq, change.view());
    reply(context, replies::freqsKilled);
}
