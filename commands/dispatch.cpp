#include "commands/dispatch.h"

#include <charconv>
#include <string_view>

#include "commands/command_table.h"
#include "commands/replies.h"
#include "registry/audit_log.h"
#include "text/ascii.h"
#include "text/number.h"

void reply(const CommandContext& context, const char* text) {
    sendPrivate(context.instance, context.player, text);
}

static AuditActor actorOf(const CommandContext& context) {
    return {.handle = context.instance.handle,
            .hasPlayer = true,
            .playerName = fieldText(context.player.name, playerNameWidth),
            .playerLevel = context.player.operatorLevel,
            .enabled = context.instance.iniConfig.auditLog != 0};
}

void audit(const CommandContext& context, const char* command, int32_t freq,
           std::string_view change) {
    if (context.log) auditLog(*context.log, actorOf(context), command, freq, change);
}

void auditRepeat(const CommandContext& context, RepeatKind kind, int32_t freq,
                 std::string_view change, std::string_view last) {
    if (context.log) auditRepeat(*context.log, actorOf(context), kind, freq, change, last);
}

void auditWrongPassword(const CommandContext& context, int32_t freq) {
    if (context.log) auditWrongPassword(*context.log, actorOf(context), freq);
}

Text changedFromTo(const char* what, std::string_view before, std::string_view after) {
    Text change(what);
    change.append(" ");
    change.append(auditQuote(before));
    change.append(" -> ");
    change.append(auditQuote(after));
    return change;
}

// Whether a numeric text's exact value is outside what 32 bits hold, so that
// its wrapped value is not what the player typed.
static bool outside32Bits(std::string_view numeric) {
    const bool negative = numeric.starts_with('-');
    uint64_t value = 0;
    if (std::from_chars(numeric.data() + negative, numeric.data() + numeric.size(), value).ec ==
        std::errc::result_out_of_range)
        return true;
    return value > (negative ? uint64_t(1) << 31 : (uint64_t(1) << 31) - 1);
}

bool splitFreqArgument(const char* argument, ColonRule rule, FreqArgument& result) {
    // Read in place: of a long argument only the trimmed rest is copied, once.
    const std::string_view whole = argument;
    const size_t colon = whole.find(':');
    if (colon == std::string_view::npos) return false;
    if (rule == ColonRule::Strict && colon + 1 == whole.size()) return false;
    const Text freqText(trimSpaces(whole.substr(0, colon)));
    if (!isNumeric(freqText.data)) return false;
    result.freq = freqText.toInt();
    result.wrapped = outside32Bits(freqText.data);
    result.rest = Text(trimSpaces(whole.substr(colon + 1, longestRemainder)));
    return true;
}

namespace {

bool readArgument(ArgumentForm form, const char* argument, FreqArgument& typed) {
    switch (form) {
    case ArgumentForm::Ignored:
        return true;
    case ArgumentForm::Whole:
        return argument[0] != 0;
    case ArgumentForm::FreqNumber:
        if (!isNumeric(argument)) return false;
        typed.freq = textToNumber(argument, 10);
        return true;
    case ArgumentForm::StrictColon:
        return splitFreqArgument(argument, ColonRule::Strict, typed);
    case ArgumentForm::LenientColon:
        return splitFreqArgument(argument, ColonRule::Lenient, typed);
    }
    return false;
}

// The reply of the first check of the row that the command fails; null when
// it passes them all.
const char* failedCheck(const CommandRow& row, CommandContext& context) {
    if (!readArgument(row.argument, context.argument, context.typed)) return replies::invalidSyntax;
    if (row.check == FreqCheck::None) return nullptr;
    context.record = findFreq(context.registry, uint16_t(context.typed.freq));
    if (!context.record) return replies::notRegistered;
    if (row.check == FreqCheck::Registered) return nullptr;
    if (row.check == FreqCheck::OwnedOrOperator && isOperator(context.player.operatorLevel))
        return nullptr;
    if (!equalsNoCase(fieldOf(context.record->owner), fieldOf(context.player.name)))
        return replies::notOwner;
    return nullptr;
}

} // namespace

void handleCommand(BotInstance& instance, FreqRegistry& registry, const PlayerRecord* player,
                   const CommandRecord* command, RegistryStore* store, AuditLog* log) {
    if (!player || !command || !command->word) return;
    if (player->operatorLevel > highestServedLevel) return;
    const CommandRow* row = findCommand(command->word, player->operatorLevel);
    if (!row) return;
    CommandContext context{instance, registry, *player, command->argument ? command->argument : "",
                           store,    log,      row};
    if (const char* failure = failedCheck(*row, context)) return reply(context, failure);
    row->handler(context);
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
