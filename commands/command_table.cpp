#include "commands/command_table.h"

#include "commands/commands.h"

namespace {

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
     .help = "Deletes all freqs owned by the player",
     .listLine = OperatorLine},
    // The freqreset topic is open to every level, though only operators may run it.
    {.word = "freqreset",
     .level = Operators,
     .handler = handleFreqreset,
     .help = "Clears the freq database",
     .topicLevel = Everyone,
     .listLine = OperatorLine},
    {.word = "about",
     .level = Everyone,
     .handler = handleAbout,
     .help = "Displays info about bot",
     .listLine = AboutLine},
    {.word = "freg",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "password",
     .handler = handleFreg,
     .help = "Registers a freq in your name. Only people who you invite or who know the password "
             "can join it\n"
             "You can also set it so only a certain squad can join it\n"
             "Freq must be at least 100",
     .helpLast = helpFregLimit},
    {.word = "funreg",
     .level = Everyone,
     .argument = FreqNumber,
     .check = OwnedOrOperator,
     .handler = handleFunreg,
     .help = "Unregisters a freq that you own\n"
             "Only the owner or an operator can unregister a freq"},
    {.word = "freqs",
     .level = Everyone,
     .handler = handleFreqs,
     .help = "Displays all registered freqs and their details"},
    {.word = "fname",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "name",
     .check = Owned,
     .handler = handleSetField,
     .sets = RecordField::FreqName,
     .help = "Sets the name of the freq"},
    {.word = "fjoin",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "password",
     .check = Registered,
     .handler = handleFjoin,
     .help = "Invites you to the specified freq"},
    {.word = "fkick",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "player name",
     .check = Owned,
     .handler = handleFkick,
     .help = "Kicks a player from your freq"},
    {.word = "fpass",
     .level = Everyone,
     .argument = StrictColon,
     .argumentName = "password",
     .check = Owned,
     .handler = handleSetField,
     .sets = RecordField::Password,
     .help = "Changes the password of a freq"},
    {.word = "fsquad",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "squad",
     .check = Owned,
     .handler = handleSetField,
     .sets = RecordField::AllowedSquad,
     .help = "Allows all members of a squad to join the freq"},
    {.word = "fgrant",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "player name",
     .check = Owned,
     .handler = handleFgrant,
     .help = "Gives ownership of a freq to another player\n"
             "The other player must be in the arena"},
    {.word = "fwelc",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "welcome message",
     .check = Owned,
     .handler = handleSetField,
     .sets = RecordField::Welcome,
     .help = "Changed the message said when a player joins a freq\n"
             "Macros: %name%   - Name of the player\n"
             "        %fnum%   - Freq number\n"
             "        %fname%  - Freq name\n"
             "        %fsquad% - The squad allowed on the freq\n"
             "        %sq%     - Squad of the player\n"
             "        %points% - Points of player"},
    {.word = "finv",
     .level = Everyone,
     .argument = LenientColon,
     .argumentName = "player name",
     .check = Owned,
     .handler = handleFinv,
     .help = "Invites a player to a freq\n"
             "The player must be in the arena"},
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
