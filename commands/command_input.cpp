#include "commands/command_input.h"

#include "commands/command_table.h"
#include "commands/replies.h"
#include "registry/audit_log.h"
#include "text/ascii.h"
#include "text/number.h"

void reply(const CommandContext& context, const char* text) {
    sendPrivate(context.instance, context.player, text);
}

void audit(const CommandContext& context, const char* command, int32_t freq,
           std::string_view change) {
    auditLog({context.instance.handle, &context.player, context.instance.config.auditLog != 0},
             command, freq, change);
}

Text changedFromTo(const char* what, std::string_view before, std::string_view after) {
    Text change(what);
    change.append(" ");
    change.append(auditQuote(before));
    change.append(" -> ");
    change.append(auditQuote(after));
    return change;
}

void handleCommand(BotInstance& instance, FreqRegistry& registry, const PlayerRecord* player,
                   const CommandRecord* command, RegistryStore* store) {
    if (!player || !command || !command->word) return;
    if (player->operatorLevel > highestServedLevel) return;
    CommandContext context{instance, registry, *player, command->argument ? command->argument : "",
                           store};
    std::string_view word = command->word;
    for (size_t i = 0; i < commandCount; ++i) {
        const CommandEntry& entry = commandTable[i];
        if (word == entry.word && mayUse(entry.access, player->operatorLevel)) {
            entry.handler(context);
            return;
        }
    }
}

// Whether a numeric text's exact value is outside what 32 bits hold, so that
// its wrapped value is not what the player typed.
static bool outside32Bits(const char* numeric) {
    bool negative = numeric[0] == '-';
    uint64_t value = 0;
    for (const char* p = numeric + (negative ? 1 : 0); *p; ++p)
        if ((value = value * 10 + uint64_t(*p - '0')) > (uint64_t(1) << 32)) return true;
    return value > (negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1);
}

bool splitFreqArgument(const char* argument, ColonRule rule, FreqArgument& result) {
    if (argument[0] == 0) return false;
    Text text(argument);
    uint32_t colon = text.findChar(':');
    if (colon == notFound) return false;
    if (rule == ColonRule::Strict && colon + 1 == text.length) return false;
    Text freqText = text.splitAt(':');
    if (!isNumeric(freqText.data)) return false;
    result.freq = freqText.toInt();
    result.wrapped = outside32Bits(freqText.data);
    result.rest = std::move(text);
    return true;
}

FreqRecord* checkFreqCommand(const CommandContext& context, ColonRule rule, bool ownerTest,
                             FreqArgument& argument) {
    if (!splitFreqArgument(context.argument, rule, argument)) {
        reply(context, replies::invalidSyntax);
        return nullptr;
    }
    FreqRecord* record = findFreq(context.registry, uint16_t(argument.freq));
    if (!record) {
        reply(context, replies::notRegistered);
        return nullptr;
    }
    if (ownerTest && !equalsNoCase(fieldOf(record->owner), fieldOf(context.player.name))) {
        reply(context, replies::notOwner);
        return nullptr;
    }
    return record;
}

const PlayerRecord* findPlayerByName(const BotInstance& instance, std::string_view name) {
    if (!instance.playerList) return nullptr;
    // An arena never holds this many players; the bound keeps a broken host
    // list (a cycle) from hanging the bot.
    constexpr uint32_t longestWalk = 1u << 20;
    uint32_t steps = 0;
    for (const PlayerNode* node = *instance.playerList; node && steps < longestWalk;
         node = node->next, ++steps)
        if (node->player && equalsNoCase(fieldOf(node->player->name), name)) return node->player;
    return nullptr;
}
