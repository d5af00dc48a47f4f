#include "plugin/plugin_state.h"

#include <new>

#include "registry/audit_log.h"
#include "registry/freq_expiry.h"
#include "registry/plugin_config.h"

void startPluginState(PluginState& state) {
    openRegistryStore(state.store);
    setAuditLogFile(holdsRegistry(state.store) ? auditLogFileName : "");
    try {
        loadRegistryFile(state.store, state.registry);
    } catch (const std::bad_alloc&) {
        // A file of whole records that did not fit in memory: it is sound,
        // so it stays where it is, and an empty registry must never be
        // saved over it.
        state.store.load.outcome = LoadOutcome::notUsable;
        state.store.load.reason = "not enough memory to load it";
        state.store.load.moveReason = "its records are whole";
    }
}

void expireAtLoad(PluginState& state) {
    state.loadSwept = true;
    // No bot is connected yet to hear a bad value's error line; the first to
    // connect reads the file again and is told.
    const PluginConfig config = loadConfig().values;
    if (config.expireUnusedDays == 0) return;
    const ExpirySweep sweep =
        expireUnusedFreqs(state.registry, state.store, config.expireUnusedDays, config.backups,
                          actorWithoutPlayer(0, config.auditLog != 0));
    state.loadSweepNotice = sweep.notice;
}

void stopPluginState(PluginState& state) {
    endAuditLog();
    const AuditActor plugin = actorWithoutPlayer(0, state.auditLogEnabled);
    if (!state.loadLogged) {
        state.loadLogged = true;
        const std::string text = loadAuditText(state.store.load);
        if (!text.empty()) auditLog(plugin, "load", noFreq, text);
    }
    // Nobody is left to hear an echo: what went wrong goes to the log.
    const SaveReport save = saveRegistryFile(state.store, state.registry, state.datedBackupsToKeep);
    const std::string text = saveAuditText(save);
    if (!text.empty()) auditLog(plugin, "save", noFreq, text);
    closeRegistryStore(state.store);
}
