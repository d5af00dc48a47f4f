#include "host/script_runner.h"

#include <cstdio>
#include <cstring>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "host/host_clock.h"
#include "host/script_files.h"
#include "host/script_text.h"

const char scriptLanguageHelp[] =
    R"(Script lines, one action each (# starts a comment line; blank lines are skipped):
  load | unload             load the plug-in / unload it (it saves its registry);
                            the next line that needs the plug-in loads it again
  connect N [version=6.0]   bot N connects and becomes the current bot
  disconnect [N]            bot N (default: the current bot) disconnects
  bot N                     make bot N the current bot, sending nothing
  settings [freqLimit=N]    arena settings for the current bot
  enter [freq=F]            the current bot enters the arena on freq F (default 9999)
  leave                     the current bot leaves the arena
  player NAME [squad=S] [points=A] [pointsB=B] [level=L] [freq=F]
                            a player enters the arena (idents 1, 2, 3, ...)
  quit NAME                 the player leaves the arena
  NAME: !word argument      the player sends a command to the current bot
  NAME: !help [topic]       the player asks the current bot for help
  NAME -> F                 the player changes to freq F
  tick [COUNT]              COUNT ticks (default 1) for the current bot
  advance 31s               move the clocks forward (units ms, s, m, h, d; e.g. 1m30s)
  ini Key=Value ...         write freqs.ini: a [Config] section holding the pairs
  ini-raw TEXT              append the line TEXT to freqs.ini
  ini-delete                remove freqs.ini
  show FILE                 print the file's lines, escaped (e.g. show hadrok.log)
  files PATTERN             list the files of the current directory whose names
                            match (* any text, ? one byte), sorted, with sizes
  copy FROM TO              copy a file over another, e.g. a backup over Zandrel.teams
  event CODE [handle=N] [slot0=V] ... [slot4=V] [word=T] [argument=T]
                            any event, as is; V is a number, null, self, settings,
                            callback, players, command (a command record holding
                            word= and argument=, null where missing) or player:NAME
  exit                      stop here
Text: \xNN any byte, \\ a backslash, \{ \} \" literally, {TEXT*N} TEXT N times.
Quotes keep blanks together: player "Bob Smith" squad="Red Team".
A name that is also a keyword is written in quotes: "tick" -> 100.
)";

