#include "commands/commands.h"
#include "commands/replies.h"
#include "platform/platform.h"
#include "registry/last_used.h"
#include "registry/password_hash.h"

namespace {

// Freq numbers are 16-bit: a larger typed number must not wrap onto another
// freq after passing checks made for itself. Before the arena's settings are
// known there is no limit to check against, so nothing can be registered.
bool isUsableFreq(const BotInstance& instance, uint32_t freq) {
    if (!instance.arenaSettings) return false;
    return freq >= lowestRegistrableFreq && freq <= 0xFFFF &&
           freq < instance.arenaSettings->freqLimit && freq != instance.ownFreq;
}

} // namespace

void handleFreg(const CommandContext& context) {
    const FreqArgument& typed = context.typed;
    std::string_view name = fieldOf(context.player.name);
    if (countOwnedBy(context.registry, name) >= context.instance.iniConfig.maxOwnedFreqs)
        return reply(context, replies::tooManyOwned);
    uint32_t freq = uint32_t(typed.freq);
    if (typed.wrapped || !isUsableFreq(context.instance, freq))
        return reply(context, replies::invalidFreq);
    if (findFreq(context.registry, uint16_t(freq)))
        return reply(context, replies::alreadyRegistered);
    FreqRecord* record = addFreq(context.registry, uint16_t(freq), context.player.name,
                                 hashPassword(typed.rest.data, typed.rest.length));
    // A clock that gives no time stamps nothing: the freq stays unstamped
    // (never expired) until its first admission.
    int64_t now = 0;
    markChanged(context.registry, record->freq);
    record->lastUsed = wallClock(now) ? lastUsedStamp(now) : unstampedTime;
    audit(context, "!freg", int32_t(freq), "registered");
    reply(context, replies::registered);
}

void helpFregLimit(const CommandContext& context) {
    Text line("You can register a maximum of ");
    line.append(int32_t(context.instance.iniConfig.maxOwnedFreqs));
    line.append(" freqs");
    reply(context, line.data);
}
