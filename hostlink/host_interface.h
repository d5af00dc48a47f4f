// The records exchanged with the bot host. On a 32-bit build every slot is a
// 32-bit word and the layout is the host's exactly; a host of another word
// size keeps the same order with pointer-sized slots.
#pragma once

#include <cstddef>
#include <cstdint>

struct BotEvent {
    uint32_t handle;
    uint32_t code;
    uintptr_t slot[5];
};

extern "C" {
typedef void (*HostCallback)(BotEvent& event);
}

enum HostEventCode : uint32_t {
    Connect = 0,
    Disconnect = 1,
    Tick = 2,
    ArenaEnter = 3,
    ArenaSettings = 4,
    ArenaLeave = 5,
    PlayerFreqChange = 17,
    Command = 20,
    HelpRequest = 21,
};

enum PluginEventCode : uint32_t {
    Echo = 0,
    Say = 1,
};

enum SayMode : uint32_t {
    FreqMessage = 4,
    PrivateMessage = 5,
};

// The host's record of one player. It holds no pointers, so its byte offsets
// are the same on every word size; bytes the plug-in does not read are padding.
struct PlayerRecord {
    uint16_t ident;
    uint8_t unused0[2];
    uint32_t operatorLevel;
    uint8_t unused1[13];
    char name[20];   // not necessarily zero-terminated: never read past 20 bytes
    char squad[175]; // read up to byte 215 at most
    uint16_t freq;
    uint8_t unused2[2];
    uint32_t pointsA;
    uint32_t pointsB;
};

constexpr size_t playerNameWidth = sizeof(PlayerRecord::name);
constexpr size_t playerSquadWidth = sizeof(PlayerRecord::squad);

static_assert(offsetof(PlayerRecord, ident) == 0);
static_assert(offsetof(PlayerRecord, operatorLevel) == 4);
static_assert(offsetof(PlayerRecord, name) == 21);
static_assert(offsetof(PlayerRecord, squad) == 41);
static_assert(offsetof(PlayerRecord, freq) == 216);
static_assert(offsetof(PlayerRecord, pointsA) == 220);
static_assert(offsetof(PlayerRecord, pointsB) == 224);
static_assert(sizeof(PlayerRecord) == 228);

struct PlayerNode {
    PlayerRecord* player;
    PlayerNode* next;
};

struct ArenaSettingsRecord {
    uint8_t unused[1184];
    uint32_t freqLimit;
};
static_assert(offsetof(ArenaSettingsRecord, freqLimit) == 1184);

struct CommandRecord {
    void* unused[4];
    const char* word;
    const char* argument;
};
static_assert(offsetof(CommandRecord, word) == 4 * sizeof(void*));
static_assert(offsetof(CommandRecord, argument) == 5 * sizeof(void*));

#if UINTPTR_MAX == 0xFFFFFFFFu
// The host's own 32-bit layout.
static_assert(sizeof(BotEvent) == 28);
static_assert(offsetof(BotEvent, slot) == 8);
static_assert(offsetof(CommandRecord, word) == 16);
static_assert(offsetof(CommandRecord, argument) == 20);
static_assert(sizeof(PlayerNode) == 8);
#else
static_assert(sizeof(BotEvent) == 48);
static_assert(offsetof(CommandRecord, word) == 32);
static_assert(offsetof(CommandRecord, argument) == 40);
#endif

// The interface version this plug-in speaks: 6.0.
constexpr uint32_t interfaceMajor = 6;
constexpr uint32_t interfaceMinor = 0;
