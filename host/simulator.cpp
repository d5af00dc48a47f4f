#include "host/simulator.h"

#include "text/ascii.h"

#include <charconv>
#include <cstring>

#include "host/script_text.h"
#include "system/plugin_loader.h"
#include "system/script_clock.h"

namespace {

// The simulator whose plug-in is being called; the callback has no other way
// to find it.
Simulator* activeSimulator = nullptr;

// Bounds the chain of "*setfreq" commands that one event can set off, in case
// a plug-in keeps moving a player back and forth.
constexpr int maxFreqChangesPerEvent = 10000;

std::string slotText(uintptr_t slot) {
    if (slot == 0) return "(null)";
    return escapedBytes(reinterpret_cast<const char*>(slot));
}

std::string hex(uintptr_t value) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "0x%llx", static_cast<unsigned long long>(value));
    return buffer;
}

// Slots the plug-in should have left at zero, shown so a stray value is seen.
std::string straySlotsText(const BotEvent& event, std::initializer_list<int> unused) {
    std::string text;
    for (int index : unused) {
        if (event.slot[index] != 0)
            text += " [slot" + std::to_string(index) + "=" + hex(event.slot[index]) + "]";
    }
    return text;
}

// Built by appending: GCC 12 warns falsely (-Wrestrict) about a literal put
// before a temporary string with +.
std::string numbered(const char* before, uintptr_t number, const char* after = "") {
    std::string text = before;
    text += std::to_string(number);
    text += after;
    return text;
}

// "[1] ", the bot's handle in front of every line it caused.
std::string botPrefix(uint32_t handle) {
    return numbered("[", handle, "] ");
}

std::string targetName(Simulator& sim, uintptr_t ident) {
    if (SimPlayer* player = findPlayerByIdent(sim, static_cast<uint32_t>(ident)))
        if (ident <= UINT16_MAX) return printableName(player->record);
    return numbered("#", ident);
}

// "*setfreq N" sent privately to a player is the game's command to move him.
bool parseSetFreq(const char* text, uint16_t& freq) {
    static const char prefix[] = "*setfreq ";
    if (text == nullptr || std::strncmp(text, prefix, sizeof prefix - 1) != 0) return false;
    const std::string_view digits = text + sizeof prefix - 1;
    uint16_t value = 0;
    const auto read = std::from_chars(digits.data(), digits.data() + digits.size(), value);
    if (read.ec != std::errc() || read.ptr != digits.data() + digits.size()) return false;
    freq = value;
    return true;
}

void printSay(Simulator& sim, const BotEvent& event) {
    std::string prefix = botPrefix(event.handle);
    const char* text = reinterpret_cast<const char*>(event.slot[3]);
    std::string stray = straySlotsText(event, {1, 4});
    switch (event.slot[0]) {
    case PrivateMessage: {
        writeLine(sim, prefix + "to " + targetName(sim, event.slot[2]) + ": " +
                           slotText(event.slot[3]) + stray);
        uint16_t freq = 0;
        SimPlayer* player = findPlayerByIdent(sim, static_cast<uint32_t>(event.slot[2]));
        if (player && event.slot[2] <= UINT16_MAX && parseSetFreq(text, freq))
            sim.pending.push_back({event.handle, player->record.ident, freq});
        break;
    }
    case FreqMessage:
        writeLine(sim, prefix + "to freq " + std::to_string(event.slot[2]) + ": " +
                           slotText(event.slot[3]) + stray);
        break;
    default:
        writeLine(sim, prefix + "say mode=" + std::to_string(event.slot[0]) + " target=" +
                           std::to_string(event.slot[2]) + ": " + slotText(event.slot[3]) + stray);
        break;
    }
}

void callTalk(Simulator& sim, BotEvent event) {
    activeSimulator = &sim;
    sim.inTalk = true;
    sim.talk(event);
    sim.inTalk = false;
}

void carryOutPending(Simulator& sim) {
    int carried = 0;
    while (!sim.pending.empty()) {
        PendingFreqChange change = sim.pending.front();
        sim.pending.pop_front();
        if (++carried > maxFreqChangesPerEvent) {
            writeLine(sim, "  warning: more than " + std::to_string(maxFreqChangesPerEvent) +
                               " setfreq in a row; the rest are dropped");
            sim.pending.clear();
            return;
        }
        SimPlayer* player = findPlayerByIdent(sim, change.ident);
        if (player == nullptr) continue; // left the arena meanwhile
        std::string name = printableName(player->record);
        if (player->record.freq == change.freq) {
            // No change of freq, so the game sends no event.
            writeLine(sim, "  " + name + " stays on " + std::to_string(change.freq) + " (setfreq)");
            continue;
        }
        player->record.freq = change.freq;
        writeLine(sim, "  " + name + " -> " + std::to_string(change.freq) + " (setfreq)");
        BotEvent event{};
        event.handle = change.handle;
        event.code = PlayerFreqChange;
        event.slot[0] = reinterpret_cast<uintptr_t>(&player->record);
        if (sim.talk) callTalk(sim, event);
    }
}

void relinkPlayers(Simulator& sim) {
    PlayerNode* next = nullptr;
    for (auto it = sim.players.rbegin(); it != sim.players.rend(); ++it) {
        it->node.player = &it->record;
        it->node.next = next;
        next = &it->node;
    }
    sim.playerListHead = next;
}

} // namespace

