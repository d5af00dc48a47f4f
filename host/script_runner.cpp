#include "host/script_runner.h"

#include <array>
#include <charconv>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "cli/program_commands.h"
#include "host/script_files.h"
#include "host/script_text.h"
#include "system/script_clock.h"

namespace {

using Tokens = std::vector<std::string_view>;

// The key=value options a kind of line takes, in the order its messages list
// them; unused places stay empty.
using OptionNames = std::array<std::string_view, 8>;

// A word of the script in an error: escaped as the simulator shows every
// byte, so that what the script holds never reaches the terminal raw.
std::string quoted(std::string_view text) {
    return escapedBytes(text, {.inQuotes = true});
}

uint64_t parseNumber(std::string_view text, uint64_t max, std::string_view what,
                     bool allowHex = false) {
    const bool isHex =
        allowHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    const std::string_view digits = isHex ? text.substr(2) : text;
    uint64_t value = 0;
    const auto read =
        std::from_chars(digits.data(), digits.data() + digits.size(), value, isHex ? 16 : 10);
    if (read.ec != std::errc() || read.ptr != digits.data() + digits.size() || value > max)
        throw ScriptError(std::string(what) + " must be a number from 0 to " + std::to_string(max) +
                          ", not " + quoted(text));
    return value;
}

// key=value options after the positional words of a line. Values keep their
// escapes and quotes until the handler decodes them.
struct Options {
    std::map<std::string, std::string_view, std::less<>> values;

