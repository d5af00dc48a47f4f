#pragma once

#include "hostlink/bot_instance.h"
#include "plugin/plugin_state.h"
#include "registry/freq_registry.h"
#include "text/text.h"

// One call of talk: the event goes to its bot's instance (made at the bot's
// first call); a call made while another runs waits for it. Nothing thrown
// leaves: a failed event is told to its bot's operator once for each kind
// of failure.
void hostCall(PluginState& state, BotEvent& event) noexcept;

// Reacts to one event from the host for this instance.
void handleEvent(BotInstance& instance, PluginState& state, BotEvent& event);

// The welcome text of record for player p who has just changed to freq f.
Text expandWelcome(const FreqRecord& record, const PlayerRecord& player, uint16_t freq);
