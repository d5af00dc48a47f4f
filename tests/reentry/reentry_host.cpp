// A bot host whose callback calls talk again before returning, as a host
// does that handles a queued command or another bot's tick while it sends a
// chat line. Each case plays its events either nested (the inner events are
// sent from inside the callback, at the reply line given) or after (the same
// events once the outer call has returned). The two must print the same
// lines and leave the same files.
//
//   reentry_host PLUGIN CASE nested|after
//
// The records an inner call receives are freed as soon as it returns, so a
// plug-in that kept them would read freed memory (the sanitizer build says
// so). The plug-in is hadrok_fake_clock.so: its clocks stand still from the
// start and move only by its advancePluginClock.
#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "hostlink/host_interface.h"

namespace {

using Talk = void (*)(BotEvent&);

// One event the host sends: a player's command, or a bare event of a bot.
struct Action {
    uint32_t handle = 1;
    uint32_t code = Command;
    std::string player; // empty: no player
    std::string word;
    std::string argument;
};

struct Player {
    PlayerRecord record{};
    PlayerNode node{};
};

Talk talk = nullptr;
void (*advancePluginClock)(int64_t milliseconds) = nullptr;
std::vector<std::unique_ptr<Player>> players;
PlayerNode* playerList = nullptr;
ArenaSettingsRecord settings{};
PlayerRecord self{};

bool nested = false;
int linesSeen = 0;
int triggerLine = 0; // the reply line at which the inner events go, 0: none
std::vector<Action> inner;

Player& addPlayer(const char* name, uint32_t level) {
    auto player = std::make_unique<Player>();
    player->record.ident = static_cast<uint16_t>(players.size() + 1);
    player->record.operatorLevel = level;
    std::memcpy(player->record.name, name, std::strlen(name));
    player->node.player = &player->record;
    player->node.next = playerList;
    playerList = &player->node;
    players.push_back(std::move(player));
    return *players.back();
}

const Player* playerNamed(const std::string& name) {
    for (const auto& player : players)
        if (name == player->record.name) return player.get();
    return nullptr;
}

void send(const Action& action);

extern "C" void callback(BotEvent& event) {
    const char* text =
        reinterpret_cast<const char*>(event.code == Echo ? event.slot[0] : event.slot[3]);
    if (event.code == Echo)
        std::printf("[%u] echo: %s\n", event.handle, text);
    else
        std::printf("[%u] say %u to %u: %s\n", event.handle, static_cast<unsigned>(event.slot[0]),
                    static_cast<unsigned>(event.slot[2]), text);
    if (++linesSeen != triggerLine || !nested) return;
    triggerLine = 0;
    for (const Action& action : inner)
        send(action);
}

// Sends one event with records of its own, freed when talk returns.
void send(const Action& action) {
    BotEvent event{};
    event.handle = action.handle;
    event.code = action.code;
    auto record = std::make_unique<PlayerRecord>();
    auto word = std::make_unique<std::string>(action.word);
    auto argument = std::make_unique<std::string>(action.argument);
    auto command = std::make_unique<CommandRecord>();
    command->word = word->c_str();
    command->argument = argument->c_str();
    if (action.code == Connect) {
        event.slot[0] = interfaceMajor << 16 | interfaceMinor;
        event.slot[1] = reinterpret_cast<uintptr_t>(&callback);
        event.slot[2] = reinterpret_cast<uintptr_t>(&playerList);
    } else if (action.code == ArenaSettings) {
        event.slot[0] = reinterpret_cast<uintptr_t>(&settings);
    } else if (action.code == ArenaEnter) {
        event.slot[1] = reinterpret_cast<uintptr_t>(&self);
    } else if (!action.player.empty()) {
        *record = playerNamed(action.player)->record;
        event.slot[0] = reinterpret_cast<uintptr_t>(record.get());
        event.slot[1] = reinterpret_cast<uintptr_t>(command.get());
    }
    talk(event);
}

// The outer event, with the inner ones at reply line `at`.
void sendWithInner(const Action& outer, int at, std::vector<Action> events) {
    inner = std::move(events);
    linesSeen = 0;
    triggerLine = at;
    send(outer);
    if (!nested)
        for (const Action& action : inner)
            send(action);
    inner.clear();
    triggerLine = 0;
}

Action command(const char* player, const char* word, const char* argument = "") {
    return Action{1, Command, player, word, argument};
}

void connectBot(uint32_t handle) {
    send(Action{handle, Connect, "", "", ""});
    send(Action{handle, ArenaEnter, "", "", ""});
    send(Action{handle, ArenaSettings, "", "", ""});
}

bool playCase(const std::string& name) {
    if (name == "listing-reset") {
        // An operator clears the registry while it is being listed.
        for (const char* freq : {"100:pw", "101:pw", "102:pw"})
            send(command("Bob", "freg", freq));
        sendWithInner(command("Op", "freqs"), 1, {command("Op", "freqreset")});
        send(command("Op", "freqs"));
    } else if (name == "listing-funreg") {
        // A freq is removed while the listing is on it; freqs removed before
        // left records behind that must never be listed.
        send(command("Bob", "freg", "100:pw"));
        send(command("Cy", "freg", "101:pw"));
        send(command("Zed", "freg", "501:pw"));
        send(command("Zed", "freg", "502:pw"));
        send(command("Zed", "funreg", "501"));
        send(command("Zed", "funreg", "502"));
        sendWithInner(command("Op", "freqs"), 1, {command("Bob", "funreg", "100")});
        send(command("Op", "freqs"));
    } else if (name == "listing-expiry") {
        // Another bot's tick saves and expires unused freqs during a listing.
        send(command("Bob", "freg", "100:pw"));
        send(command("Cy", "freg", "101:pw"));
        advancePluginClock(3LL * 86400 * 1000);
        sendWithInner(command("Op", "freqs"), 1, {Action{2, Tick, "", "", ""}});
        send(command("Op", "freqs"));
    } else if (name == "funreg-freg") {
        // During one removal's reply the same freq is removed again and
        // another player registers a freq.
        send(command("Bob", "freg", "100:pw"));
        send(command("Bob", "freg", "200:pw"));
        send(command("Bob", "funreg", "200"));
        sendWithInner(command("Bob", "funreg", "100"), 1,
                      {command("Bob", "funreg", "100"), command("Al", "freg", "200:pw")});
        send(command("Op", "freqs"));
    } else {
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: reentry_host PLUGIN CASE nested|after\n");
        return 2;
    }
    nested = std::string(argv[3]) == "nested";
    settings.freqLimit = 10000;
    self.freq = 9999;
    for (const char* name : {"Bob", "Cy", "Zed", "Al"})
        addPlayer(name, 0);
    addPlayer("Op", 2);
    std::ofstream("freqs.ini") << "[Config]\nMaxOwnedFreqs=5\nExpireUnusedDays=2\n"
                                  "AutoSaveDelay=1\n";

    void* library = dlopen(argv[1], RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        std::fprintf(stderr, "cannot load %s: %s\n", argv[1], dlerror());
        return 2;
    }
    talk = reinterpret_cast<Talk>(dlsym(library, "talk"));
    advancePluginClock = reinterpret_cast<void (*)(int64_t)>(dlsym(library, "advancePluginClock"));
    if (!talk || !advancePluginClock) {
        std::fprintf(stderr, "%s lacks talk or advancePluginClock\n", argv[1]);
        return 2;
    }
    connectBot(1);
    connectBot(2);
    bool known = playCase(argv[2]);
    std::fflush(stdout);
    // Unloading saves the registry.
    dlclose(library);
    if (!known) std::fprintf(stderr, "no case %s\n", argv[2]);
    return known ? 0 : 2;
}
