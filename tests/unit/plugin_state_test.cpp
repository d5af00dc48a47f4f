// The plug-in's process state from load to unload, driven as talk drives it:
// which reading of freqs.ini the save at unload goes by, and what becomes of
// an event that fails.
#include <cstring>
#include <filesystem>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_host.h"
#include "host_event.h"
#include "plugin/event_handling.h"
#include "plugin/plugin_state.h"

namespace {

constexpr uint32_t currentInterface = 6u << 16;
constexpr uint32_t newerInterface = 7u << 16;

struct Session {
    PluginState state;
    PlayerRecord bob{};
    PlayerNode bobNode{&bob, nullptr};
    PlayerNode* head = &bobNode;
    ArenaSettingsRecord arena{};
    PlayerRecord self{};
    HostCallback callback;

    explicit Session(HostCallback callback = recordHostEvent) : callback(callback) {
        arena.freqLimit = 10000;
        self.freq = 9999;
        bob.ident = 1;
        std::memcpy(bob.name, "Bob", 3);
        startPlugin(state);
    }
    ~Session() { stopPlugin(state); }

    void call(BotEvent event) { hostCall(state, event); }
    void connect(uint32_t handle, uint32_t version = currentInterface) {
        call(hostEvent(handle, Connect, version, reinterpret_cast<uintptr_t>(callback),
                       reinterpret_cast<uintptr_t>(&head)));
        call(hostEvent(handle, ArenaSettings, reinterpret_cast<uintptr_t>(&arena)));
        call(hostEvent(handle, ArenaEnter, 0, reinterpret_cast<uintptr_t>(&self)));
    }
    void command(uint32_t handle, const char* word, const char* argument) {
        CommandRecord record{};
        record.word = word;
        record.argument = argument;
        call(hostEvent(handle, Command, reinterpret_cast<uintptr_t>(&bob),
                       reinterpret_cast<uintptr_t>(&record)));
    }
};

std::vector<std::string> datedBackups() {
    std::vector<std::string> found;
    for (const auto& entry : std::filesystem::directory_iterator("."))
        if (const std::string name = entry.path().filename().string();
            name.rfind("Zandrel.teams.20", 0) == 0)
            found.push_back(name);
    return found;
}

// No bot is left at unload, so its save goes by the settings read last:
// at the first call (the load's sweep) until a bot connects, then at each
// connection.
TEST(PluginStateSettings, UnloadSaveKeepsBackupsAsLastRead) {
    struct Case {
        const char* what;
        const char* iniAtLoad;
        uint32_t firstVersion; // the first bot's connection
        // Then freqs.ini becomes this and a second bot connects; null: a
        // second bot is refused, reading nothing.
        const char* iniLater;
        bool backupExpected;
    } cases[] = {
        {"refused connection", "Backups=0", newerInterface, nullptr, false},
        {"accepted connection", "Backups=0", currentInterface, nullptr, false},
        {"accepted, backups on", "Backups=2", currentInterface, nullptr, true},
        {"second bot turns them on", "Backups=0", currentInterface, "Backups=2", true},
        {"second bot turns them off", "Backups=2", currentInterface, "Backups=0", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TempDir dir;
        TempDir::write("freqs.ini", "[Config]\nBackups=0\n");
        {
            Session first; // leaves one freq in the registry file, no backup
            first.connect(9);
            first.command(9, "freg", "100:pw");
        }
        ASSERT_EQ(TempDir::read("Zandrel.teams").size(), 284u);
        ASSERT_EQ(datedBackups(), std::vector<std::string>{});

        TempDir::write("freqs.ini", std::string("[Config]\n") + c.iniAtLoad + "\n");
        {
            Session session;
            session.connect(1, c.firstVersion);
            if (c.iniLater) {
                TempDir::write("freqs.ini", std::string("[Config]\n") + c.iniLater + "\n");
                session.connect(2);
            } else {
                session.connect(2, newerInterface);
            }
        }
        EXPECT_EQ(datedBackups().size(), c.backupExpected ? 1u : 0u);
        sentLines().clear();
    }
}

// A host whose private messages fail while `failing` names a reason: the
// plug-in's reply to a command throws out of the callback.
std::string failing;
std::vector<std::string> hostLines;

void failingHost(BotEvent& event) {
    if (event.code != Echo && !failing.empty()) throw std::runtime_error(failing);
    const uintptr_t text = event.code == Echo ? event.slot[0] : event.slot[3];
    hostLines.push_back((event.code == Echo ? "echo: " : "private: ") +
                        std::string(reinterpret_cast<const char*>(text)));
}

// Each kind of failure is told to the bot's operator and logged once; the
// events after a failed one are handled as usual.
TEST(PluginStateCalls, FailedEventToldOncePerKindAndTheNextHandled) {
    TempDir dir;
    TempDir::write("freqs.ini", "[Config]\nMaxOwnedFreqs=10\n");
    Session session(failingHost);
    session.connect(1);
    struct Step {
        const char* failure; // what the host's callback throws; empty: nothing
        const char* freq;
        std::vector<std::string> told;
    } steps[] = {
        {"host broke",
         "100:pw",
         {"echo: An event could not be handled (host broke); the plug-in goes on with the next "
          "one."}},
        {"host broke", "101:pw", {}},
        {"out of paper",
         "102:pw",
         {"echo: An event could not be handled (out of paper); the plug-in goes on with the "
          "next one."}},
        {"", "103:pw", {"private: Freq registered"}},
        {"host broke", "104:pw", {}},
    };
    hostLines.clear();
    for (const Step& step : steps) {
        SCOPED_TRACE(step.freq);
        failing = step.failure;
        session.command(1, "freg", step.freq);
        EXPECT_EQ(std::exchange(hostLines, {}), step.told);
    }
    failing.clear();
    std::istringstream log(TempDir::read("hadrok.log"));
    std::vector<std::string> notHandled;
    for (std::string line; std::getline(log, line);)
        if (line.find(" event: ") != std::string::npos) notHandled.push_back(line.substr(20));
    EXPECT_EQ(notHandled, (std::vector<std::string>{"bot=1 event: not handled: host broke",
                                                    "bot=1 event: not handled: out of paper"}));
}

} // namespace
