#include "registry/plugin_config.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "text/number.h"

namespace {

struct ConfigKey {
    const char* key;
    const char* defaultText;
    uint32_t fallback;
    const char* errorLine;
    uint32_t PluginConfig::*field;
};

// The third line names no key; operators' scripts may match on it as it is.
const ConfigKey configKeys[] = {
    {"MaxOwnedFreqs", "3", 3, "freqs.ini error: Config:MaxOwnedFreqs must be numeric",
     &PluginConfig::maxOwnedFreqs},
    {"InviteExpireSeconds", "30", 30, "freqs.ini error: Config:InviteExpireSeconds must be numeric",
     &PluginConfig::inviteExpireSeconds},
    {"AutoSaveDelay", "300", 300, "freqs.ini error: Config: must be numeric",
     &PluginConfig::autoSaveDelay},
    {"AuditLog", "1", 1, "freqs.ini error: Config:AuditLog must be numeric",
     &PluginConfig::auditLog},
    {"Backups", "7", 7, "freqs.ini error: Config:Backups must be numeric", &PluginConfig::backups},
    {"ExpireUnusedDays", "0", 0, "freqs.ini error: Config:ExpireUnusedDays must be numeric",
     &PluginConfig::expireUnusedDays},
};

constexpr uint32_t directorySize = 520;
constexpr uint32_t valueSize = 16;

// The text the plug-in gets for one key, as loadConfig fetches it; a null
// path gives the default text.
std::string fetchValue(const ConfigKey& k, const char* path) {
    char value[valueSize] = {};
    if (path)
        readProfileString("Config", k.key, k.defaultText, value, valueSize, path);
    else
        std::strcpy(value, k.defaultText);
    return value;
}

} // namespace

LoadedConfig loadConfig() {
    LoadedConfig loaded;
    char path[directorySize + 16] = {};
    // A directory too long for its buffer is treated as a missing file: the
    // defaults, rather than a file of the same name somewhere else.
    bool havePath = currentDirectory(path, directorySize);
    if (havePath) {
        std::strcat(path, configFileSuffix);
        if (profileFileState(path) == ProfileFileState::unreadable) {
            loaded.fileProblem = std::string("freqs.ini error: ") + path + " could not be read (" +
                                 lastSystemError() + "); every setting takes its default";
            havePath = false;
        }
    } else {
        loaded.fileProblem = "freqs.ini error: the current directory could not be told (its "
                             "name may be too long); every setting takes its default";
    }
    for (const ConfigKey& k : configKeys) {
        const std::string value = fetchValue(k, havePath ? path : nullptr);
        if (isNumeric(value.c_str())) {
            loaded.values.*k.field = uint32_t(textToNumber(value.c_str(), 10));
        } else {
            loaded.errorLines.push_back(k.errorLine);
            loaded.values.*k.field = k.fallback;
        }
    }
    return loaded;
}

PluginConfig defaultConfig() {
    PluginConfig config;
    for (const ConfigKey& k : configKeys)
        config.*k.field = k.fallback;
    return config;
}

std::vector<ConfigSetting> readConfigSettings(const char* path) {
    std::vector<ConfigSetting> settings;
    for (const ConfigKey& k : configKeys) {
        ConfigSetting setting{k.key, k.defaultText, k.errorLine, fetchValue(k, path),
                              false, k.fallback};
        setting.numeric = isNumeric(setting.text.c_str());
        if (setting.numeric) setting.value = uint32_t(textToNumber(setting.text.c_str(), 10));
        settings.push_back(std::move(setting));
    }
    return settings;
}

uint32_t configValueSize() {
    return valueSize;
}