extern "C" void hostCallback(BotEvent& event) {
    Simulator* sim = activeSimulator;
    if (sim == nullptr) return;
    std::string prefix = botPrefix(event.handle);
    switch (event.code) {
    case Echo:
        writeLine(*sim, prefix + "echo: " + slotText(event.slot[0]) +
                            straySlotsText(event, {1, 2, 3, 4}));
        break;
    case Say:
        printSay(*sim, event);
        break;
    default: {
        std::string line = prefix + "event code=" + std::to_string(event.code);
        for (int i = 0; i < 5; ++i)
            line += " slot" + std::to_string(i) + "=" + hex(event.slot[i]);
        writeLine(*sim, line);
        break;
    }
    }
}

void writeLine(Simulator& sim, std::string_view line) {
    std::fwrite(line.data(), 1, line.size(), sim.transcript);
    std::fputc('\n', sim.transcript);
}

void loadPlugin(Simulator& sim) {
    if (sim.library) return;
    std::string why;
    watchPluginLoad(sim.pluginPath);
    void* library = openPluginLibrary(sim.pluginPath, why);
    stopWatchingPluginLoad();
    if (library == nullptr)
        throw HostFailure("cannot load the plug-in " + sim.pluginPath + ": " + why);
    auto talk = reinterpret_cast<TalkFunction>(pluginSymbol(library, "talk"));
    if (talk == nullptr) {
        closePluginLibrary(library);
        throw HostFailure("the plug-in " + sim.pluginPath + " has no function talk");
    }
    if (!attachClocksToPlugin(library, why)) {
        closePluginLibrary(library);
        throw HostFailure(why);
    }
    sim.library = library;
    sim.talk = talk;
}

bool unloadPlugin(Simulator& sim) {
    if (sim.library == nullptr) return true;
    activeSimulator = &sim;
    closePluginLibrary(sim.library);
    sim.library = nullptr;
    sim.talk = nullptr;
    // Anything the plug-in asked for while unloading has nobody left to answer.
    sim.pending.clear();
    if (pluginStillLoaded(sim.pluginPath)) {
        writeLine(sim, "  warning: the plug-in is still in memory after unload; its state was "
                       "not reset");
        return false;
    }
    return true;
}

void deliver(Simulator& sim, BotEvent event) {
    loadPlugin(sim);
    callTalk(sim, event);
    carryOutPending(sim);
}

SimBot& botFor(Simulator& sim, uint32_t handle) {
    auto& slot = sim.bots[handle];
    if (!slot) {
        slot = std::make_unique<SimBot>();
        slot->handle = handle;
        slot->self.freq = 9999;
        slot->settings.freqLimit = defaultFreqLimit;
    }
    return *slot;
}

void noteConnect(SimBot& bot) {
    bot.everConnected = true;
    bot.settingsGiven = false;
}

void setPlayerName(PlayerRecord& record, std::string_view name) {
    std::memset(record.name, 0, sizeof record.name);
    std::memcpy(record.name, name.data(), std::min(name.size(), sizeof record.name));
}

void setPlayerSquad(PlayerRecord& record, std::string_view squad) {
    std::memset(record.squad, 0, sizeof record.squad);
    std::memcpy(record.squad, squad.data(), std::min(squad.size(), sizeof record.squad));
}

namespace {

std::string nameKey(const PlayerRecord& record) {
    std::string key(record.name, sizeof record.name);
    for (char& c : key)
        c = static_cast<char>(lowerAscii(static_cast<unsigned char>(c)));
    return key;
}

} // namespace

SimPlayer* findPlayerByName(Simulator& sim, std::string_view name) {
    PlayerRecord wanted{};
    setPlayerName(wanted, name);
    auto it = sim.byName.find(nameKey(wanted));
    return it == sim.byName.end() ? nullptr : it->second;
}

SimPlayer* findPlayerByIdent(Simulator& sim, uint32_t ident) {
    if (ident > UINT16_MAX) return nullptr;
    auto it = sim.byIdent.find(static_cast<uint16_t>(ident));
    return it == sim.byIdent.end() ? nullptr : it->second;
}

SimPlayer& addPlayer(Simulator& sim, std::string_view name) {
    // Idents are never 0 and never shared, even after 65535 players.
    if (sim.byIdent.size() >= UINT16_MAX)
        throw ScriptError(
            "no ident left: 65535 players are in the arena (\"quit NAME\" frees one)");
    while (sim.nextIdent == 0 || sim.byIdent.count(sim.nextIdent))
        ++sim.nextIdent;
    SimPlayer& player = sim.players.emplace_back();
    setPlayerName(player.record, name);
    player.record.ident = sim.nextIdent++;
    sim.byIdent[static_cast<uint16_t>(player.record.ident)] = &player;
    sim.byName.emplace(nameKey(player.record), &player);
    // Appended last: the list's order is the arena's.
    player.node.player = &player.record;
    player.node.next = nullptr;
    if (sim.players.size() == 1) {
        sim.playerListHead = &player.node;
    } else {
        std::prev(sim.players.end(), 2)->node.next = &player.node;
    }
    return player;
}

void removePlayer(Simulator& sim, SimPlayer& player) {
    sim.byIdent.erase(static_cast<uint16_t>(player.record.ident));
    sim.byName.erase(nameKey(player.record));
    for (auto it = sim.players.begin(); it != sim.players.end(); ++it) {
        if (&*it == &player) {
            sim.players.erase(it);
            break;
        }
    }
    relinkPlayers(sim);
}

std::string printableName(const PlayerRecord& record) {
    return escapedBytes(fieldText(record.name, sizeof record.name));
}
