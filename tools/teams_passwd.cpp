// hadrok teams passwd: a new password for a freq, for the owner who forgot
// it. Only the plug-in's hash of it is stored, as "!fpass" stores it.
#include <cstdio>
#include <iostream>
#include <string>

#include <fmt/format.h>

#include "registry/password_hash.h"
#include "registry/registry_file.h"
#include "system/terminal.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"
#include "tools/teams_write.h"

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
    if (!inputIsTerminal())
        throw UsageMistake("standard input is not a terminal: give --password-stdin to read the "
                           "password from it");
    std::string again;
    if (!readHiddenLine(fmt::format("New password for freq {}: ", options.freq).c_str(),
                        password) ||
        !readHiddenLine("The same again: ", again))
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
    replaceRegistry(held, imageOf(records), "passwd", int32_t(options.freq),
                    "password changed; snapshot " + fileNameOf(snapshot));
    fmt::print("changed the password of freq {} (owner \"{}\") in {}; the file before is kept "
               "as {}\n",
               options.freq, escapedBytes(fieldOf(record->owner)), options.file, snapshot);
    return 0;
}

void passwdArguments(CLI::App& command, PasswdOptions& options) {
    command.add_option("freq", options.freq, "the freq number")
        ->check(freqValidator())
        ->type_name("FREQ")
        ->required();
    command.add_option("file", options.file, "the registry file")->capture_default_str();
    command.add_flag("--password-stdin", options.passwordStdin,
                     "read the password from the first line of standard input");
}

} // namespace

const TeamsSubcommand teamsPasswd{
    "passwd",
    "Set a new password for a freq (typed twice without echo), for an owner who "
    "forgot it",
    defineSubcommand<PasswdOptions, passwdArguments, passwd>};
