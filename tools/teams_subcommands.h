// The subcommands under "hadrok teams", one registration each, and how they
// end: 0 done, 1 "findings" (check), "the files differ" (diff) or "side files
// wait, or one could not be read" (recover), 2 the file or input was refused
// or could not be read or written.
#pragma once

#include <functional>
#include <memory>
#include <string>

#include <CLI/CLI.hpp>

#include "cli/subcommands.h"

constexpr int teamsFailureStatus = 2;

// Runs a subcommand's work. A ToolFailure (or any other error) is printed as
// "hadrok teams NAME: message" on standard error and ends the program with
// status 2; a non-zero result of the work ends it with that status.
void runTeamsTool(const char* name, const std::function<int()>& work);
// The same for any operator tool: command is what follows the program's name
// in its messages, such as "config check".
void runOperatorTool(const std::string& command, const std::function<int()>& work);

// How many findings "hadrok config check FILE" reports; ToolFailure when the
// file can't be read.
size_t configFindingsOf(const std::string& file);

// The work of one subcommand, run once its command line is parsed.
using TeamsWork = std::function<int()>;

// One subcommand of "hadrok teams": its name and help line, and what adds its
// arguments and options to its CLI11 command and returns its work. The frame
// (teams_command.cpp) registers each row, and runs the work through
// runTeamsTool; a new subcommand is one row here and in teams_command.cpp's
// table, and its handler file.
struct TeamsSubcommand {
    const char* name;
    const char* help;
    TeamsWork (*define)(CLI::App& command);
};

// A row's define: the options, made when the command is registered, filled in
// by arguments as the line is parsed and read by work.
template <class Options, void (*arguments)(CLI::App&, Options&), int (*work)(const Options&)>
TeamsWork defineSubcommand(CLI::App& command) {
    auto options = std::make_shared<Options>();
    arguments(command, *options);
    return [options] { return work(*options); };
}

extern const TeamsSubcommand teamsList, teamsExport, teamsImport, teamsCheck, teamsSalvage,
    teamsDiff, teamsPasswd, teamsPrune, teamsRemove, teamsRestore, teamsRecover;
