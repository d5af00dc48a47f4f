// The built plug-in as the host sees it: loaded with dlopen, driven through
// talk, unloaded with dlclose, and loaded again with nothing of its old state
// left except the registry file.
#include <dlfcn.h>

#include <cstring>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_event.h"
#include "hostlink/host_interface.h"
#include "temp_dir.h"

namespace {

std::vector<std::string> received;

extern "C" {
static void recordLine(BotEvent& event) {
    uintptr_t text = event.code == Echo ? event.slot[0] : event.slot[3];
    received.push_back(std::to_string(event.handle) + ": " +
                       (text ? reinterpret_cast<const char*>(text) : "(null)"));
}
}

using Talk = void (*)(BotEvent&);

struct LoadedPlugin {
    void* library = nullptr;
    Talk talk = nullptr;

    LoadedPlugin() {
        library = dlopen(HADROK_PLUGIN_PATH, RTLD_NOW | RTLD_LOCAL);
        if (library) talk = reinterpret_cast<Talk>(dlsym(library, "talk"));
    }
    ~LoadedPlugin() { unload(); }

    void unload() {
        if (library) dlclose(library);
        library = nullptr;
        talk = nullptr;
    }
};

bool pluginInMemory() {
    void* library = dlopen(HADROK_PLUGIN_PATH, RTLD_NOW | RTLD_NOLOAD);
    if (library) dlclose(library);
    return library != nullptr;
}

struct PluginLoadTest : testing::Test {
    TempDir dir; // the plug-in reads freqs.ini and keeps its registry file here
    PlayerNode* head = nullptr;
    PlayerRecord bob{};
    PlayerNode bobNode{&bob, nullptr};
    ArenaSettingsRecord settings{};
    PlayerRecord self{};

    PluginLoadTest() {
        received.clear();
        bob.ident = 1;
        std::memcpy(bob.name, "Bob", 3);
        head = &bobNode;
        settings.freqLimit = 10000;
        self.freq = 9999;
        // A save on every tick shows whether a handle is still connected.
        TempDir::write("freqs.ini", "[Config]\nAutoSaveDelay=1\n");
    }

    void send(LoadedPlugin& plugin, uint32_t handle, uint32_t code, uintptr_t slot0 = 0,
              uintptr_t slot1 = 0, uintptr_t slot2 = 0) {
        BotEvent event = hostEvent(handle, code, slot0, slot1, slot2);
        plugin.talk(event);
    }

    void connect(LoadedPlugin& plugin, uint32_t handle, uint32_t version = 6u << 16) {
        send(plugin, handle, Connect, version, reinterpret_cast<uintptr_t>(&recordLine),
             reinterpret_cast<uintptr_t>(&head));
    }

    void enterArena(LoadedPlugin& plugin, uint32_t handle) {
        send(plugin, handle, ArenaSettings, reinterpret_cast<uintptr_t>(&settings));
        send(plugin, handle, ArenaEnter, 0, reinterpret_cast<uintptr_t>(&self));
    }

    void command(LoadedPlugin& plugin, uint32_t handle, const char* word, const char* argument) {
        CommandRecord record{};
        record.word = word;
        record.argument = argument;
        send(plugin, handle, Command, reinterpret_cast<uintptr_t>(&bob),
             reinterpret_cast<uintptr_t>(&record));
    }

    std::vector<std::string> take() { return std::exchange(received, {}); }
};

using Lines = std::vector<std::string>;

TEST_F(PluginLoadTest, ExportsTalkAndLeavesMemoryOnUnload) {
    LoadedPlugin plugin;
    ASSERT_NE(plugin.library, nullptr) << dlerror();
    ASSERT_NE(plugin.talk, nullptr);
    EXPECT_TRUE(pluginInMemory());
    plugin.unload();
    // Anything pinning the library (a unique symbol, a thread, a leaked
    // handle) would keep the old state alive into the next load.
    EXPECT_FALSE(pluginInMemory());
}

TEST_F(PluginLoadTest, ReloadStartsWithFreshBotInstances) {
    {
        LoadedPlugin plugin;
        ASSERT_NE(plugin.talk, nullptr);
        connect(plugin, 1);
        connect(plugin, 2, 7u << 16);
        connect(plugin, 2); // refused handles stay refused while loaded
        send(plugin, 1, Tick);
        EXPECT_EQ(take(), (Lines{"1: DLL plugin connected.",
                                 "2: DLL plugin cannot connect.  This plugin is out of date.",
                                 "1: AutoSave..."}));
    }
    ASSERT_FALSE(pluginInMemory());

    LoadedPlugin plugin;
    ASSERT_NE(plugin.talk, nullptr);
    // Handle 1 has no callback in the new library: its tick is silent.
    send(plugin, 1, Tick);
    EXPECT_EQ(take(), Lines{});
    // Handle 2 is no longer disabled.
    connect(plugin, 2);
    send(plugin, 2, Tick);
    EXPECT_EQ(take(), (Lines{"2: DLL plugin connected.", "2: AutoSave..."}));
}

TEST_F(PluginLoadTest, RegistryOutlivesTheReloadButInvitesDoNot) {
    PlayerRecord al{};
    al.ident = 2;
    std::memcpy(al.name, "Al", 2);
    PlayerNode alNode{&al, nullptr};
    bobNode.next = &alNode;
    {
        LoadedPlugin plugin;
        ASSERT_NE(plugin.talk, nullptr);
        connect(plugin, 1);
        enterArena(plugin, 1);
        command(plugin, 1, "freg", "500:pw");
        command(plugin, 1, "finv", "500:Al");
        al.freq = 500;
        send(plugin, 1, PlayerFreqChange, reinterpret_cast<uintptr_t>(&al));
        EXPECT_EQ(
            take(),
            (Lines{"1: DLL plugin connected.", "1: Freq registered",
                   "1: Bob invited you to freq 500. You have 30 seconds before the invite expires",
                   "1: Player invited"}));
    }
    ASSERT_FALSE(pluginInMemory());
    EXPECT_EQ(TempDir::read("Zandrel.teams").size(), 284u);

    LoadedPlugin plugin;
    ASSERT_NE(plugin.talk, nullptr);
    connect(plugin, 1);
    enterArena(plugin, 1);
    command(plugin, 1, "freg", "500:pw");
    al.freq = 500;
    send(plugin, 1, PlayerFreqChange, reinterpret_cast<uintptr_t>(&al));
    EXPECT_EQ(take(), (Lines{"1: DLL plugin connected.", "1: That freq is already registered",
                             "1: You are not allowed on that freq", "1: *setfreq 0"}));
}

} // namespace
