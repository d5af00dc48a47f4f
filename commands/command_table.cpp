#include "commands/command_table.h"

#include "commands/commands.h"

namespace {

// Each topic's lines after "!<word>" and its syntax line.
const char* const freqkillHelp[] = {"Deletes all freqs owned by the player", nullptr};
const char* const freqresetHelp[] = {"Clears the freq database", nullptr};
const char* const aboutHelp[] = {"Displays info about bot", nullptr};
const char* const fregHelp[] = {
    "Registers a freq in your name. Only people who you invite or who know the password can "
    "join it",
    "You can also set it so only a certain squad can join it", "Freq must be at least 100",
    nullptr};
const char* const funregHelp[] = {"Unregisters a freq that you own",
                                  "Only the owner or an operator can unregister a freq", nullptr};
const char* const freqsHelp[] = {"Displays all registered freqs and their details", nullptr};
const char* const fnameHelp[] = {"Sets the name of the freq", nullptr};
const char* const fjoinHelp[] = {"Invites you to the specified freq", nullptr};
const char* const fkickHelp[] = {"Kicks a player from your freq", nullptr};
const char* const fpassHelp[] = {"Changes the password of a freq", nullptr};
const char* const fsquadHelp[] = {"Allows all members of a squad to join the freq", nullptr};
const char* const fgrantHelp[] = {"Gives ownership of a freq to another player",
                                  "The other player must be in the arena", nullptr};
const char* const fwelcHelp[] = {"Changed the message said when a player joins a freq",
                                 "Macros: %name%   - Name of the player",
                                 "        %fnum%   - Freq number",
                                 "        %fname%  - Freq name",
                                 "        %fsquad% - The squad allowed on the freq",
                                 "        %sq%     - Squad of the player",
                                 "        %points% - Points of player",
                                 nullptr};
const char* const finvHelp[] = {"Invites a player to a freq", "The player must be in the arena",
                                nullptr};

using enum Access;
using enum ArgumentForm;
using enum FreqCheck;
using enum ListLine;

const CommandRow rows[] = {
    {.word = "freqkill",
     .level = Operators,
     .argument = Whole,
     .argumentName = "owner name",
     .handler = handleFreqkill,
     .help = freqkillHelp,
     .listLine = OperatorLine},
    // The freqreset topic is open to every level, though only operators may run it.
    {.word = "freqreset",
     .level = Operators,
     .handler = handleFreqreset,
     .help = freqresetHelp,
     .topicLevel = Everyone,
     .listLine = OperatorLine},
    {.word = "about",
     .level = Everyone,
     .handler = handleAbout,
     .help = aboutHelp,
     .listLine = AboutLine},
    {.word = "freg",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "password",
     .handler = handleFreg,
     .help = fregHelp,
     .helpLast = helpFregLimit},
    {.word = "funreg",
     .level = Everyone,
     .argument = FreqNumber,
     .check = OwnedOrOperator,
     .handler = handleFunreg,
     .help = funregHelp},
    {.word = "freqs", .level = Everyone, .handler = handleFreqs, .help = freqsHelp},
    {.word = "fname",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "name",
     .check = Owned,
     .handler = handleFname,
     .help = fnameHelp},
    {.word = "fjoin",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "password",
     .check = Registered,
     .handler = handleFjoin,
     .help = fjoinHelp},
    {.word = "fkick",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "player name",
     .check = Owned,
     .handler = handleFkick,
     .help = fkickHelp},
    {.word = "fpass",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "password",
     .check = Owned,
     .handler = handleFpass,
     .help = fpassHelp},
    {.word = "fsquad",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "squad",
     .check = Owned,
     .handler = handleFsquad,
     .help = fsquadHelp},
    {.word = "fgrant",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "player name",
     .check = Owned,
     .handler = handleFgrant,
     .help = fgrantHelp},
    {.word = "fwelc",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "welcome message",
     .check = Owned,
     .handler = handleFwelc,
     .help = fwelcHelp},
    {.word = "finv",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "player name",
     .check = Owned,
     .handler = handleFinv,
     .help = finvHelp},
};

} // namespace

constinit const std::span<const CommandRow> commandTable = rows;

const CommandRow* findCommand(std::string_view word, uint32_t level) {
    for (const CommandRow& row : commandTable)
        if (word == row.word && mayUse(row.level, level)) return &row;
    return nullptr;
}

Text syntaxLine(const CommandRow& row) {
    Text line("Syntax: !");
    line.append(row.word);
    switch (row.argument) {
    case ArgumentForm::Ignored:
        break;
    case ArgumentForm::Whole:
        line.append(" <");
        line.append(row.argumentName);
        line.append(">");
        break;
    case ArgumentForm::FreqNumber:
        line.append(" <freq>");
        break;
    case ArgumentForm::StrictColon:
    case ArgumentForm::LenientColon:
        line.append(" <freq>:<");
        line.append(row.argumentName);
        line.append(">");
        break;
    }
    return line;
}
