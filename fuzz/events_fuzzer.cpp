// Plays an input as a stream of host events for three bots over one registry
// (config 3 freqs, invites 2 s, autosave every 20 ticks; freq limit 10000).
// Each line is one event: an operation letter, a bot byte, a player byte, then
// the operation's own text:
//   c/h LEVEL WORD [ARGUMENT]  command / help request (LEVEL '0'..'?' = 0..14, max)
//   z   [WORD]                 command with a null argument (and null word if none)
//   f FREQ   change of freq    a   ArenaEnter (the player is the bot itself)
//   i [LIMIT] ArenaSettings    e   ArenaLeave     d   Disconnect
//   k [VERSION] Connect        m [N] N ticks (2000 an input)  b MS  clocks move
//   g MAX,EXPIRE,DELAY config  l CODE unknown code with junk slots
//   j KIND  a known code with every slot 0      r  library reload (save, load)
//   p KIND TEXT  edits the player: n name, s squad, a/b points, f freq (no event)
// Every line sent back must be a well-formed, zero-terminated message, and at
// the end the registry must save and load back byte for byte.
#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "plugin/event_handling.h"
#include "registry/registry_file.h"
#include "tests/fakes/fake_clock.h"
#include "tests/fakes/lone_registry_file.h"

namespace {

// Early 2026, placed so that the 32-bit millisecond tick counter wraps one
// minute into every input; the same count serves as wall time.
constexpr int64_t clockEpochMs = 1767225600000ll; // 2026-01-01 00:00:00 UTC
constexpr int64_t clockStartMs =
    clockEpochMs + ((1ll << 32) - 60000 - clockEpochMs % (1ll << 32)) % (1ll << 32);

constexpr uint32_t botCount = 3, playerCount = 6;

// HADROK_FUZZ_TRACE=1 shows what an input does, line by line.
bool tracing() {
    static const bool on = std::getenv("HADROK_FUZZ_TRACE");
    return on;
}

extern "C" void checkSent(BotEvent& e) {
    FUZZ_CHECK(e.handle >= 1 && e.handle <= botCount);
    FUZZ_CHECK(e.code == Echo || e.code == Say);
    const char* text = reinterpret_cast<const char*>(e.code == Echo ? e.slot[0] : e.slot[3]);
    FUZZ_CHECK(text && std::strlen(text) < 100000); // the read itself is checked by ASan
    if (tracing())
        std::fprintf(stderr, "bot %u %s %u: %s\n", e.handle, e.code == Echo ? "echo" : "say",
                     unsigned(e.slot[2]), text);
    if (e.code == Say)
        FUZZ_CHECK(e.slot[1] == 0 &&
                   ((e.slot[0] == PrivateMessage && e.slot[2] >= 1 && e.slot[2] <= playerCount) ||
                    (e.slot[0] == FreqMessage && e.slot[2] <= 0xFFFF)));
}

struct Arena {
    PlayerRecord players[playerCount];
    PlayerNode nodes[playerCount];
    PlayerNode* head;
    ArenaSettingsRecord settings[botCount];
    BotInstance bots[botCount];

