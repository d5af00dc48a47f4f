#include "registry/plugin_config.h"

#include <cstring>
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
        char value[valueSize] = {};
        if (havePath)
            readProfileString("Config", k.key, k.defaultText, value, valueSize, path);
        else
            std::strcpy(value, k.defaultText);
        if (isNumeric(value)) {
            loaded.values.*k.field = uint32_t(textToNumber(value, 10));
        } else {
            loaded.errorLines.push_back(k.errorLine);
            loaded.values.*k.field = k.fallback;
        }
    }
    return loaded;
}
