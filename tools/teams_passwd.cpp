// hadrok teams passwd: a new password for a freq, for the owner who forgot
// it. Only the plug-in's hash of it is stored, as "!fpass" stores it.
#include <cstdio>
#include <iostream>
#include <string>

#include <fmt/format.h>

#include "registry/password_hash.h"
#include "registry/registry_file.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"
#include "tools/teams_write.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <csignal>
#include <iterator>
#include <termios.h>
#include <unistd.h>
#endif

namespace {

struct PasswdOptions {
    uint32_t freq = 0;
    std::string file = registryFileName;
    bool passwordStdin = false;
};

// One line of standard input without its line end; false at its end.
bool readLine(std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

#ifdef _WIN32
bool inputIsConsole() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

// The console's mode before echo was turned off, for the handler below.
DWORD savedConsoleMode = 0;

// Ctrl-C, Ctrl-Break or closing the window ends the program: echo comes
// back first, then the next handler (the system's) ends it.
BOOL WINAPI restoreConsole(DWORD) {
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), savedConsoleMode);
    return FALSE;
}

// A line typed at the console with echo off; echo comes back whatever happens.
bool readHidden(const char* prompt, std::string& line) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    savedConsoleMode = mode;
    SetConsoleCtrlHandler(restoreConsole, TRUE);
    SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    bool got = readLine(line);
    SetConsoleMode(in, mode);
    SetConsoleCtrlHandler(restoreConsole, FALSE);
    std::fputs("\n", stderr);
    return got;
}
#else
bool inputIsConsole() {
    return isatty(STDIN_FILENO) != 0;
}

// The terminal's settings before echo was turned off, for the handlers.
termios savedTerminal{};

// The signals that end a program at a prompt by default.
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Echo comes back before the signal ends the program as it would have.
extern "C" void restoreTerminal(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    (void)!write(STDERR_FILENO, "\n", 1);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(signal, &standard, nullptr);
    sigset_t just{};
    sigemptyset(&just);
    sigaddset(&just, signal);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(signal);
}

bool readHidden(const char* prompt, std::string& line) {
    bool terminal = tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    struct sigaction previous[std::size(endingSignals)]{};
    if (terminal) {
        struct sigaction handler {};
        handler.sa_handler = restoreTerminal;
        sigemptyset(&handler.sa_mask);
        for (int signal : endingSignals)
            sigaddset(&handler.sa_mask, signal);
        handler.sa_flags = SA_RESTART;
        // A signal ignored before (as nohup ignores a hang-up) stays ignored.
        for (size_t i = 0; i < std::size(endingSignals); ++i)
            if (sigaction(endingSignals[i], nullptr, &previous[i]) == 0 &&
                previous[i].sa_handler != SIG_IGN)
                sigaction(endingSignals[i], &handler, nullptr);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    // Shown once echo is off, so nothing typed at it is ever echoed.
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    bool got = readLine(line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        for (size_t i = 0; i < std::size(endingSignals); ++i)
            sigaction(endingSignals[i], &previous[i], nullptr);
    }
    std::fputs("\n", stderr);
    return got;
}
#endif

// A password that a player can type after "!fjoin FREQ:": the host drops
// blanks at either end of a command's argument, so such a password could
// never be given.
void checkTypable(const std::string& password) {
    if (password.empty()) throw ToolFailure("the password is empty; nothing written");
    if (password.front() == ' ' || password.back() == ' ')
        throw ToolFailure("the password begins or ends with a blank, which players' commands "
                          "lose; nothing written");
    for (char c : password)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F)
            throw ToolFailure("the password holds control characters, which players cannot "
                              "type; nothing written");
}

std::string newPassword(const PasswdOptions& options) {
    std::string password;
    if (options.passwordStdin) {
        if (!readLine(password))
            throw ToolFailure("no password on standard input; nothing written");
        return password;
    }
    if (!inputIsConsole())
        throw UsageMistake("standard input is not a terminal: give --password-stdin to read the "
                           "password from it");
    std::string again;
    if (!readHidden(fmt::format("New password for freq {}: ", options.freq).c_str(), password) ||
        !readHidden("The same again: ", again))
        throw ToolFailure("no password given; nothing written");
    if (password != again) throw ToolFailure("the two passwords differ; nothing written");
    return password;
}

// The first record of a freq, as the plug-in uses it; null when none.
FreqRecord* recordOf(std::vector<FreqRecord>& records, uint32_t freq) {
    for (FreqRecord& r : records)
        if (r.freq == freq) return &r;
    return nullptr;
}

int passwd(const PasswdOptions& options) {
    // Looked at first, so that a mistake is told before the password is
    // typed twice; what is written back is read again under the lock.
    {
        std::vector<FreqRecord> records = loadableRecordsOf(options.file);
        if (!recordOf(records, options.freq))
            throw ToolFailure(fmt::format("freq {} is not registered in {}; nothing written",
                                          options.freq, options.file));
        checkOutput(options.file, {});
    }
    // The password may take minutes to come: the lock is taken only once it
    // is here, so a host may start or save meanwhile.
    std::string password = newPassword(options);
    checkTypable(password);

    HeldRegistry held;
    holdRegistry(held, options.file, {});
    if (held.before.size() % freqRecordSize != 0)
        throw ToolFailure(notWholeMessage(options.file, held.before) + "; nothing written");
    std::vector<FreqRecord> records = wholeRecordsOf(held.before);
    FreqRecord* record = recordOf(records, options.freq);
    if (!record)
        throw ToolFailure(fmt::format("freq {} is no longer registered in {} (it changed while "
                                      "the password was typed); nothing written",
                                      options.freq, options.file));
    record->passwordHash = hashPassword(password.data(), uint32_t(password.size()));
    const std::string snapshot = keepSnapshot(held, "passwd");
    replaceRegistry(held, imageOf(records));
    logRegistryChange(held, "passwd", int32_t(options.freq),
                      "password changed; snapshot " + fileNameOf(snapshot));
    fmt::print("changed the password of freq {} (owner \"{}\") in {}; the file before is kept "
               "as {}\n",
               options.freq, escapedBytes(fieldOf(record->owner)), options.file, snapshot);
    return 0;
}

} // namespace

void addTeamsPasswdCommand(CLI::App& teams) {
    auto options = std::make_shared<PasswdOptions>();
    CLI::App* command = teams.add_subcommand(
        "passwd", "Set a new password for a freq (typed twice without echo), for an owner who "
                  "forgot it");
    command->add_option("freq", options->freq, "the freq number")
        ->check(countValidator(65535))
        ->type_name("FREQ")
        ->required();
    command->add_option("file", options->file, "the registry file")->capture_default_str();
    command->add_flag("--password-stdin", options->passwordStdin,
                      "read the password from the first line of standard input");
    command->callback([options] { runTeamsTool("passwd", [&] { return passwd(*options); }); });
}
