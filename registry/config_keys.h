// The settings of freqs.ini, one row each: everything the plug-in, config
// check and the tools know of a setting is in its row, so a new setting is
// one row (and its field in PluginConfig).
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "registry/plugin_config.h"

// What a value means to players and to the operator, in the plug-in's terms;
// surprising: config check counts it as a finding.
struct SettingMeaning {
    std::string text;
    bool surprising = false;
};

struct ConfigKey {
    const char* key;         // in section Config; compared ignoring case
    const char* defaultText; // what the reader is given for a missing file or key
    uint32_t fallback;       // the value when the text is not a whole number
    const char* errorLine;   // what the host's operator is shown then
    uint32_t PluginConfig::*field;
    // value: this setting's; all: every setting as it will be used.
    SettingMeaning (*meaning)(uint32_t value, const PluginConfig& all);
};

// Every setting, in the order the plug-in reads them.
std::span<const ConfigKey> configKeys();

// The row of a key named in a file (any letter case); null when none is.
const ConfigKey* findConfigKey(std::string_view name);
