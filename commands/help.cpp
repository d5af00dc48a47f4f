#include "commands/help.h"

#include "commands/command_table.h"
#include "text/ascii.h"

namespace {

// The topic, folded to lower case, must equal the word exactly.
bool topicIs(std::string_view topic, std::string_view word) {
    if (topic.size() != word.size()) return false;
    for (size_t i = 0; i < topic.size(); ++i)
        if (lowerAscii(static_cast<unsigned char>(topic[i])) != static_cast<unsigned char>(word[i]))
            return false;
    return true;
}

void sendCommandList(const CommandContext& context) {
    uint32_t level = context.player.operatorLevel;
    for (ListLine line : {ListLine::OperatorLine, ListLine::AboutLine, ListLine::PlayerLine}) {
        Text text;
        for (size_t i = 0; i < commandCount; ++i) {
            const CommandEntry& entry = commandTable[i];
            if (entry.listLine != line || !mayUse(entry.access, level)) continue;
            if (!text.empty()) text.append(" ");
            text.append("!");
            text.append(entry.word);
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
    for (size_t i = 0; i < commandCount; ++i) {
        const CommandEntry& entry = commandTable[i];
        if (!topicIs(topic, entry.word) || !mayUse(entry.helpAccess, player->operatorLevel))
            continue;
        for (const char* const* line = entry.helpLines; *line; ++line)
            reply(context, *line);
        if (entry.helpExtra) entry.helpExtra(context);
        return;
    }
}
