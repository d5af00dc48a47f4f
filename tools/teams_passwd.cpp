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
#include <termios.h>
#include <unistd.h>
#endif

namespace {

struct PasswdOptions {
    uint32_t freq = 0;
    std::string file = registryFileName;
    bool passwordStdin = false;
    bool force = false;
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

// A line typed at the console with echo off; echo comes back whatever happens.
bool readHidden(const char* prompt, std::string& line) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    GetConsoleMode(in, &mode);
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
    bool got = readLine(line);
    SetConsoleMode(in, mode);
    std::fputs("\n", stderr);
    return got;
}
#else
bool inputIsConsole() {
    return isatty(STDIN_FILENO) != 0;
}

bool readHidden(const char* prompt, std::string& line) {
    termios before{};
    bool terminal = tcgetattr(STDIN_FILENO, &before) == 0;
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    if (terminal) {
        termios quiet = before;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    bool got = readLine(line);
    if (terminal) tcsetattr(STDIN_FILENO, TCSAFLUSH, &before);
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

int passwd(const PasswdOptions& options) {
    std::vector<FreqRecord> records = readRegistryFile(options.file);
    FreqRecord* record = nullptr;
    for (FreqRecord& r : records)
        if (r.freq == options.freq) {
            record = &r; // the plug-in uses the first record of a freq
            break;
        }
    if (!record)
        throw ToolFailure(fmt::format("freq {} is not registered in {}; nothing written",
                                      options.freq, options.file));
    // Refused before the password is asked for, not after it was typed twice.
    WriteRules rules{{}, true, options.force};
    checkWritable(options.file, rules);

    std::string password = newPassword(options);
    checkTypable(password);
    record->passwordHash = hashPassword(password.data(), uint32_t(password.size()));
    writeFileSafely(options.file, imageOf(records), rules);
    fmt::print("changed the password of freq {} (owner \"{}\") in {}\n", options.freq,
               escapedBytes(fieldOf(record->owner)), options.file);
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
    command->add_flag("--force", options->force, "write even while a host uses the registry there");
    command->callback([options] { runTeamsTool("passwd", [&] { return passwd(*options); }); });
}
