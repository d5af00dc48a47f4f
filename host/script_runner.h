// The script language of "hadrok run": one line, one action of the host.
#pragma once

#include <string>
#include <string_view>

#include "host/simulator.h"

// What a line asked for beyond its own action.
enum class LineResult { Continue, Exit };

// Plays one script line. Blank lines and comments do nothing. Throws
// ScriptError for a malformed line and HostFailure when the host itself fails.
LineResult runScriptLine(Simulator& sim, std::string_view line);

// The language at a glance, for "help" and the command's own help text.
const std::string& scriptLanguageHelp();
