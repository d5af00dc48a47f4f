#include "cli/program_commands.h"

namespace {

ProgramCommands givenCommands = nullptr;

} // namespace

void setProgramCommands(ProgramCommands commands) {
    givenCommands = commands;
}

ProgramCommands programCommands() {
    return givenCommands;
}
