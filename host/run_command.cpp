// hadrok run: plays a script, or an interactive session, through the plug-in.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <new>
#include <sstream>
#include <string>
#include <utility>

#include "cli/subcommands.h"
#include "host/script_budgets.h"
#include "host/script_runner.h"
#include "host/script_text.h"
#include "host/simulator.h"
#include "platform/platform.h"
#include "system/plugin_loader.h"
#include "system/script_clock.h"
#include "system/terminal.h"
#include "text/encoding.h"

namespace {

constexpr int exitScriptError = 2;
constexpr int exitHostFailure = 1;

struct RunOptions {
    std::string script;
    std::string plugin;
    bool frozenClock = false;
    bool rawPointerSlots = false;
    bool inThisFolder = false;
};

void reportError(const std::string& where, const std::string& message) {
    std::fflush(stdout);
    std::fprintf(stderr, "%s: %s%s\n", programFileName, where.c_str(), message.c_str());
    std::fflush(stderr);
}

// Reads one line without its newline; false at the end of the input.
bool readScriptLine(std::istream& in, std::string& line) {
    line.clear();
    std::streambuf* buffer = in.rdbuf();
    for (;;) {
        int c = buffer->sbumpc();
        if (c == std::char_traits<char>::eof()) return !line.empty();
        if (c == '\n') return true;
        if (line.size() >= scriptBudgets().scriptLine)
            throw ScriptError("line longer than " + budgetText(scriptBudgets().scriptLine));
        line += static_cast<char>(c);
    }
}

// Plays one line with its own share of the text budget; running out of
// memory is this line's error, not the program's end.
LineResult playLine(Simulator& sim, const std::string& line) {
    startLineBudget();
    try {
        return runScriptLine(sim, line);
    } catch (const std::bad_alloc&) {
        throw ScriptError("not enough memory to play this line");
    }
}

// Plays lines from a stream, each echoed to the transcript; stops at the first
// bad line.
int playStream(Simulator& sim, std::istream& in, const std::string& name) {
    std::string line;
    for (unsigned long number = 1;; ++number) {
        try {
            if (!readScriptLine(in, line)) break;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            // Notepad starts a UTF-8 file with a byte-order mark.
            if (number == 1 && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
            std::string_view trimmed = trimBlanks(line);
            if (!trimmed.empty() && trimmed[0] != '#') writeLine(sim, "> " + std::string(trimmed));
            LineResult result = playLine(sim, line);
            std::fflush(stdout);
            if (result == LineResult::Exit) break;
        } catch (const ScriptError& error) {
            reportError(name + ":" + std::to_string(number) + ": ", error.what());
            return exitScriptError;
        } catch (const HostFailure& error) {
            reportError(name + ":" + std::to_string(number) + ": ", error.what());
            return exitHostFailure;
        } catch (const std::bad_alloc&) {
            reportError(name + ":" + std::to_string(number) + ": ",
                        "not enough memory to play this line");
            return exitScriptError;
        }
    }
    return 0;
}

// A prompt (with line editing and history on Linux); a bad line is reported
// and the session goes on.
int playInteractive(Simulator& sim) {
    std::printf("Hadrok host simulator. Type \"help\" for the script lines, %s or \"exit\" to "
                "leave.\n",
                endOfInputKeys);
    startLineEditor();
    std::string line;
    while (readInputLine("hadrok> ", line)) {
        if (!trimBlanks(line).empty()) rememberInputLine(line);
        try {
            LineResult result = playLine(sim, line);
            std::fflush(stdout);
            if (result == LineResult::Exit) break;
        } catch (const ScriptError& error) {
            reportError("", error.what());
        } catch (const HostFailure& error) {
            reportError("", error.what());
        }
    }
    stopLineEditor();
    return 0;
}

// A host's own files: a script's ini and copy lines, and the plug-in's saves,
// would change them.
constexpr const char* hostFiles[] = {"Zandrel.teams", "freqs.ini", "hadrok.log"};
constexpr const char* hostLockFile = "Zandrel.teams.lock";

// Whether another process holds the folder's registry lock now. Looked at
// once, before the plug-in is loaded: afterwards the plug-in holds it too.
bool hostHoldsLock() {
    // Looked at, never taken: a host starting now must not find it held.
    return probeFileLock(hostLockFile) == LockProbe::held;
}

// A run plays in the working folder, so it never starts by surprise in one
// that holds a host's files or beside a running host: only when told so.
bool mayPlayHere(const RunOptions& options, Simulator& sim) {
    sim.hostRunsHere = hostHoldsLock();
    std::string found;
    for (const char* name : hostFiles) {
        if (pathKindOf(name) == PathKind::missing) continue;
        found += (found.empty() ? "" : ", ") + std::string(name);
    }
    if (options.inThisFolder || (found.empty() && !sim.hostRunsHere)) return true;
    const std::string what = sim.hostRunsHere ? "a host is running in this folder (" +
                                                    std::string(hostLockFile) + " is locked)" +
                                                    (found.empty() ? "" : " and it holds " + found)
                                              : "this folder holds " + found;
    reportError("", what + ", which the script's lines and the plug-in's saves would change; play "
                           "in a trial folder with copies of what the script needs, or add "
                           "--in-this-folder to play here");
    return false;
}

int runCommand(const RunOptions& options) {
    if (options.frozenClock) freezeClocks();
    startRunBudget();
    Simulator sim;
    sim.rawPointerSlots = options.rawPointerSlots;
    if (!mayPlayHere(options, sim)) return exitScriptError;
    std::string plugin = options.plugin.empty() ? defaultPluginPath() : options.plugin;
    // dlopen searches the library path for a bare file name; a path never does.
    sim.pluginPath = std::filesystem::absolute(plugin).string();

    int status = 0;
    if (!options.script.empty() && options.script != "-") {
        // A script that can't be read is the command line's mistake, like a
        // bad line; a directory would otherwise read as an empty script.
        std::error_code error;
        if (std::filesystem::is_directory(options.script, error)) {
            reportError("", "the script " + options.script + " is a directory");
            return exitScriptError;
        }
        std::ifstream file(options.script, std::ios::binary);
        std::string bytes;
        if (file) bytes.assign(std::istreambuf_iterator<char>(file), {});
        if (!file || file.bad()) {
            reportError("", "cannot read the script " + options.script);
            return exitScriptError;
        }
        // UTF-16 would play as nonsense; a legacy code page plays its bytes
        // as they are, which may be what was meant, so it is only said.
        const TextEncoding encoding = guessEncoding(bytes);
        if (encoding != TextEncoding::utf8) {
            reportError("", saveAsUtf8Advice(options.script, encoding));
            if (encoding == TextEncoding::utf16) {
                unloadPlugin(sim);
                return exitScriptError;
            }
        }
        std::istringstream text(std::move(bytes));
        status = playStream(sim, text, options.script);
    } else if (inputIsTerminal()) {
        status = playInteractive(sim);
    } else {
        status = playStream(sim, std::cin, "<stdin>");
    }
    // Like a host shutting down: the plug-in saves its registry as it goes.
    unloadPlugin(sim);
    std::fflush(stdout);
    return status;
}

} // namespace

void addRunCommand(CLI::App& app) {
    auto options = std::make_shared<RunOptions>();
    CLI::App* run = app.add_subcommand(
        "run", "Play a script through the plug-in as the bot host would, or type it at a prompt");
    run->add_option("script", options->script, "Script file; standard input when omitted");
    run->add_option("--plugin", options->plugin,
                    std::string("The plug-in (default: ") + pluginFileName + " beside " +
                        programFileName + ")");
    run->add_flag("--frozen-clock", options->frozenClock,
                  "Start the clocks at 2026-01-01 00:00:00 UTC and 1,000,000 ms, moved only by "
                  "\"advance\"");
    run->add_flag("--raw-pointer-slots", options->rawPointerSlots,
                  "Let \"event\" lines put any number in a slot the plug-in reads as a pointer "
                  "(the plug-in may crash)");
    run->add_flag("--in-this-folder", options->inThisFolder,
                  "Play in the working folder even though it holds Zandrel.teams, freqs.ini or "
                  "hadrok.log, which the script and the plug-in may change; beside a running "
                  "host, lines that write files are still refused");
    run->footer("How a run ends: a script file, or lines piped in, stop at the first bad line, "
                "which is named with its number (status 2), or at a failure of the plug-in or "
                "the host (status 1); at a prompt a bad line is reported and the session goes "
                "on. Status 0: every line was played.\n\n" +
                scriptLanguageHelp());
    run->callback([options] {
        int status = runCommand(*options);
        if (status != 0) throw CLI::RuntimeError(status);
    });
}