namespace {

using Tokens = std::vector<std::string_view>;

std::string quoted(std::string_view text) {
    return "\"" + std::string(text) + "\"";
}

uint64_t parseNumber(std::string_view text, uint64_t max, std::string_view what,
                     bool allowHex = false) {
    uint64_t value = 0;
    bool isHex =
        allowHex && text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
    std::string_view digits = isHex ? text.substr(2) : text;
    bool valid = !digits.empty();
    for (char c : digits) {
        int digit = -1;
        if (c >= '0' && c <= '9') digit = c - '0';
        if (isHex && c >= 'a' && c <= 'f') digit = c - 'a' + 10;
        if (isHex && c >= 'A' && c <= 'F') digit = c - 'A' + 10;
        uint64_t base = isHex ? 16 : 10;
        if (digit < 0 || value > (max - static_cast<uint64_t>(digit)) / base) {
            valid = false;
            break;
        }
        value = value * base + static_cast<uint64_t>(digit);
    }
    if (!valid)
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
                     std::initializer_list<std::string_view> allowed) {
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

void expectCount(const Tokens& tokens, size_t least, size_t most, std::string_view usage) {
    if (tokens.size() < least || tokens.size() > most)
        throw ScriptError("usage: " + std::string(usage));
}

SimBot& currentBot(Simulator& sim) {
    if (!sim.currentBot) throw ScriptError("no bot yet: start with \"connect N\" or \"bot N\"");
    return botFor(sim, *sim.currentBot);
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
        throw ScriptError("no player " + quoted(escapeForTranscript(name)) +
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

int64_t parseDuration(std::string_view text) {
    static const struct {
        std::string_view unit;
        int64_t nanoseconds;
    } units[] = {{"ms", 1000000},
                 {"s", 1000000000},
                 {"m", 60000000000},
                 {"h", 3600000000000},
                 {"d", 86400000000000}};
    constexpr int64_t limit = 36500 * 86400000000000; // a century
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

void writeIni(std::string_view contents, bool append) {
    std::ofstream file("freqs.ini", append ? std::ios::binary | std::ios::app
                                           : std::ios::binary | std::ios::trunc);
    file << contents;
    file.close();
    if (!file) throw HostFailure("cannot write freqs.ini in the current directory");
}

// "NAME: !word argument" or "NAME: !help topic".
void runChat(Simulator& sim, std::string_view line, size_t colon) {
    std::string name = decodeText(trimBlanks(line.substr(0, colon)), true);
    std::string_view said = trimBlanks(line.substr(colon + 1));
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
    BotEvent event = eventFor(bot.handle, help ? HelpRequest : Command);
    event.slot[0] = reinterpret_cast<uintptr_t>(&player.record);
    event.slot[1] = reinterpret_cast<uintptr_t>(&command);
    deliver(sim, event);
}

// "NAME -> F"
void runFreqChange(Simulator& sim, std::string_view nameText, std::string_view freqText) {
    SimBot& bot = currentBot(sim);
    SimPlayer& player = playerNamed(sim, decodeText(trimBlanks(nameText), true));
    player.record.freq = static_cast<uint16_t>(parseNumber(freqText, UINT16_MAX, "freq"));
    BotEvent event = eventFor(bot.handle, PlayerFreqChange);
    event.slot[0] = reinterpret_cast<uintptr_t>(&player.record);
    deliver(sim, event);
}

void runPlayer(Simulator& sim, const Tokens& tokens) {
    if (tokens.size() < 2)
        throw ScriptError("usage: player NAME [squad=S] [points=A] [pointsB=B] [level=L] [freq=F]");
    std::string name = decodeText(tokens[1], true);
    Options options =
        parseOptions(tokens, 2, "player", {"squad", "points", "pointsB", "level", "freq"});
    if (findPlayerByName(sim, name))
        throw ScriptError("player " + quoted(escapeForTranscript(name)) +
                          " is already in the arena");
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

void runEvent(Simulator& sim, const Tokens& tokens) {
    if (tokens.size() < 2)
        throw ScriptError(
            "usage: event CODE [handle=N] [slot0=V] ... [slot4=V] [word=T] [argument=T]");
    uint32_t code = static_cast<uint32_t>(parseNumber(tokens[1], UINT32_MAX, "event code", true));
    Options options =
        parseOptions(tokens, 2, "event",
                     {"handle", "slot0", "slot1", "slot2", "slot3", "slot4", "word", "argument"});
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
        if (options.has(key)) event.slot[i] = slotValue(sim, bot, options.raw(key), command);
    }
    deliver(sim, event);
}

void runIni(const Tokens& tokens) {
    std::string contents = "[Config]\n";
    for (size_t i = 1; i < tokens.size(); ++i) {
        size_t equals = findUnquoted(tokens[i], '=');
        if (equals == std::string_view::npos || equals == 0)
            throw ScriptError("ini: expected Key=Value, not " + quoted(tokens[i]));
        contents += decodeText(tokens[i].substr(0, equals), true) + "=" +
                    decodeText(tokens[i].substr(equals + 1), true) + "\n";
    }
    writeIni(contents, false);
}

// The word after the keyword, raw, for lines that take the rest of the line.
std::string_view restAfterKeyword(std::string_view line, std::string_view keyword) {
    return trimBlanks(line.substr(keyword.size()));
}

} // namespace

LineResult runScriptLine(Simulator& sim, std::string_view line) {
    line = trimBlanks(line);
    if (line.empty() || line[0] == '#') return LineResult::Continue;
    Tokens tokens = splitTokens(line);
    std::string_view keyword = tokens[0];

    if (keyword == "load") {
        expectCount(tokens, 1, 1, "load");
        loadPlugin(sim);
    } else if (keyword == "unload") {
        expectCount(tokens, 1, 1, "unload");
        unloadPlugin(sim);
    } else if (keyword == "connect") {
        expectCount(tokens, 2, 3, "connect N [version=6.0]");
        uint32_t handle = static_cast<uint32_t>(parseNumber(tokens[1], UINT32_MAX, "bot handle"));
        Options options = parseOptions(tokens, 2, "connect", {"version"});
        uint32_t version = options.has("version") ? parseVersion(options.raw("version"))
                                                  : (interfaceMajor << 16 | interfaceMinor);
        sim.currentBot = handle;
        botFor(sim, handle);
        BotEvent event = eventFor(handle, Connect);
        event.slot[0] = version;
        event.slot[1] = reinterpret_cast<uintptr_t>(&hostCallback);
        event.slot[2] = reinterpret_cast<uintptr_t>(&sim.playerListHead);
        deliver(sim, event);
    } else if (keyword == "disconnect") {
        expectCount(tokens, 1, 2, "disconnect [N]");
        uint32_t handle =
            tokens.size() == 2
                ? static_cast<uint32_t>(parseNumber(tokens[1], UINT32_MAX, "bot handle"))
                : currentBot(sim).handle;
        deliver(sim, eventFor(handle, Disconnect));
    } else if (keyword == "bot") {
        expectCount(tokens, 2, 2, "bot N");
        uint32_t handle = static_cast<uint32_t>(parseNumber(tokens[1], UINT32_MAX, "bot handle"));
        botFor(sim, handle);
        sim.currentBot = handle;
    } else if (keyword == "settings") {
        SimBot& bot = currentBot(sim);
        Options options = parseOptions(tokens, 1, "settings", {"freqLimit"});
        if (options.has("freqLimit"))
            bot.settings.freqLimit = static_cast<uint32_t>(options.number("freqLimit", UINT32_MAX));
        BotEvent event = eventFor(bot.handle, ArenaSettings);
        event.slot[0] = reinterpret_cast<uintptr_t>(&bot.settings);
        deliver(sim, event);
    } else if (keyword == "enter") {
        SimBot& bot = currentBot(sim);
        Options options = parseOptions(tokens, 1, "enter", {"freq"});
        if (options.has("freq"))
            bot.self.freq = static_cast<uint16_t>(options.number("freq", UINT16_MAX));
        BotEvent event = eventFor(bot.handle, ArenaEnter);
        event.slot[1] = reinterpret_cast<uintptr_t>(&bot.self);
        deliver(sim, event);
    } else if (keyword == "leave") {
        expectCount(tokens, 1, 1, "leave");
        deliver(sim, eventFor(currentBot(sim).handle, ArenaLeave));
    } else if (keyword == "player") {
        runPlayer(sim, tokens);
    } else if (keyword == "quit") {
        std::string_view rest = restAfterKeyword(line, keyword);
        if (rest.empty()) throw ScriptError("usage: quit NAME");
        removePlayer(sim, playerNamed(sim, decodeText(rest, true)));
    } else if (keyword == "tick") {
        expectCount(tokens, 1, 2, "tick [COUNT]");
        uint64_t count = tokens.size() == 2 ? parseNumber(tokens[1], UINT32_MAX, "tick count") : 1;
        uint32_t handle = currentBot(sim).handle;
        for (uint64_t i = 0; i < count; ++i)
            deliver(sim, eventFor(handle, Tick));
    } else if (keyword == "advance") {
        expectCount(tokens, 2, 2, "advance DURATION, e.g. advance 31s or 1m30s");
        advanceClocks(parseDuration(tokens[1]));
    } else if (keyword == "ini") {
        runIni(tokens);
    } else if (keyword == "ini-raw") {
        writeIni(decodeText(restAfterKeyword(line, keyword), false) + "\n", true);
    } else if (keyword == "ini-delete") {
        expectCount(tokens, 1, 1, "ini-delete");
        std::remove("freqs.ini");
    } else if (keyword == "show") {
        expectCount(tokens, 2, 2, "show FILE");
        runShow(sim, decodeText(tokens[1], true));
    } else if (keyword == "files") {
        expectCount(tokens, 2, 2, "files PATTERN");
        runFiles(sim, decodeText(tokens[1], true));
    } else if (keyword == "copy") {
        expectCount(tokens, 3, 3, "copy FROM TO");
        runCopy(decodeText(tokens[1], true), decodeText(tokens[2], true));
    } else if (keyword == "event") {
        runEvent(sim, tokens);
    } else if (keyword == "help") {
        std::fputs(scriptLanguageHelp, sim.transcript);
    } else if (keyword == "exit") {
        expectCount(tokens, 1, 1, "exit");
        return LineResult::Exit;
    } else if (size_t colon = findUnquoted(line, ':'); colon != std::string_view::npos) {
        // A colon makes a chat line even when the text holds "->".
        runChat(sim, line, colon);
    } else if (tokens.size() >= 3 && tokens[tokens.size() - 2] == "->") {
        size_t arrow = static_cast<size_t>(tokens[tokens.size() - 2].data() - line.data());
        runFreqChange(sim, line.substr(0, arrow), tokens.back());
    } else {
        throw ScriptError("unknown line " + quoted(escapeForTranscript(keyword)) +
                          " (\"help\" lists the script lines)");
    }
    return LineResult::Continue;
}
