#include "plugin/plugin_state.h"

#include <exception>
#include <new>

#include "registry/audit_log.h"
#include "registry/freq_expiry.h"
#include "registry/plugin_config.h"
#include "registry/registry_file.h"
#include "text/number.h"

void followRegistryLock(PluginState& state) {
    // The log is in the held folder, beside the lock and the registry. Where
    // the folder's files are reached by its path (Windows), none is written
    // once that path leads elsewhere, rather than one in a folder this
    // process never held.
    const RegistryStore& store = state.store;
    const bool logs =
        holdsRegistry(store) && (folderFollowsHandle || registryFolderAtItsName(store));
    const std::string name = logs ? auditLogFileName : "";
    if (name != state.log.name || store.held.handle != state.log.folder.handle ||
        store.held.path != state.log.folder.path)
        setAuditLogFile(state.log, store.held, name);
}

AuditActor pluginActor(const PluginState& state) {
    return actorWithoutPlayer(0, state.lastIniConfig.auditLog != 0);
}

LoadedConfig readSettings(PluginState& state) {
    LoadedConfig loaded = loadConfig();
    state.lastIniConfig = loaded.values;
    return loaded;
}

void startPluginState(PluginState& state) {
    openRegistryStore(state.store);
    followRegistryLock(state);
    loadRegistryFile(state.store, state.registry);
}

namespace {

void failedStart(PluginState& state, const std::exception* failure) noexcept {
    try {
        noteFailedStart(state, failureText(failure));
    } catch (...) {
        state.store.load.outcome = LoadOutcome::unknown;
    }
}

} // namespace

void startPlugin(PluginState& state) noexcept {
    try {
        startPluginState(state);
    } catch (const std::exception& e) {
        failedStart(state, &e);
    } catch (...) {
        failedStart(state, nullptr);
    }
}

void stopPlugin(PluginState& state) noexcept {
    try {
        stopPluginState(state);
    } catch (...) {
    }
}

void noteFailedStart(PluginState& state, const std::string& reason) {
    // Whatever the load got as far as, its outcome is not to be trusted.
    state.store.load.outcome = LoadOutcome::unknown;
    state.store.load.reason = "the plug-in's start failed: " + reason;
}

void expireAtLoad(PluginState& state) {
    state.loadSwept = true;
    // No bot is connected yet to hear a bad value's error line; the first to
    // connect reads the file again and is told.
    const PluginConfig config = readSettings(state).values;
    if (config.expireUnusedDays == 0) return;
    const ExpirySweep sweep =
        expireUnusedFreqs(state.registry, state.store, config.expireUnusedDays, config.backups,
                          state.log, pluginActor(state));
    state.loadSweepNotice = sweep.notice;
}

std::string retryStart(PluginState& state, bool* tookOver) {
    const bool held = holdsRegistry(state.store);
    const bool loadedAnew = retryRegistryStart(state.store, state.registry);
    // The lock may be taken even where nothing is loaded anew.
    followRegistryLock(state);
    if (state.store.lockTakenLate) {
        state.store.lockTakenLate = false;
        if (tookOver) *tookOver = true;
        return std::string("This process now holds ") + registryLockFileName +
               " (its holder has ended), and " + registryFileName +
               " is still as this one loaded it: its changes are saved to it from now on.";
    }
    if (!loadedAnew) return {};
    // The new outcome is told and logged like the first one.
    state.loadLogged = false;
    const std::string problem = loadNotice(state.store.load);
    if (!problem.empty()) return problem;
    const std::string freqs =
        std::string(numberToText(state.registry.freqs.count(), 10, 0, false).view());
    if (!held)
        return std::string("This process now holds ") + registryLockFileName + " and has loaded " +
               registryFileName + " afresh (" + freqs +
               " freqs); its changes are saved from now on.";
    return std::string("Registry file ") + registryFileName + " is loaded now (" + freqs +
           " freqs).";
}

void stopPluginState(PluginState& state) {
    followRegistryLock(state);
    endAuditLog(state.log);
    const AuditActor plugin = pluginActor(state);
    if (!state.loadLogged) {
        state.loadLogged = true;
        const std::string text = loadAuditText(state.store.load);
        if (!text.empty()) auditLog(state.log, plugin, "load", noFreq, text);
    }
    // Nobody is left to hear an echo: what went wrong goes to the log and
    // to the host's standard error.
    SaveReport save;
    try {
        flushAuditLog(state.log); // its lines before the changes they tell
        save = saveRegistryFile(state.store, state.registry, state.lastIniConfig.backups);
    } catch (const std::exception& e) {
        save.status = SaveStatus::failed;
        save.reason = failureText(&e);
    } catch (...) {
        save.status = SaveStatus::failed;
        save.reason = failureText(nullptr);
    }
    // The last save of the run: what it could not write goes beside.
    if (save.status == SaveStatus::failed || save.status == SaveStatus::notHeld) {
        const auto lost = [&save, &state](const std::exception* failure) {
            std::string which;
            try {
                which = changesSinceSave(state.store, state.registry);
            } catch (...) {
                // Told without the list, then.
            }
            save.sideProblem = "no side file could be written either (" + failureText(failure) +
                               "), so the changes made since the last save are lost" +
                               (which.empty() ? std::string() : " (" + which + ")");
        };
        try {
            keepInSideFile(state.store, state.registry, save);
        } catch (const std::exception& e) {
            lost(&e);
        } catch (...) {
            lost(nullptr);
        }
    }
    const std::string saved = savedAuditText(save);
    if (!saved.empty()) auditLog(state.log, plugin, "save", noFreq, saved);
    for (const std::string& line : prunedAuditTexts(save))
        auditLog(state.log, plugin, "save", noFreq, line);
    const std::string text = saveAuditText(save);
    if (!text.empty()) {
        writeStandardError("hadrok: at unload, " + text + "\n");
        auditLog(state.log, plugin, "save", noFreq, text);
    }
    // The last lines, the save's own among them, are made durable too: the
    // next run's saves would otherwise outlive them.
    try {
        flushAuditLog(state.log);
        // Let go before the folder it is reached through is closed.
        setAuditLogFile(state.log, Folder{}, {});
    } catch (...) {
    }
    closeRegistryStore(state.store);
}

std::string failureText(const std::exception* failure) {
    if (!failure) return "an unknown failure";
    if (dynamic_cast<const std::bad_alloc*>(failure)) return "not enough memory";
    return failure->what();
}
