// Script lines that look at and move files in the current directory, so a
// script can show what the plug-in wrote there (its log, its backups) and put
// a backup back in place as an operator would.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "host/simulator.h"

// "show FILE": the file's lines in the transcript, each escaped and led by
// "  | " ("  |" alone for an empty line); notes for a missing or empty file, a directory, and a
// last line without a newline; a file that is not regular or is larger than
// its budget (script_budgets.h) is not read, only named.
void runShow(Simulator& sim, const std::string& name);

// True when name matches pattern, where * matches any run of bytes (none
// included) and ? any one byte; every other byte matches only itself.
bool matchesPattern(std::string_view name, std::string_view pattern);

// "files PATTERN": the names in the current directory that match, sorted
// bytewise, each file with its size and each directory with a trailing /.
void runFiles(Simulator& sim, const std::string& pattern);

// "copy FROM TO": FROM copied over TO; throws HostFailure when it can't be.
void runCopy(const std::string& from, const std::string& to);
