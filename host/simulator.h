// The simulated bot host: it loads the plug-in, owns the records the plug-in
// reads (player list, arena settings, each bot's own player record), delivers
// events through talk and prints everything that comes back.
#pragma once

#include <cstdint>
#include <cstdio>
#include <deque>
#include <list>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "hostlink/host_interface.h"

// A failure of the host itself (the plug-in can't be loaded, a file can't be
// written), as opposed to a malformed script line.
struct HostFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

using TalkFunction = void (*)(BotEvent&);

// One player in the arena. The node lives beside the record so both keep
// their addresses for as long as the player stays.
struct SimPlayer {
    PlayerRecord record{};
    PlayerNode node{};
};

// The freq limit of an arena whose settings the script doesn't give: freqs up
// to 9999, the bot's own default freq being the last of them.
constexpr uint32_t defaultFreqLimit = 10000;

// What the host keeps for one bot handle.
struct SimBot {
    uint32_t handle = 0;
    ArenaSettingsRecord settings{};
    PlayerRecord self{}; // the bot's own record, sent on ArenaEnter
    // A Connect was delivered for this handle at some time.
    bool everConnected = false;
    // The script sent this bot's arena settings itself since it last connected.
    bool settingsGiven = false;
};

// A "*setfreq" that the host carries out once the current talk call is over.
struct PendingFreqChange {
    uint32_t handle;
    uint16_t ident;
    uint16_t freq;
};

struct Simulator {
    std::string pluginPath;
    void* library = nullptr;
    TalkFunction talk = nullptr;

    std::map<uint32_t, std::unique_ptr<SimBot>> bots;
    std::optional<uint32_t> currentBot;

    // The arena's players, shared by all bots. std::list keeps every record at
    // a stable address; the nodes are linked in list order from the head word.
    std::list<SimPlayer> players;
    PlayerNode* playerListHead = nullptr;
    uint16_t nextIdent = 1;

    // Every player's entry in players, by ident (the field's 16 bits).
    std::map<uint16_t, SimPlayer*> byIdent;
    // And by name: the 20-byte field in lower case (ASCII), as names compare.
    std::map<std::string, SimPlayer*> byName;

    std::deque<PendingFreqChange> pending;
    bool inTalk = false;

    std::FILE* transcript = stdout;

    // "event" lines may put raw numbers in slots the plug-in reads as
    // pointers (run --raw-pointer-slots).
    bool rawPointerSlots = false;

    // Another process held this folder's registry lock when the run began:
    // a host is running here, so no script line writes the folder's files.
    bool hostRunsHere = false;
};

// Loads the plug-in if it isn't loaded; throws HostFailure when it can't.
void loadPlugin(Simulator& sim);

// Unloads the plug-in (the plug-in saves its registry on the way out) and
// checks that it really left memory. Returns false with a transcript warning
// when the library is still mapped.
bool unloadPlugin(Simulator& sim);

// Hands one event to the plug-in, loading it first if needed, then carries out
// the "*setfreq" commands the plug-in sent meanwhile.
void deliver(Simulator& sim, BotEvent event);

SimBot& botFor(Simulator& sim, uint32_t handle);

// Records that a Connect is being delivered for the bot.
void noteConnect(SimBot& bot);

// The 20-byte name field for a name: longer names are cut, and a name of 20
// bytes or more fills the field with no terminating zero.
void setPlayerName(PlayerRecord& record, std::string_view name);
void setPlayerSquad(PlayerRecord& record, std::string_view squad);

SimPlayer* findPlayerByName(Simulator& sim, std::string_view name);
SimPlayer* findPlayerByIdent(Simulator& sim, uint32_t ident);
// Throws ScriptError when all 65,535 idents are taken.
SimPlayer& addPlayer(Simulator& sim, std::string_view name);
void removePlayer(Simulator& sim, SimPlayer& player);

// The name as printed in the transcript: the field's bytes up to its first
// zero, escaped.
std::string printableName(const PlayerRecord& record);

void writeLine(Simulator& sim, std::string_view line);

// The host's callback, of the HostCallback form, that the plug-in receives on
// Connect.
extern "C" void hostCallback(BotEvent& event);
