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

void addTeamsListCommand(CLI::App& teams);
void addTeamsExportCommand(CLI::App& teams);
void addTeamsImportCommand(CLI::App& teams);
void addTeamsCheckCommand(CLI::App& teams);
void addTeamsSalvageCommand(CLI::App& teams);
void addTeamsDiffCommand(CLI::App& teams);
void addTeamsPasswdCommand(CLI::App& teams);
void addTeamsPruneCommand(CLI::App& teams);
void addTeamsRestoreCommand(CLI::App& teams);
void addTeamsRemoveCommand(CLI::App& teams);
void addTeamsRecoverCommand(CLI::App& teams);
