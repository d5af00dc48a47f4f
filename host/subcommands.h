// Every subcommand of the program hadrok registers itself with one call from
// main. A subcommand's callback prints its own messages and, to end the
// program with a failure, throws CLI::RuntimeError(exitCode).
#pragma once

#include <CLI/CLI.hpp>

// hadrok run [SCRIPT] [--plugin PATH] [--frozen-clock] (host/run_command.cpp)
void addRunCommand(CLI::App& app);
// hadrok teams list|export|import|check|salvage (tools/teams_command.cpp)
void addTeamsCommands(CLI::App& app);
