// A small stand-in for the bot host: one connected bot instance over its own
// registry, an arena of players, and every line the plug-in sends, recorded.
#pragma once

#include <algorithm>
#include <cstring>
#include <deque>
#include <string>
#include <vector>

#include "commands/dispatch.h"
#include "commands/help.h"
#include "hostlink/bot_instance.h"
#include "plugin/event_handling.h"
#include "registry/audit_log.h"
#include "registry/freq_registry.h"
#include "temp_dir.h"

struct SentLine {
    uint32_t handle;
    uint32_t code;
    uint32_t mode;
    uintptr_t target;
    std::string text;
};

inline std::vector<SentLine>& sentLines() {
    static std::vector<SentLine> lines;
    return lines;
}

extern "C" inline void recordHostEvent(BotEvent& event) {
    const char* text =
        reinterpret_cast<const char*>(event.code == Echo ? event.slot[0] : event.slot[3]);
    sentLines().push_back(
        {event.handle, event.code, uint32_t(event.slot[0]), event.slot[2], text ? text : "(null)"});
}

struct FakeHost {
    TempDir dir; // whatever the plug-in writes stays out of the way
    PluginState state;
    FreqRegistry& registry = state.registry;
    BotInstance bot;
    ArenaSettingsRecord settings{};
    std::deque<PlayerRecord> players;
    std::deque<PlayerNode> nodes;
    PlayerNode* head = nullptr;

    ~FakeHost() { closeRegistryStore(state.store); }
    FakeHost() {
        openRegistryStore(state.store);
        loadRegistryFile(state.store, state.registry);
        sentLines().clear();
        bot.handle = 1;
        bot.callback = recordHostEvent;
        bot.playerList = &head;
        bot.iniConfig = {3, 30, 300};
        bot.autoSaveCountdown = 300;
        settings.freqLimit = 10000;
        bot.arenaSettings = &settings;
        bot.ownFreq = 9999;
    }

    // Adds a player to the arena; the name is copied into the 20-byte field
    // as is, so a name of 20 characters has no terminating zero.
    PlayerRecord& addPlayer(const std::string& name, uint32_t level = 0,
                            const std::string& squad = "", uint16_t freq = 0) {
        PlayerRecord& p = players.emplace_back();
        std::memset(&p, 0, sizeof p);
        p.ident = uint16_t(players.size());
        p.operatorLevel = level;
        std::memcpy(p.name, name.data(), std::min(name.size(), sizeof p.name));
        std::memcpy(p.squad, squad.data(), std::min(squad.size(), sizeof p.squad - 1));
        p.freq = freq;
        nodes.push_back({&p, head});
        head = &nodes.back();
        return p;
    }

    void command(const PlayerRecord& player, const char* word, const char* argument) {
        CommandRecord record{};
        record.word = word;
        record.argument = argument;
        handleCommand(bot, registry, &player, &record, &state.store, &state.log);
    }

    void help(const PlayerRecord& player, const char* topic) {
        CommandRecord record{};
        record.word = "help";
        record.argument = topic;
        handleHelp(bot, registry, &player, &record);
    }

    void changeFreq(PlayerRecord& player, uint16_t freq) {
        player.freq = freq;
        BotEvent event{};
        event.handle = bot.handle;
        event.code = PlayerFreqChange;
        event.slot[0] = reinterpret_cast<uintptr_t>(&player);
        handleEvent(bot, state, event);
    }

    void tick(int count = 1) {
        for (int i = 0; i < count; ++i) {
            BotEvent event{};
            event.handle = bot.handle;
            event.code = Tick;
            handleEvent(bot, state, event);
        }
    }

    std::string nameOf(uintptr_t ident) const {
        for (const PlayerRecord& p : players)
            if (p.ident == ident) return std::string(fieldOf(p.name));
        return "#" + std::to_string(ident);
    }

    // Everything sent since the last call, one readable line each:
    // "Bob: text", "freq 100: text" or "echo: text".
    std::vector<std::string> take() {
        std::vector<std::string> out;
        for (const SentLine& l : sentLines()) {
            if (l.code == Echo)
                out.push_back("echo: " + l.text);
            else if (l.mode == FreqMessage)
                out.push_back("freq " + std::to_string(l.target) + ": " + l.text);
            else
                out.push_back(nameOf(l.target) + ": " + l.text);
        }
        sentLines().clear();
        return out;
    }
};

using Lines = std::vector<std::string>;
