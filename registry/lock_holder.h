// Who holds the registry's lock: its holder writes one line of plain text
// into Zandrel.teams.lock, "host PID YYYY-MM-DD HH:MM:SS" for a host's
// plug-in and "tool PID YYYY-MM-DD HH:MM:SS COMMAND" for a registry tool, so
// that a process refused can tell the operator who is in the way.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"

// This process's line: kind is "host" or "tool"; command (tools only) is
// what the operator ran, such as "hadrok teams restore".
std::string lockHolderLine(const char* kind, const std::string& command = {});

// Writes this process's line into a lock it holds. A lock file that can't be
// written is no reason to let go of the lock: refusals then use the general
// words.
void nameLockHolder(FileLock& lock, const char* kind, const std::string& command = {});

struct LockHolder {
    bool known = false;
    bool tool = false;
    uint32_t pid = 0;
    std::string since; // "YYYY-MM-DD HH:MM:SS", or empty when its clock gave none
    std::string command;
};

// What the lock file of that name in folder says of its holder; not known
// when it is empty, can't be read or is not such a line (an older version
// writes nothing).
LockHolder lockHolderAt(const Folder& folder, const char* name);

// "a host process (pid 4242)" or "a tool (pid 4242, hadrok teams restore)";
// empty when the holder is not known.
std::string lockHolderWords(const LockHolder& holder);
