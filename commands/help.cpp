#include "commands/help.h"

#include <algorithm>

#include "commands/command_table.h"
#include "text/ascii.h"

namespace {

void sendCommandList(const CommandContext& context) {
    uint32_t level = context.player.operatorLevel;
    for (ListLine line : {ListLine::OperatorLine, ListLine::AboutLine, ListLine::PlayerLine}) {
        Text text;
        for (const CommandRow& row : commandTable) {
            if (row.listLine != line || !mayUse(row.level, level)) continue;
            if (!text.empty()) text.append(" ");
            text.append("!");
            text.append(row.word);
        }
        if (!text.empty()) reply(context, text.data);
    }
    reply(context, "Send !help <command> for details. Registering too many freqs for no reason "
                   "will be punished!");
}

} // namespace

void handleHelp(BotInstance& instance, FreqRegistry& registry, const PlayerRecord* player,
                const CommandRecord* command) {
    if (!player || !command || player->operatorLevel > highestServedLevel) return;
    CommandContext context{instance, registry, *player, command->argument ? command->argument : ""};
    std::string_view topic = context.argument;
    if (topic.empty()) return sendCommandList(context);
    // Words are lower case, so folding both sides equals folding the topic.
    for (const CommandRow& row : commandTable) {
        if (!equalsNoCase(topic, row.word) || !mayUse(row.topicLevel, player->operatorLevel))
            continue;
        Text title("!");
        title.append(row.word);
        reply(context, title.data);
        reply(context, syntaxLine(row).data);
        for (std::string_view rest = row.help; !rest.empty();) {
            const size_t end = std::min(rest.find('\n'), rest.size());
            reply(context, Text(rest.substr(0, end)).data);
            rest.remove_prefix(std::min(end + 1, rest.size()));
        }
        if (row.helpLast) row.helpLast(context);
        return;
    }
}
