#include "commands/command_table.h"

#include "commands/commands.h"

namespace {

const char* const freqkillHelp[] = {"!freqkill", "Syntax: !freqkill <owner name>",
                                    "Deletes all freqs owned by the player", nullptr};
const char* const freqresetHelp[] = {"!freqreset", "Syntax: !freqreset", "Clears the freq database",
                                     nullptr};
const char* const aboutHelp[] = {"!about", "Syntax: !about", "Displays info about bot", nullptr};
const char* const fregHelp[] = {
    "!freg",
    "Syntax: !freg <freq>:<password>",
    "Registers a freq in your name. Only people who you invite or who know the password can "
    "join it",
    "You can also set it so only a certain squad can join it",
    "Freq must be at least 100",
    nullptr};
const char* const funregHelp[] = {"!funreg", "Syntax: !funreg <freq>",
                                  "Unregisters a freq that you own",
                                  "Only the owner or an operator can unregister a freq", nullptr};
const char* const freqsHelp[] = {"!freqs", "Syntax: !freqs",
                                 "Displays all registered freqs and their details", nullptr};
const char* const fnameHelp[] = {"!fname", "Syntax: !fname <freq>:<name>",
                                 "Sets the name of the freq", nullptr};
const char* const fjoinHelp[] = {"!fjoin", "Syntax: !fjoin <freq>:<password>",
                                 "Invites you to the specified freq", nullptr};
const char* const fkickHelp[] = {"!fkick", "Syntax: !fkick <freq>:<player name>",
                                 "Kicks a player from your freq", nullptr};
const char* const fpassHelp[] = {"!fpass", "Syntax: !fpass <freq>:<password>",
                                 "Changes the password of a freq", nullptr};
const char* const fsquadHelp[] = {"!fsquad", "Syntax: !fsquad <freq>:<squad>",
                                  "Allows all members of a squad to join the freq", nullptr};
const char* const fgrantHelp[] = {"!fgrant", "Syntax: !fgrant <freq>:<player name>",
                                  "Gives ownership of a freq to another player",
                                  "The other player must be in the arena", nullptr};
const char* const fwelcHelp[] = {"!fwelc",
                                 "Syntax: !fwelc <freq>:<welcome message>",
                                 "Changed the message said when a player joins a freq",
                                 "Macros: %name%   - Name of the player",
                                 "        %fnum%   - Freq number",
                                 "        %fname%  - Freq name",
                                 "        %fsquad% - The squad allowed on the freq",
                                 "        %sq%     - Squad of the player",
                                 "        %points% - Points of player",
                                 nullptr};
const char* const finvHelp[] = {"!finv", "Syntax: !finv <freq>:<player name>",
                                "Invites a player to a freq", "The player must be in the arena",
                                nullptr};

using enum Access;
using enum ListLine;

} // namespace

// The freqreset topic is open to every level, though only operators may run it.
const CommandEntry commandTable[] = {
    {"freqkill", Operators, handleFreqkill, OperatorLine, Operators, freqkillHelp, nullptr},
    {"freqreset", Operators, handleFreqreset, OperatorLine, Everyone, freqresetHelp, nullptr},
    {"about", Everyone, handleAbout, AboutLine, Everyone, aboutHelp, nullptr},
    {"freg", Everyone, handleFreg, PlayerLine, Everyone, fregHelp, helpFregLimit},
    {"funreg", Everyone, handleFunreg, PlayerLine, Everyone, funregHelp, nullptr},
    {"freqs", Everyone, handleFreqs, PlayerLine, Everyone, freqsHelp, nullptr},
    {"fname", Everyone, handleFname, PlayerLine, Everyone, fnameHelp, nullptr},
    {"fjoin", Everyone, handleFjoin, PlayerLine, Everyone, fjoinHelp, nullptr},
    {"fkick", Everyone, handleFkick, PlayerLine, Everyone, fkickHelp, nullptr},
    {"fpass", Everyone, handleFpass, PlayerLine, Everyone, fpassHelp, nullptr},
    {"fsquad", Everyone, handleFsquad, PlayerLine, Everyone, fsquadHelp, nullptr},
    {"fgrant", Everyone, handleFgrant, PlayerLine, Everyone, fgrantHelp, nullptr},
    {"fwelc", Everyone, handleFwelc, PlayerLine, Everyone, fwelcHelp, nullptr},
    {"finv", Everyone, handleFinv, PlayerLine, Everyone, finvHelp, nullptr},
};
const size_t commandCount = sizeof commandTable / sizeof commandTable[0];
