// What the plug-in keeps per host bot, and the senders through which every
// line reaches the host.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "hostlink/host_interface.h"
#include "registry/plugin_config.h"

// Pending invites age on every this many ticks of a bot.
constexpr uint32_t ticksPerInviteAgeing = 5;

struct BotInstance {
    bool disabled = false;
    uint32_t handle = 0;
    HostCallback callback = nullptr;
    PlayerNode* const* playerList = nullptr;            // address of the host's head word
    const ArenaSettingsRecord* arenaSettings = nullptr; // the host's record of the arena
    uint32_t expiryCountdown = ticksPerInviteAgeing;
    uint32_t autoSaveCountdown = 0;
    uint16_t ownFreq = 0;
    PluginConfig iniConfig; // freqs.ini as read at this bot's connection
};

struct BotInstanceList {
    std::vector<std::unique_ptr<BotInstance>> instances; // never removed
    // Handles already found, so that thousands of bots are each found at once.
    std::unordered_map<uint32_t, BotInstance*> found;
};

BotInstance* findInstance(BotInstanceList& list, uint32_t handle);

void sendEvent(BotInstance& instance, BotEvent& event);
void echo(BotInstance& instance, const char* text);
void sendPrivate(BotInstance& instance, const PlayerRecord& player, const char* text);
void sendToFreq(BotInstance& instance, uint16_t freq, const char* text);

// Sent privately to a player, the host carries this out as the game's command
// that moves that player to freq 0.
inline constexpr char setFreqZero[] = "*setfreq 0";
