#include "registry/plugin_config.h"

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "registry/config_keys.h"
#include "text/ascii.h"
#include "text/edit_distance.h"
#include "text/number.h"

namespace {

constexpr const char* section = "Config";
constexpr uint32_t directorySize = 520;
constexpr uint32_t valueSize = 16;
// A file of many stray keys gets this many lines and one that counts the
// rest, not a window full; and a name is shown up to this many bytes.
constexpr size_t unknownKeysTold = 3;
constexpr size_t nameShown = 40;

// The text the plug-in gets for one key; a null path gives the default text.
std::string fetchValue(const ConfigKey& k, const char* path) {
    char value[valueSize] = {};
    if (path)
        readProfileString(section, k.key, k.defaultText, value, valueSize, path);
    else
        std::strcpy(value, k.defaultText);
    return value;
}

} // namespace

LoadedConfig loadConfigFile(const char* path) {
    LoadedConfig loaded;
    for (const ConfigSetting& s : readConfigSettings(path)) {
        loaded.values.*s.row.field = s.value;
        if (!s.numeric) loaded.errorLines.push_back(s.row.errorLine);
    }
    if (!path) return loaded;
    size_t unknown = 0;
    for (const std::string& name : readProfileKeyNames(section, path)) {
        std::string line = unknownKeyLine(name);
        if (line.empty()) continue;
        if (++unknown <= unknownKeysTold) loaded.unknownKeyLines.push_back(std::move(line));
    }
    if (unknown > unknownKeysTold)
        loaded.unknownKeyLines.push_back(
            "freqs.ini error: " + std::to_string(unknown - unknownKeysTold) +
            " more keys of Config are not settings; hadrok config check lists them");
    return loaded;
}

LoadedConfig loadConfig() {
    char path[directorySize + 16] = {};
    // A directory too long for its buffer is treated as a missing file: the
    // defaults, rather than a file of the same name somewhere else.
    std::string problem;
    bool havePath = currentDirectory(path, directorySize);
    if (havePath) {
        std::strcat(path, configFileSuffix);
        if (profileFileState(path) == ProfileFileState::unreadable) {
            problem = std::string("freqs.ini error: ") + path + " could not be read (" +
                      lastSystemError() + "); every setting takes its default";
            havePath = false;
        }
    } else {
        problem = "freqs.ini error: the current directory could not be told (its "
                  "name may be too long); every setting takes its default";
    }
    LoadedConfig loaded = loadConfigFile(havePath ? path : nullptr);
    loaded.fileProblem = std::move(problem);
    return loaded;
}

PluginConfig defaultConfig() {
    PluginConfig config;
    for (const ConfigKey& k : configKeys())
        config.*k.field = k.fallback;
    return config;
}

std::vector<ConfigSetting> readConfigSettings(const char* path) {
    std::vector<ConfigSetting> settings;
    for (const ConfigKey& k : configKeys()) {
        ConfigSetting setting{k, fetchValue(k, path), false, k.fallback};
        setting.numeric = isNumeric(setting.text.c_str());
        if (setting.numeric) setting.value = uint32_t(textToNumber(setting.text.c_str(), 10));
        settings.push_back(std::move(setting));
    }
    return settings;
}

uint32_t configValueSize() {
    return valueSize;
}

std::string unknownKeyLine(const std::string& name) {
    if (name.empty() || name[0] == ';' || name[0] == '#' || findConfigKey(name)) return {};
    std::vector<std::string> keys;
    for (const ConfigKey& k : configKeys())
        keys.emplace_back(k.key);
    const std::string near = nearestName(name, keys);
    // The name is the file's: shown as plain ASCII, and cut, in the host's
    // window.
    std::string shown = escapedBytes(std::string_view(name).substr(0, nameShown));
    if (name.size() > nameShown) shown += "...";
    return "freqs.ini error: Config:" + shown + " is not a setting and is ignored" +
           (near.empty() ? std::string() : " (did you mean " + near + "?)");
}
