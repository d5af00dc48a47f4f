// How the teams tools write files: never over what they read, never over
// anything but a regular file, never while a host uses the registry there,
// and atomically (a temporary beside the file, flushed, then renamed).
#pragma once

#include <string>
#include <vector>

struct WriteRules {
    // The files the command read ("-" is standard input): the output may not
    // be any of them, compared by identity, not by name.
    std::vector<std::string> inputs;
    // A registry file: refused while a host holds the lock in its directory.
    bool registry = false;
    // Writes although a host holds that lock.
    bool force = false;
};

// The lock file that a running host holds in its working directory.
constexpr const char* hostLockFileName = "Zandrel.teams.lock";

// Checks that data may be written to path under the rules, without writing;
// throws ToolFailure saying why not. Run before any output is printed.
void checkWritable(const std::string& path, const WriteRules& rules);

// Checks as above, then replaces path's contents with data. An existing file
// keeps its permissions; a new one is readable and writable by its owner only.
// On failure path is unchanged and ToolFailure names the system's reason.
void writeFileSafely(const std::string& path, const std::string& data, const WriteRules& rules);
