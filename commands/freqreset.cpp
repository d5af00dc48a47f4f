#include "commands/commands.h"
#include "commands/replies.h"
#include "registry/audit_log.h"
#include "text/number.h"

void handleFreqreset(const CommandContext& context) {
    FreqRegistry& registry = context.registry;
    uint32_t freqs = registry.freqs.count();
    uint32_t invites = registry.invites.count();
    // The registry as it stands, so that the operator can undo the reset.
    std::string snapshot = freqs > 0 ? undoSnapshot(context, "freqreset") : std::string();
    clearFreqs(registry);
    clearInvites(registry);
    Text change("cleared ");
    change.append(decimalText(freqs));
    change.append(" freqs and ");
    change.append(decimalText(invites));
    change.append(" invites");
    if (freqs > 0) {
        change.append(snapshot.empty() ? "; no snapshot could be written" : "; snapshot ");
        change.append(snapshot.c_str());
    }
    audit(context, "!freqreset", noFreq, change.view());
    reply(context, replies::databaseCleared);
}