    bool has(std::string_view key) const { return values.count(key) != 0; }
    std::string_view raw(std::string_view key) const { return values.find(key)->second; }
    std::string text(std::string_view key) const { return decodeText(raw(key), true); }
    uint64_t number(std::string_view key, uint64_t max, bool allowHex = false) const {
        return parseNumber(raw(key), max, key, allowHex);
    }
};

bool isKeyStart(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

Options parseOptions(const Tokens& tokens, size_t first, std::string_view keyword,
                     const OptionNames& names) {
    std::vector<std::string_view> allowed;
    for (std::string_view name : names)
        if (!name.empty()) allowed.push_back(name);
    Options options;
    for (size_t i = first; i < tokens.size(); ++i) {
        std::string_view token = tokens[i];
        size_t equals = token.find('=');
        std::string_view key = token.substr(0, equals);
        bool known = equals != std::string_view::npos && !key.empty() && isKeyStart(key[0]);
        if (known) {
            known = false;
            for (std::string_view name : allowed)
                known = known || name == key;
        }
        if (!known) {
            std::string list;
            for (std::string_view name : allowed)
                list += (list.empty() ? "" : ", ") + std::string(name) + "=";
            throw ScriptError(
                std::string(keyword) + ": unexpected " + quoted(token) +
                (allowed.size() ? " (options: " + list + ")" : " (takes no options)"));
        }
        if (options.has(key))
            throw ScriptError(std::string(keyword) + ": " + std::string(key) + "= given twice");
        options.values.emplace(std::string(key), token.substr(equals + 1));
    }
    return options;
}

SimBot& currentBot(Simulator& sim) {
    if (!sim.currentBot) throw ScriptError("no bot yet: start with \"connect N\" or \"bot N\"");
    return botFor(sim, *sim.currentBot);
}

// A bot that a line names by its handle: one that never connected can't be
// told anything, so naming it is a mistake in the script.
SimBot& connectedBot(Simulator& sim, uint32_t handle) {
    SimBot& bot = botFor(sim, handle);
    if (!bot.everConnected) {
        std::string n = std::to_string(handle);
        throw ScriptError("bot " + n + " never connected (start it with \"connect " + n + "\")");
    }
    return bot;
}

BotEvent eventFor(uint32_t handle, uint32_t code) {
    BotEvent event{};
    event.handle = handle;
    event.code = code;
    return event;
}

SimPlayer& playerNamed(Simulator& sim, const std::string& name) {
    SimPlayer* player = findPlayerByName(sim, name);
    if (!player)
        throw ScriptError("no player " + quoted(name) +
                          " in the arena (add him with \"player NAME\")");
    return *player;
}

uint32_t parseVersion(std::string_view text) {
    size_t dot = text.find('.');
    if (dot == std::string_view::npos)
        return static_cast<uint32_t>(parseNumber(text, UINT32_MAX, "version", true));
    uint64_t major = parseNumber(text.substr(0, dot), UINT16_MAX, "version major");
    uint64_t minor = parseNumber(text.substr(dot + 1), UINT16_MAX, "version minor");
    return static_cast<uint32_t>(major << 16 | minor);
}

// One "tick" line's most ticks: a million calls take well under a minute,
// even when every one autosaves an unchanged registry.
constexpr uint64_t maxTicksPerLine = 1000000;
// How far all "advance" lines together may move the clocks: a century.
constexpr int64_t maxClockLead = 36500 * 86400000000000;

int64_t parseDuration(std::string_view text) {
    static const struct {
        std::string_view unit;
        int64_t nanoseconds;
    } units[] = {{"ms", 1000000},
                 {"s", 1000000000},
                 {"m", 60000000000},
                 {"h", 3600000000000},
                 {"d", 86400000000000}};
    constexpr int64_t limit = maxClockLead;
    if (text.empty()) throw ScriptError("usage: advance DURATION, e.g. advance 31s or 1m30s");
    int64_t total = 0;
    size_t i = 0;
    while (i < text.size()) {
        size_t start = i;
        while (i < text.size() && text[i] >= '0' && text[i] <= '9')
            ++i;
        size_t unitStart = i;
        while (i < text.size() && !(text[i] >= '0' && text[i] <= '9'))
            ++i;
        std::string_view number = text.substr(start, unitStart - start);
        std::string_view unit = text.substr(unitStart, i - unitStart);
        int64_t scale = 0;
        for (const auto& known : units)
            if (known.unit == unit) scale = known.nanoseconds;
        if (number.empty() || scale == 0)
            throw ScriptError("advance: " + quoted(text) +
                              " is not a duration (a number and a unit: ms, s, m, h, d)");
        uint64_t amount = parseNumber(number, static_cast<uint64_t>(limit / scale), "advance");
        total += static_cast<int64_t>(amount) * scale;
        if (total > limit) throw ScriptError("advance: more than a century at once");
    }
    return total;
}

// Lines that write files never do beside a running host: its settings and
// registry are live.
void refuseBesideHost(const Simulator& sim, const char* keyword) {
    if (sim.hostRunsHere)
        throw ScriptError(std::string(keyword) +
                          ": refused: another host process uses this folder (Zandrel.teams.lock "
                          "is locked), so no script line writes its files");
}

void writeIni(std::string_view contents, bool append) {
    std::ofstream file("freqs.ini", append ? std::ios::binary | std::ios::app
                                           : std::ios::binary | std::ios::trunc);
    file << contents;
    file.close();
    if (!file) throw HostFailure("cannot write freqs.ini in the current directory");
}

struct LineKind;

// One script line as its handler sees it.
struct Line {
    std::string_view text; // without the blanks around it
    Tokens tokens;         // for a keyword line, tokens[0] is the keyword
    const LineKind& kind;

    Options options() const;
    // The raw text after the keyword, for lines that take the rest as one text.
    std::string_view rest() const { return trimBlanks(text.substr(tokens[0].size())); }
};

// How a line is recognised: by its first word, or by its shape when no
// keyword matches.
enum class Match { Keyword, Chat, FreqChange };

// Where a kind of line appears in the help text.
enum class Listed { Own, WithPrevious, No };

constexpr size_t manyWords = SIZE_MAX;

// One kind of script line: how it is recognised, its argument form, what it
// does and its entry in the help. Parsing and the help text both walk the
// table below, so they can't drift apart.
struct LineKind {
    Match match = Match::Keyword;
    std::string_view usage{};     // the form that usage errors quote; starts with the keyword
    std::string_view shownForm{}; // the help's form, when it differs from usage
    size_t minWords = 0;          // words after the keyword; options come after these
    size_t maxWords = 0;          // manyWords: any number
    bool restIsText = false;      // the words after the keyword are one raw text
    OptionNames options{};
    LineResult (*run)(Simulator&, const Line&) = nullptr;
    std::string_view help{}; // lines after the first are continuation lines
    Listed listed = Listed::Own;

    std::string_view keyword() const { return usage.substr(0, usage.find(' ')); }
};

Options Line::options() const {
    return parseOptions(tokens, 1 + kind.minWords, kind.keyword(), kind.options);
}

uint32_t handleWord(std::string_view text) {
    return static_cast<uint32_t>(parseNumber(text, UINT32_MAX, "bot handle"));
}

BotEvent playerEvent(const SimBot& bot, uint32_t code, SimPlayer& player) {
    BotEvent event = eventFor(bot.handle, code);
    event.slot[0] = reinterpret_cast<uintptr_t>(&player.record);
    return event;
}

LineResult runLoad(Simulator& sim, const Line&) {
    loadPlugin(sim);
    return LineResult::Continue;
}

LineResult runUnload(Simulator& sim, const Line&) {
    unloadPlugin(sim);
    return LineResult::Continue;
}

LineResult runConnect(Simulator& sim, const Line& line) {
    uint32_t handle = handleWord(line.tokens[1]);
    Options options = line.options();
    uint32_t version = options.has("version") ? parseVersion(options.raw("version"))
                                              : (interfaceMajor << 16 | interfaceMinor);
    sim.currentBot = handle;
    SimBot& bot = botFor(sim, handle);
    BotEvent event = eventFor(handle, Connect);
    event.slot[0] = version;
    event.slot[1] = reinterpret_cast<uintptr_t>(&hostCallback);
    event.slot[2] = reinterpret_cast<uintptr_t>(&sim.playerListHead);
    noteConnect(bot);
    deliver(sim, event);
    return LineResult::Continue;
}

LineResult runDisconnect(Simulator& sim, const Line& line) {
    uint32_t handle = line.tokens.size() == 2 ? connectedBot(sim, handleWord(line.tokens[1])).handle
                                              : currentBot(sim).handle;
    deliver(sim, eventFor(handle, Disconnect));
    return LineResult::Continue;
}

LineResult runBot(Simulator& sim, const Line& line) {
    sim.currentBot = connectedBot(sim, handleWord(line.tokens[1])).handle;
    return LineResult::Continue;
}

void sendSettings(Simulator& sim, SimBot& bot) {
    BotEvent event = eventFor(bot.handle, ArenaSettings);
    event.slot[0] = reinterpret_cast<uintptr_t>(&bot.settings);
    deliver(sim, event);
}

LineResult runSettings(Simulator& sim, const Line& line) {
    SimBot& bot = currentBot(sim);
    Options options = line.options();
    if (options.has("freqLimit"))
        bot.settings.freqLimit = static_cast<uint32_t>(options.number("freqLimit", UINT32_MAX));
    bot.settingsGiven = true;
    sendSettings(sim, bot);
    return LineResult::Continue;
}

// The host sends the arena's settings once the bot is in the arena; a script
// that wants other settings says so with "settings" before "enter".
LineResult runEnter(Simulator& sim, const Line& line) {
    SimBot& bot = currentBot(sim);
    Options options = line.options();
    if (options.has("freq"))
        bot.self.freq = static_cast<uint16_t>(options.number("freq", UINT16_MAX));
    BotEvent event = eventFor(bot.handle, ArenaEnter);
    event.slot[1] = reinterpret_cast<uintptr_t>(&bot.self);
    deliver(sim, event);
    if (!bot.settingsGiven) sendSettings(sim, bot);
    return LineResult::Continue;
}

LineResult runLeave(Simulator& sim, const Line&) {
    deliver(sim, eventFor(currentBot(sim).handle, ArenaLeave));
    return LineResult::Continue;
}

LineResult runPlayer(Simulator& sim, const Line& line) {
    std::string name = decodeText(line.tokens[1], true);
    Options options = line.options();
    if (findPlayerByName(sim, name))
        throw ScriptError("player " + quoted(name) + " is already in the arena");
    // Check every value before the player appears.
    std::string squad = options.has("squad") ? options.text("squad") : std::string();
    uint32_t points = options.has("points") ? options.number("points", UINT32_MAX) : 0;
    uint32_t pointsB = options.has("pointsB") ? options.number("pointsB", UINT32_MAX) : 0;
    uint32_t level = options.has("level") ? options.number("level", UINT32_MAX) : 0;
    uint16_t freq = options.has("freq") ? options.number("freq", UINT16_MAX) : 0;
    SimPlayer& player = addPlayer(sim, name);
    setPlayerSquad(player.record, squad);
    player.record.pointsA = points;
    player.record.pointsB = pointsB;
    player.record.operatorLevel = level;
    player.record.freq = freq;
    return LineResult::Continue;
}

LineResult runQuit(Simulator& sim, const Line& line) {
    removePlayer(sim, playerNamed(sim, decodeText(line.rest(), true)));
    return LineResult::Continue;
}

// "NAME: !word argument" or "NAME: !help topic".
LineResult runChat(Simulator& sim, const Line& line) {
    size_t colon = findUnquoted(line.text, ':');
    std::string name = decodeText(trimBlanks(line.text.substr(0, colon)), true);
    std::string_view said = trimBlanks(line.text.substr(colon + 1));
    if (said.empty() || said[0] != '!')
        throw ScriptError("the plug-in hears only commands: write NAME: !word argument");
    said.remove_prefix(1);
    size_t blank = findBlank(said);
    std::string word = decodeText(said.substr(0, blank), false);
    // The argument is everything after the one blank that ends the word, as is.
    std::string argument =
        blank == std::string_view::npos ? std::string() : decodeText(said.substr(blank + 1), false);
    SimBot& bot = currentBot(sim);
    SimPlayer& player = playerNamed(sim, name);

    bool help = word.size() == 4;
    for (size_t i = 0; help && i < 4; ++i)
        help = (word[i] | 0x20) == "help"[i];
    CommandRecord command{};
    command.word = word.c_str();
    command.argument = argument.c_str();
    BotEvent event = playerEvent(bot, help ? HelpRequest : Command, player);
    event.slot[1] = reinterpret_cast<uintptr_t>(&command);
    deliver(sim, event);
    return LineResult::Continue;
}

// "NAME -> F"
LineResult runFreqChange(Simulator& sim, const Line& line) {
    std::string_view arrowToken = line.tokens[line.tokens.size() - 2];
    size_t arrow = static_cast<size_t>(arrowToken.data() - line.text.data());
    SimBot& bot = currentBot(sim);
    SimPlayer& player = playerNamed(sim, decodeText(trimBlanks(line.text.substr(0, arrow)), true));
    player.record.freq = static_cast<uint16_t>(parseNumber(line.tokens.back(), UINT16_MAX, "freq"));
    deliver(sim, playerEvent(bot, PlayerFreqChange, player));
    return LineResult::Continue;
}

LineResult runTick(Simulator& sim, const Line& line) {
    const Tokens& tokens = line.tokens;
    uint64_t count = tokens.size() == 2 ? parseNumber(tokens[1], maxTicksPerLine, "tick count") : 1;
    uint32_t handle = currentBot(sim).handle;
    for (uint64_t i = 0; i < count; ++i)
        deliver(sim, eventFor(handle, Tick));
    return LineResult::Continue;
}

LineResult runAdvance(Simulator&, const Line& line) {
    int64_t nanoseconds = parseDuration(line.tokens[1]);
    // The plug-in keeps its times in 32-bit seconds; clocks moved further
    // than this would only show it dates it can't hold.
    if (nanoseconds > maxClockLead - clockOffset())
        throw ScriptError("advance: the clocks would be more than a century ahead in all");
    advanceClocks(nanoseconds);
    return LineResult::Continue;
}

LineResult runIni(Simulator& sim, const Line& line) {
    refuseBesideHost(sim, "ini");
    std::string contents = "[Config]\n";
    for (size_t i = 1; i < line.tokens.size(); ++i) {
        std::string_view pair = line.tokens[i];
        size_t equals = findUnquoted(pair, '=');
        if (equals == std::string_view::npos || equals == 0)
            throw ScriptError("ini: expected Key=Value, not " + quoted(pair));
        contents += decodeText(pair.substr(0, equals), true) + "=" +
                    decodeText(pair.substr(equals + 1), true) + "\n";
    }
    writeIni(contents, false);
    return LineResult::Continue;
}

LineResult runIniRaw(Simulator& sim, const Line& line) {
    refuseBesideHost(sim, "ini-raw");
    writeIni(decodeText(line.rest(), false) + "\n", true);
    return LineResult::Continue;
}

LineResult runIniDelete(Simulator& sim, const Line&) {
    refuseBesideHost(sim, "ini-delete");
    std::remove("freqs.ini");
    return LineResult::Continue;
}

LineResult runShowLine(Simulator& sim, const Line& line) {
    runShow(sim, decodeText(line.tokens[1], true));
    return LineResult::Continue;
}

LineResult runFilesLine(Simulator& sim, const Line& line) {
    runFiles(sim, decodeText(line.tokens[1], true));
    return LineResult::Continue;
}

LineResult runCopyLine(Simulator& sim, const Line& line) {
    refuseBesideHost(sim, "copy");
    runCopy(decodeText(line.tokens[1], true), decodeText(line.tokens[2], true));
    return LineResult::Continue;
}

// The program's own commands at the script's time ("tool teams list" runs
// what "hadrok teams list" does). Only while no plug-in is
// loaded: a tool takes the registry's lock, and one process holding it twice
// would let the tool's release drop the plug-in's.
LineResult runProgramLine(Simulator& sim, const Line& line) {
    refuseBesideHost(sim, "tool");
    if (sim.library)
        throw ScriptError("tool: refused while the plug-in is loaded (\"unload\" first), "
                          "as it holds the registry's lock");
    const ProgramCommands commands = programCommands();
    if (!commands) throw ScriptError("tool: this program runs no commands from a script");
    std::vector<std::string> words;
    for (size_t i = 1; i < line.tokens.size(); ++i)
        words.push_back(decodeText(line.tokens[i], true));
    std::fflush(sim.transcript);
    const int status = commands(words);
    if (status != 0) std::fprintf(sim.transcript, "(exit status %d)\n", status);
    return LineResult::Continue;
}

// What the plug-in reads through a slot of an event: a record it follows, or
// nothing it dereferences.
enum class SlotKind { Value, Callback, Players, Player, Settings, Command };

SlotKind slotKind(uint32_t code, int slot) {
    switch (code) {
    case Connect:
        return slot == 1 ? SlotKind::Callback : slot == 2 ? SlotKind::Players : SlotKind::Value;
    case ArenaEnter:
        return slot == 1 ? SlotKind::Player : SlotKind::Value;
    case ArenaSettings:
        return slot == 0 ? SlotKind::Settings : SlotKind::Value;
    case PlayerFreqChange:
        return slot == 0 ? SlotKind::Player : SlotKind::Value;
    case Command:
    case HelpRequest:
        return slot == 0 ? SlotKind::Player : slot == 1 ? SlotKind::Command : SlotKind::Value;
    default:
        return SlotKind::Value;
    }
}

// The names a slot of this kind takes, for the error.
std::string_view slotNames(SlotKind kind) {
    switch (kind) {
    case SlotKind::Callback:
        return "null or callback";
    case SlotKind::Players:
        return "null or players";
    case SlotKind::Player:
        return "null, self or player:NAME";
    case SlotKind::Settings:
        return "null or settings";
    case SlotKind::Command:
        return "null or command";
    case SlotKind::Value:
        break;
    }
    return "anything";
}

SlotKind namedKind(std::string_view raw) {
    if (raw == "self" || raw.substr(0, 7) == "player:") return SlotKind::Player;
    if (raw == "settings") return SlotKind::Settings;
    if (raw == "callback") return SlotKind::Callback;
    if (raw == "players") return SlotKind::Players;
    if (raw == "command") return SlotKind::Command;
    return SlotKind::Value;
}

// A slot the plug-in follows must point at a record of the kind it reads
// there, or the plug-in reads outside it or jumps anywhere.
void checkSlot(const Simulator& sim, uint32_t code, int slot, std::string_view raw,
               uintptr_t value) {
    SlotKind wanted = slotKind(code, slot);
    if (wanted == SlotKind::Value || raw == "null") return;
    SlotKind given = namedKind(raw);
    if (given == wanted) return;
    if (given == SlotKind::Value && (value == 0 || sim.rawPointerSlots)) return;
    std::string name = "slot" + std::to_string(slot);
    throw ScriptError("event: the plug-in reads " + name + " of event " + std::to_string(code) +
                      " as a pointer: " + name + "= takes " + std::string(slotNames(wanted)) +
                      (given == SlotKind::Value ? " (run --raw-pointer-slots allows a number "
                                                  "there, and the plug-in may crash)"
                                                : ""));
}

uintptr_t slotValue(Simulator& sim, SimBot& bot, std::string_view raw, CommandRecord& command) {
    if (raw == "null") return 0;
    if (raw == "self") return reinterpret_cast<uintptr_t>(&bot.self);
    if (raw == "settings") return reinterpret_cast<uintptr_t>(&bot.settings);
    if (raw == "callback") return reinterpret_cast<uintptr_t>(&hostCallback);
    if (raw == "players") return reinterpret_cast<uintptr_t>(&sim.playerListHead);
    if (raw == "command") return reinterpret_cast<uintptr_t>(&command);
    if (raw.substr(0, 7) == "player:")
        return reinterpret_cast<uintptr_t>(
            &playerNamed(sim, decodeText(raw.substr(7), true)).record);
    return static_cast<uintptr_t>(parseNumber(raw, UINTPTR_MAX, "slot value", true));
}

LineResult runEvent(Simulator& sim, const Line& line) {
    uint32_t code =
        static_cast<uint32_t>(parseNumber(line.tokens[1], UINT32_MAX, "event code", true));
    Options options = line.options();
    uint32_t handle = 0;
    if (options.has("handle")) {
        handle = static_cast<uint32_t>(options.number("handle", UINT32_MAX, true));
    } else {
        handle = currentBot(sim).handle;
    }
    SimBot& bot = botFor(sim, handle);
    std::string word = options.has("word") ? options.text("word") : std::string();
    std::string argument = options.has("argument") ? options.text("argument") : std::string();
    CommandRecord command{};
    command.word = options.has("word") ? word.c_str() : nullptr;
    command.argument = options.has("argument") ? argument.c_str() : nullptr;
    BotEvent event = eventFor(handle, code);
    for (int i = 0; i < 5; ++i) {
        std::string key = "slot" + std::to_string(i);
        if (!options.has(key)) continue;
        event.slot[i] = slotValue(sim, bot, options.raw(key), command);
        checkSlot(sim, code, i, options.raw(key), event.slot[i]);
    }
    // A raw Connect is a connection too, whatever its slots hold.
    if (code == Connect) noteConnect(bot);
    deliver(sim, event);
    return LineResult::Continue;
}

LineResult runHelp(Simulator& sim, const Line&) {
    std::fputs(scriptLanguageHelp().c_str(), sim.transcript);
    return LineResult::Continue;
}

LineResult runExit(Simulator&, const Line&) {
    return LineResult::Exit;
}

const LineKind lineKinds[] = {
    {.usage = "load",
     .run = runLoad,
     .help = "load the plug-in / unload it (it saves its registry);\n"
             "the next line that needs the plug-in loads it again"},
    {.usage = "unload", .run = runUnload, .listed = Listed::WithPrevious},
    {.usage = "connect N [version=6.0]",
     .minWords = 1,
     .maxWords = 2,
     .options = {"version"},
     .run = runConnect,
     .help = "bot N connects and becomes the current bot"},
    {.usage = "disconnect [N]",
     .maxWords = 1,
     .run = runDisconnect,
     .help = "bot N (default: the current bot) disconnects"},
    {.usage = "bot N",
     .minWords = 1,
     .maxWords = 1,
     .run = runBot,
     .help = "make bot N the current bot, sending nothing"},
    {.usage = "settings [freqLimit=N]",
     .maxWords = manyWords,
     .options = {"freqLimit"},
     .run = runSettings,
     .help = "arena settings for the current bot; freqLimit is 10000\n"
             "unless given (freqs 100 to 9999 can be registered)"},
    {.usage = "enter [freq=F]",
     .maxWords = manyWords,
     .options = {"freq"},
     .run = runEnter,
     .help = "the current bot enters the arena on freq F (default\n"
             "9999); the arena settings follow unless \"settings\"\n"
             "came first since the bot connected"},
    {.usage = "leave", .run = runLeave, .help = "the current bot leaves the arena"},
    {.usage = "player NAME [squad=S] [points=A] [pointsB=B] [level=L] [freq=F]",
     .minWords = 1,
     .maxWords = manyWords,
     .options = {"squad", "points", "pointsB", "level", "freq"},
     .run = runPlayer,
     .help = "a player enters the arena (idents 1, 2, 3, ...)"},
    {.usage = "quit NAME",
     .minWords = 1,
     .maxWords = 1,
     .restIsText = true,
     .run = runQuit,
     .help = "the player leaves the arena"},
    {.match = Match::Chat,
     .usage = "NAME: !word argument",
     .run = runChat,
     .help = "the player sends a command to the current bot"},
    {.match = Match::Chat,
     .usage = "NAME: !help [topic]",
     .run = runChat,
     .help = "the player asks the current bot for help"},
    {.match = Match::FreqChange,
     .usage = "NAME -> F",
     .run = runFreqChange,
     .help = "the player changes to freq F"},
    {.usage = "tick [COUNT]",
     .maxWords = 1,
     .run = runTick,
     .help = "COUNT ticks (default 1, at most 1000000) for the\n"
             "current bot; every fifth tick ages the invitations"},
    {.usage = "advance DURATION, e.g. advance 31s or 1m30s",
     .shownForm = "advance 31s",
     .minWords = 1,
     .maxWords = 1,
     .run = runAdvance,
     .help = "move the clocks forward (units ms, s, m, h, d; e.g. 1m30s),\n"
             "a century at most in all; an invitation ends only at a tick\n"
             "after that (tick 5)"},
    {.usage = "ini Key=Value ...",
     .maxWords = manyWords,
     .run = runIni,
     .help = "write freqs.ini: a [Config] section holding the pairs"},
    {.usage = "ini-raw TEXT",
     .maxWords = 1,
     .restIsText = true,
     .run = runIniRaw,
     .help = "append the line TEXT to freqs.ini"},
    {.usage = "ini-delete", .run = runIniDelete, .help = "remove freqs.ini"},
    {.usage = "show FILE",
     .minWords = 1,
     .maxWords = 1,
     .run = runShowLine,
     .help = "print the file's lines, escaped (e.g. show hadrok.log)"},
    {.usage = "files PATTERN",
     .minWords = 1,
     .maxWords = 1,
     .run = runFilesLine,
     .help = "list the files of the current directory whose names\n"
             "match (* any text, ? one byte), sorted, with sizes"},
    {.usage = "copy FROM TO",
     .minWords = 2,
     .maxWords = 2,
     .run = runCopyLine,
     .help = "copy a file over another, e.g. a backup over Zandrel.teams"},
    {.usage = "tool COMMAND ...",
     .shownForm = "tool teams list",
     .minWords = 1,
     .maxWords = manyWords,
     .run = runProgramLine,
     .help = "run one of this program's commands (teams, config,\n"
             "status), at the frozen clocks' time; only while unloaded"},
    {.usage = "event CODE [handle=N] [slot0=V] ... [slot4=V] [word=T] [argument=T]",
     .minWords = 1,
     .maxWords = manyWords,
     .options = {"handle", "slot0", "slot1", "slot2", "slot3", "slot4", "word", "argument"},
     .run = runEvent,
     .help = "any event, as is; V is a number, null, self, settings,\n"
             "callback, players, command (a command record holding\n"
             "word= and argument=, null where missing) or player:NAME;\n"
             "a slot the plug-in reads as a pointer takes only the\n"
             "record it expects there, or null"},
    {.usage = "help", .maxWords = manyWords, .run = runHelp, .listed = Listed::No},
    {.usage = "exit", .run = runExit, .help = "stop here"},
};

const LineKind* kindOf(Match match, std::string_view keyword = {}) {
    for (const LineKind& kind : lineKinds)
        if (kind.match == match && (match != Match::Keyword || kind.keyword() == keyword))
            return &kind;
    return nullptr;
}

// The line's argument form: how many words follow the keyword.
void checkForm(const Line& line) {
    const LineKind& kind = line.kind;
    if (kind.match != Match::Keyword) return;
    size_t words = kind.restIsText ? (line.rest().empty() ? 0 : 1) : line.tokens.size() - 1;
    if (words < kind.minWords || words > kind.maxWords)
        throw ScriptError("usage: " + std::string(kind.usage));
}

// Column of the help texts; a form that reaches it puts its text on the next line.
constexpr size_t helpColumn = 28;

std::string buildHelp() {
    std::string help =
        "Script lines, one action each (# starts a comment line; blank lines are skipped):\n";
    const std::string indent(helpColumn, ' ');
    for (size_t i = 0; i < std::size(lineKinds); ++i) {
        const LineKind& kind = lineKinds[i];
        if (kind.listed != Listed::Own) continue;
        std::string form = "  " + std::string(kind.shownForm.empty() ? kind.usage : kind.shownForm);
        for (size_t j = i + 1; j < std::size(lineKinds); ++j) {
            if (lineKinds[j].listed != Listed::WithPrevious) break;
            form += " | " + std::string(lineKinds[j].usage);
        }
        help += form;
        help +=
            form.size() < helpColumn ? std::string(helpColumn - form.size(), ' ') : "\n" + indent;
        std::string_view text = kind.help;
        for (size_t end; (end = text.find('\n')) != std::string_view::npos;) {
            help += std::string(text.substr(0, end)) + "\n" + indent;
            text.remove_prefix(end + 1);
        }
        help += std::string(text) + "\n";
    }
    help += "Text: \\xNN any byte, \\\\ a backslash, \\{ \\} \\\" literally, {TEXT*N} TEXT N "
            "times.\n"
            "Quotes keep blanks together: player \"Bob Smith\" squad=\"Red Team\".\n"
            "A name that is also a keyword is written in quotes: \"tick\" -> 100.\n";
    return help;
}

} // namespace

const std::string& scriptLanguageHelp() {
    static const std::string help = buildHelp();
    return help;
}

LineResult runScriptLine(Simulator& sim, std::string_view text) {
    text = trimBlanks(text);
    if (text.empty() || text[0] == '#') return LineResult::Continue;
    Tokens tokens = splitTokens(text);
    const LineKind* kind = kindOf(Match::Keyword, tokens[0]);
    // A colon makes a chat line even when the text holds "->".
    if (!kind && findUnquoted(text, ':') != std::string_view::npos) kind = kindOf(Match::Chat);
    if (!kind && tokens.size() >= 3 && tokens[tokens.size() - 2] == "->")
        kind = kindOf(Match::FreqChange);
    if (!kind)
        throw ScriptError("unknown line " + quoted(tokens[0]) +
                          " (\"help\" lists the script lines)");
    Line line{text, std::move(tokens), *kind};
    checkForm(line);
    return kind->run(sim, line);
}
