// The program's own commands run from a script's "tool" line, in this
// process, so that they read the script's clocks: main gives them (none
// until then). The words are those after "tool" ("teams list ..."); the
// result is the exit status the program would end with.
#pragma once

#include <string>
#include <vector>

using ProgramCommands = int (*)(const std::vector<std::string>& words);
void setProgramCommands(ProgramCommands commands);
ProgramCommands programCommands();