    Arena() {
        const char* names[] = {"Alice", "Bob", "BOB", "carol", "TwentyCharactersLong", ""};
        const char* squads[] = {"Reds", "reds", "", "Blue", "Reds", "%sq%"};
        std::memset(players, 0, sizeof players);
        for (uint32_t i = 0; i < playerCount; ++i) {
            players[i].ident = uint16_t(i + 1);
            std::memcpy(players[i].name, names[i], std::strlen(names[i])); // 20: no zero
            std::strcpy(players[i].squad, squads[i]);
            players[i].pointsA = i * 0x40000000u;
            players[i].pointsB = 7;
            nodes[i] = {&players[i], i + 1 < playerCount ? &nodes[i + 1] : nullptr};
        }
        head = &nodes[0];
        // Bots 1 and 2 start as if connected and in an arena, without reading
        // freqs.ini (costly under the sanitizers); bot 3 starts as new.
        for (uint32_t b = 0; b < botCount; ++b) {
            std::memset(&settings[b], 0, sizeof settings[b]);
            settings[b].freqLimit = 10000;
            bots[b].handle = b + 1;
            if (b < 2) {
                bots[b].callback = checkSent;
                bots[b].playerList = &head;
                bots[b].arenaSettings = &settings[b];
                bots[b].iniConfig = {3, 2, 20};
                bots[b].autoSaveCountdown = 20;
            }
        }
    }
};

uint32_t ticksLeft = 0; // per input

uint32_t levelOf(char c) {
    uint32_t level = uint32_t(c - '0') & 15;
    return level == 15 ? 0xFFFFFFFFu : level;
}

void checkSavesAndLoadsBack(FreqRegistry& registry, FreqRegistry& loaded) {
    FUZZ_CHECK(saveRegistry(registry));
    std::string saved = readFile(registryFileName);
    FUZZ_CHECK(saved == registryImage(registry));
    FUZZ_CHECK(loadRegistry(loaded) && registryImage(loaded) == saved);
}

void play(Arena& arena, PluginState& state, std::string_view line) {
    FreqRegistry& registry = state.registry;
    if (line.size() < 3) return;
    uint32_t b = uint8_t(line[1]) % botCount;
    BotInstance& bot = arena.bots[b];
    PlayerRecord& player = arena.players[uint8_t(line[2]) % playerCount];
    std::string text(line.substr(3));
    uint32_t number = leadingNumber(text);
    size_t space = text.find(' ', 1);
    std::string word =
        text.substr(text.empty() ? 0 : 1, space == std::string::npos ? space : space - 1);
    std::string argument = space == std::string::npos ? "" : text.substr(space + 1);
    CommandRecord command{};
    BotEvent e{};
    e.handle = bot.handle;
    if (tracing())
        std::fprintf(stderr, "> %.*s  [clock %u, %u invites]\n", int(line.size()), line.data(),
                     unsigned(fakeMonotonicMs()), registry.invites.count());
    switch (line[0]) {
    case 'c':
    case 'h':
        if (text.empty()) return;
        player.operatorLevel = levelOf(text[0]);
        command.word = word.c_str();
        command.argument = argument.c_str();
        e.code = line[0] == 'c' ? Command : HelpRequest;
        e.slot[0] = reinterpret_cast<uintptr_t>(&player);
        e.slot[1] = reinterpret_cast<uintptr_t>(&command);
        break;
    case 'z':
        command.word = text.empty() ? nullptr : text.c_str();
        e.code = Command;
        e.slot[0] = reinterpret_cast<uintptr_t>(&player);
        e.slot[1] = reinterpret_cast<uintptr_t>(&command);
        break;
    case 'f':
        player.freq = uint16_t(number);
        e.code = PlayerFreqChange;
        e.slot[0] = reinterpret_cast<uintptr_t>(&player);
        break;
    case 'a':
        e.code = ArenaEnter;
        e.slot[1] = reinterpret_cast<uintptr_t>(&player);
        break;
    case 'i':
        if (!text.empty()) arena.settings[b].freqLimit = number;
        e.code = ArenaSettings;
        e.slot[0] = reinterpret_cast<uintptr_t>(&arena.settings[b]);
        break;
    case 'e':
        e.code = ArenaLeave;
        break;
    case 'd':
        e.code = Disconnect;
        break;
    case 'k':
        e.code = Connect;
        e.slot[0] = text.empty() ? interfaceMajor << 16 : number;
        e.slot[1] = reinterpret_cast<uintptr_t>(&checkSent);
        e.slot[2] = reinterpret_cast<uintptr_t>(&arena.head);
        break;
    case 'm': {
        // All but the last of the N ticks here, the last below. Every tick may
        // save (autosave delay 1), so an input gets a bounded number of them.
        uint32_t n = std::min(text.empty() ? 1 : number % 1000, ticksLeft);
        if (n == 0) return;
        ticksLeft -= n;
        e.code = Tick;
        for (; n > 1; --n)
            handleEvent(bot, state, e);
        break;
    }
    case 'b':
        advanceClock(number);
        return;
    case 'g': {
        size_t first = text.find(','), second = text.find(',', first + 1);
        bot.iniConfig.maxOwnedFreqs = number;
        bot.iniConfig.inviteExpireSeconds =
            first == std::string::npos ? 0
                                       : leadingNumber(std::string_view(text).substr(first + 1));
        bot.iniConfig.autoSaveDelay =
            second == std::string::npos ? 0
                                        : leadingNumber(std::string_view(text).substr(second + 1));
        return;
    }
    case 'l': {
        const uint32_t known[] = {Connect,    Disconnect,       Tick,    ArenaEnter, ArenaSettings,
                                  ArenaLeave, PlayerFreqChange, Command, HelpRequest};
        e.code = number;
        for (uint32_t k : known)
            if (e.code == k) e.code += 1000;
        for (uintptr_t& slot : e.slot)
            slot = uintptr_t(0xDEADBEEF); // a handler that reads these crashes
        break;
    }
    case 'j': {
        const uint32_t codes[] = {Connect,          ArenaEnter, ArenaSettings,
                                  PlayerFreqChange, Command,    HelpRequest};
        e.code = codes[number % 6];
        break;
    }
    case 'r': {
        FreqRegistry loaded;
        checkSavesAndLoadsBack(registry, loaded);
        registry = std::move(loaded); // invites do not survive a reload
        return;
    }
    case 'p':
        if (text.empty()) return;
        if (text[0] == 'n') {
            std::memset(player.name, 0, sizeof player.name);
            std::memcpy(player.name, text.data() + 1,
                        std::min(text.size() - 1, sizeof player.name));
        } else if (text[0] == 's') {
            std::memset(player.squad, 0, sizeof player.squad);
            std::memcpy(player.squad, text.data() + 1,
                        std::min(text.size() - 1, sizeof player.squad - 1));
        } else {
            uint32_t value = leadingNumber(std::string_view(text).substr(1));
            if (text[0] == 'a')
                player.pointsA = value;
            else if (text[0] == 'b')
                player.pointsB = value;
            else if (text[0] == 'f')
                player.freq = uint16_t(value);
        }
        return;
    default:
        return;
    }
    handleEvent(bot, state, e);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // Each input starts in an empty directory but for freqs.ini, so that a
    // finding replays alone as it ran.
    clearFakeFiles();
    writeFile("freqs.ini", "[Config]\nMaxOwnedFreqs=3\nInviteExpireSeconds=2\nAutoSaveDelay=20\n");
    startClock(clockStartMs, clockStartMs);
    ticksLeft = 2000;
    {
        Arena arena;
        PluginState state;
        openRegistryStore(state.store);
        loadRegistryFile(state.store, state.registry);
        FreqRegistry& registry = state.registry;
        std::string_view input(reinterpret_cast<const char*>(data), size);
        for (size_t start = 0; start <= input.size();) {
            size_t end = input.find('\n', start);
            if (end == std::string_view::npos) end = input.size();
            play(arena, state, input.substr(start, end - start));
            start = end + 1;
        }
        FreqRegistry loaded;
        checkSavesAndLoadsBack(registry, loaded);
        closeRegistryStore(state.store);
    }
    return 0;
}
