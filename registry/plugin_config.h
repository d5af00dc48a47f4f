// The settings of section Config in freqs.ini, read at each connection. What
// each key is, is a row of config_keys.h.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct PluginConfig {
    uint32_t maxOwnedFreqs = 0;
    uint32_t inviteExpireSeconds = 0;
    uint32_t autoSaveDelay = 0;
    uint32_t auditLog = 0; // 0 turns the audit log off
    // Dated backups kept (0: none), and undo snapshots of each kind (0: the newest alone).
    uint32_t backups = 0;
    uint32_t expireUnusedDays = 0; // freqs unused for longer expire; 0 turns it off
};

struct LoadedConfig {
    PluginConfig values;
    // One line for each value that is not numeric, in the keys' order, for
    // the caller to show the operator.
    std::vector<const char*> errorLines;
    // One line for each key of [Config] that is no setting (a misspelt one
    // sets nothing, and the operator would never know), in the file's order.
    std::vector<std::string> unknownKeyLines;
    // Why the file itself could not be read (its folder's name too long, no
    // permission, no file handles left), when it could not: every value then
    // takes its default, and the operator must hear that.
    std::string fileProblem;
};

// Reads freqs.ini from the current directory; a value that is not numeric
// takes its default.
LoadedConfig loadConfig();

// The same for the settings file at path (a full path, as the system's
// reader needs; null: none, every default), as a tool reads a registry's
// folder.
LoadedConfig loadConfigFile(const char* path);

// Every setting at its default, as a missing file gives them.
PluginConfig defaultConfig();

// One setting as the plug-in takes it from a file, for the operator's check.
struct ConfigSetting {
    const struct ConfigKey& row;
    std::string text; // what the profile reader gave: at most configValueSize() - 1 bytes
    bool numeric;
    uint32_t value; // the value used: the text's, or the fallback
};

// Every setting of the file at path (null: none, every default), in the
// order loadConfig reads them, read the way it reads them.
std::vector<ConfigSetting> readConfigSettings(const char* path);

// The size of the buffer each value is fetched into.
uint32_t configValueSize();

// The line for a key of [Config] that no row knows, naming the nearest
// setting when one is close; empty for a comment-like name (";K", "#K").
std::string unknownKeyLine(const std::string& name);
