// Every subcommand of the program hadrok registers itself with one call from
// main. A subcommand's callback prints its own messages and, to end the
// program with a failure, throws CLI::RuntimeError(exitCode).
#pragma once

#include <CLI/CLI.hpp>

#include "text/program_name.h"

// The exit status of every usage mistake, as most command-line tools use it.
constexpr int usageStatus = 2;

// A usage mistake found by a subcommand itself, after the parser accepted the
// line. main prints it as one line, "hadrok SUBCOMMAND: message", and exits
// with usageStatus.
struct UsageMistake : CLI::ParseError {
    explicit UsageMistake(const std::string& message)
        : CLI::ParseError("UsageMistake", message, usageStatus) {}
};

// CLI11 validators whose refusals read "--option: VALUE is not a count".
// A count is a whole number from 0 to the given maximum, in decimal digits.
CLI::Validator countValidator(uint64_t maximum);
// The same for a freq number, 0 to 65535: "VALUE is not a freq number".
CLI::Validator freqValidator();

// hadrok run [SCRIPT] [--plugin PATH] [--frozen-clock] [--in-this-folder] (host/run_command.cpp)
void addRunCommand(CLI::App& app);
// hadrok teams list|export|import|check|salvage|diff|passwd|prune|remove|restore
// (tools/teams_command.cpp)
void addTeamsCommands(CLI::App& app);
// hadrok config check [FILE] (tools/config_check.cpp)
void addConfigCommands(CLI::App& app);
// hadrok status [DIR] (tools/status.cpp)
void addStatusCommand(CLI::App& app);
