#pragma once

#include "hostlink/bot_instance.h"
#include "plugin/plugin_state.h"
#include "registry/freq_registry.h"
#include "text/text.h"

// Reacts to one event from the host for this instance.
void handleEvent(BotInstance& instance, PluginState& state, BotEvent& event);

// The welcome text of record for player p who has just changed to freq f.
Text expandWelcome(const FreqRecord& record, const PlayerRecord& player, uint16_t freq);
