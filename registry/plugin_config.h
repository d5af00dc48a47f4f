// The settings of section Config in freqs.ini, read at each connection.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PluginConfig {
    uint32_t maxOwnedFreqs = 0;
    uint32_t inviteExpireSeconds = 0;
    uint32_t autoSaveDelay = 0;
    uint32_t auditLog = 0;         // 0 turns the audit log off
    uint32_t backups = 0;          // dated registry backups kept; 0 turns them off
    uint32_t expireUnusedDays = 0; // freqs unused for longer expire; 0 turns it off
};

struct LoadedConfig {
    PluginConfig values;
    // One line for each value that is not numeric, in the keys' order, for
    // the caller to show the operator.
    std::vector<const char*> errorLines;
    // Why the file itself could not be read (its folder's name too long, no
    // permission, no file handles left), when it could not: every value then
    // takes its default, and the operator must hear that.
    std::string fileProblem;
};

// Reads freqs.ini from the current directory; a value that is not numeric
// takes its default.
LoadedConfig loadConfig();
