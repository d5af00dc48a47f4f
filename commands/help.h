#pragma once

#include "hostlink/bot_instance.h"
#include "registry/freq_registry.h"

// Answers a help request: the command list, or the lines of one topic.
void handleHelp(BotInstance& instance, FreqRegistry& registry, const PlayerRecord* player,
                const CommandRecord* command);
