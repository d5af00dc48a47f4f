// Arbitrary bytes as profile text. The first byte picks a buffer size, a key
// and whether freqs.ini is read too; the rest is the text. A value must come back zero-terminated
// inside the buffer, and text without any '=' holds no key, so the default must come back. The same
// text as freqs.ini must configure a bot exactly as the in-memory reader says, with one error line
// for each value that is not a number.
#include <cstring>
#include <memory>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "platform/profile_reader.h"
#include "registry/plugin_config.h"
#include "text/number.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const char* keys[] = {"MaxOwnedFreqs", "InviteExpireSeconds", "AutoSaveDelay",
                          " autosavedelay "};
    const char* text = reinterpret_cast<const char*>(data + 1);
    size_t textSize = size - 1;

    uint32_t bufferSize = 1 + data[0] % 32;
    auto buffer = std::make_unique<char[]>(bufferSize); // exactly sized: ASan sees any overrun
    std::memset(buffer.get(), 'x', bufferSize);
    uint32_t length = profileStringFromText(text, textSize, "Config", keys[data[0] / 32 % 4],
                                            "def ault ", buffer.get(), bufferSize);
    FUZZ_CHECK(length < bufferSize &&
               std::memchr(buffer.get(), 0, bufferSize) == buffer.get() + length);
    if (!std::memchr(text, '=', textSize))
        FUZZ_CHECK(std::string(buffer.get()) == std::string("def ault").substr(0, bufferSize - 1));

    if (data[0] < 0xE0) // reading the file costs far more than the rest: one time in 8
        return 0;
    writeFile("freqs.ini", std::string_view(text, textSize));
    const LoadedConfig loaded = loadConfig();
    for (std::string_view line : loaded.errorLines)
        FUZZ_CHECK(line.starts_with("freqs.ini error: Config:") &&
                   line.ends_with(" must be numeric"));
    const char* names[] = {"MaxOwnedFreqs", "InviteExpireSeconds", "AutoSaveDelay", "AuditLog",
                           "Backups",       "ExpireUnusedDays"};
    const char* defaults[] = {"3", "30", "300", "1", "7", "0"}; // also the values after an error
    const uint32_t PluginConfig::*fields[] = {
        &PluginConfig::maxOwnedFreqs, &PluginConfig::inviteExpireSeconds,
        &PluginConfig::autoSaveDelay, &PluginConfig::auditLog,
        &PluginConfig::backups,       &PluginConfig::expireUnusedDays};
    uint32_t badValues = 0;
    for (int k = 0; k < 6; ++k) {
        char value[16] = {};
        profileStringFromText(text, textSize, "Config", names[k], defaults[k], value, sizeof value);
        bool numeric = isNumeric(value);
        badValues += !numeric;
        uint32_t expected =
            numeric ? uint32_t(textToNumber(value, 10)) : leadingNumber(defaults[k]);
        FUZZ_CHECK(loaded.values.*fields[k] == expected);
    }
    FUZZ_CHECK(loaded.errorLines.size() == badValues);
    return 0;
}
