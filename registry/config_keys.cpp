#include "registry/config_keys.h"

#include <string>

#include "text/ascii.h"

namespace {

// Up to this many seconds the lifetime fits in the milliseconds that the tick
// counter can tell apart; beyond it an invitation outlives every count.
constexpr uint32_t longestInviteSeconds = 4294967;

std::string plural(uint32_t n, const char* one, const char* many) {
    return std::to_string(n) + " " + (n == 1 ? one : many);
}

// How the replies print a value: as a signed number.
std::string shown(uint32_t v) {
    return std::to_string(int32_t(v));
}

bool noAutoSave(uint32_t delay) {
    return delay == 0 || int32_t(delay) < 0;
}

SettingMeaning maxOwnedFreqs(uint32_t v, const PluginConfig&) {
    if (v == 0)
        return {"nobody may register a freq or be handed one; players read \"You can "
                "register a maximum of 0 freqs\"",
                true};
    if (int32_t(v) < 0)
        return {"no limit; players read \"You can register a maximum of " + shown(v) + " freqs\"",
                true};
    if (v > 65535) return {"no limit in practice (there are fewer freq numbers)"};
    return {"a player may own up to " + plural(v, "freq", "freqs") +
            " (registered with !freg or handed over with !fgrant)"};
}

SettingMeaning inviteExpireSeconds(uint32_t v, const PluginConfig&) {
    if (v == 0)
        return {"an invitation lasts only until the next expiry pass (every fifth tick); "
                "players read \"You have 0 seconds to join the freq\"",
                true};
    if (v > longestInviteSeconds)
        return {int32_t(v) < 0 ? "invitations never expire while the plug-in is loaded; players "
                                 "read \"You have " +
                                     shown(v) + " seconds to join the freq\""
                               : "invitations never expire while the plug-in is loaded",
                true};
    return {"an invitation (!fjoin, !finv) lets its player join for " +
            plural(v, "second", "seconds") +
            "; it ends at the first expiry pass after that, and the plug-in makes one every "
            "fifth tick"};
}

SettingMeaning autoSaveDelay(uint32_t v, const PluginConfig&) {
    if (v == 0)
        return {"the registry is saved only when the plug-in is unloaded; a crash loses "
                "every change since the load",
                true};
    if (int32_t(v) < 0)
        return {"the first autosave comes after " + std::to_string(v) +
                    " ticks, so in practice the registry is saved only when the plug-in is "
                    "unloaded; a crash loses every change since the load",
                true};
    return {"the registry is saved every " + plural(v, "tick", "ticks") +
            " and when the plug-in is unloaded; how long a tick is, is the host's choice"};
}

SettingMeaning auditLog(uint32_t v, const PluginConfig&) {
    if (v == 0) return {"no audit log: changes of the registry are not written to hadrok.log"};
    return {"every change of the registry is written to hadrok.log", int32_t(v) < 0};
}

SettingMeaning backups(uint32_t v, const PluginConfig&) {
    if (v == 0)
        return {"no dated backups (those already there stay), and of each kind of undo "
                "snapshot (before-freqreset, before-freqkill, before-expiry, and the teams "
                "tools' before-<command>) only the newest is kept"};
    return {"the newest " + plural(v, "dated backup", "dated backups") +
                " (Zandrel.teams.YYYY-MM-DD) are kept, and the newest " +
                plural(v, "undo snapshot", "undo snapshots") + " of each kind",
            int32_t(v) < 0};
}

SettingMeaning expireUnusedDays(uint32_t v, const PluginConfig& all) {
    if (v == 0) return {"freqs never expire for lack of use"};
    if (int32_t(v) < 0)
        return {"freqs unused for more than " + std::to_string(v) +
                    " days expire: in practice never",
                true};
    return {"freqs unused for more than " + plural(v, "day", "days") +
            " are unregistered, after a before-expiry snapshot, when the plug-in is loaded" +
            (noAutoSave(all.autoSaveDelay) ? " (with no autosave, only then)"
                                           : " and at each autosave")};
}

// The third error line names no key; operators' scripts may match on it as it
// is.
const ConfigKey rows[] = {
    {"MaxOwnedFreqs", "3", 3, "freqs.ini error: Config:MaxOwnedFreqs must be numeric",
     &PluginConfig::maxOwnedFreqs, maxOwnedFreqs},
    {"InviteExpireSeconds", "30", 30, "freqs.ini error: Config:InviteExpireSeconds must be numeric",
     &PluginConfig::inviteExpireSeconds, inviteExpireSeconds},
    {"AutoSaveDelay", "300", 300, "freqs.ini error: Config: must be numeric",
     &PluginConfig::autoSaveDelay, autoSaveDelay},
    {"AuditLog", "1", 1, "freqs.ini error: Config:AuditLog must be numeric",
     &PluginConfig::auditLog, auditLog},
    {"Backups", "7", 7, "freqs.ini error: Config:Backups must be numeric", &PluginConfig::backups,
     backups},
    {"ExpireUnusedDays", "0", 0, "freqs.ini error: Config:ExpireUnusedDays must be numeric",
     &PluginConfig::expireUnusedDays, expireUnusedDays},
};

} // namespace

std::span<const ConfigKey> configKeys() {
    return rows;
}

const ConfigKey* findConfigKey(std::string_view name) {
    for (const ConfigKey& row : rows)
        if (equalsNoCase(name, row.key)) return &row;
    return nullptr;
}
