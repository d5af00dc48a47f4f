// The plug-in's process state: everything that outlives one call from the
// host. There is one, made in entry.cpp when the library is loaded and ended
// when it is unloaded; every function that needs a part of it is handed that
// part. Its members are made in the order they are declared and ended in the
// reverse order, after stopPlugin has made the last save.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "hostlink/bot_instance.h"
#include "plugin/reentry_queue.h"
#include "registry/audit_log.h"
#include "registry/freq_registry.h"
#include "registry/plugin_config.h"
#include "registry/registry_store.h"

struct PluginState {
    // The audit log's file and troubles. First, so that it is there for
    // everything below and outlasts them.
    AuditLog log;
    // freqs.ini as last read (by readSettings: at the load's sweep, then at
    // each connection), for the work no bot does: the load's sweep and the
    // save at unload. Each bot keeps what it was given at its connection for
    // its own work (BotInstance::iniConfig).
    PluginConfig lastIniConfig = defaultConfig();
    // The registry's folder, lock and files, and the freqs they hold.
    RegistryStore store;
    FreqRegistry registry;
    // One per host bot, made at its first call and kept while loaded.
    BotInstanceList bots;
    // Calls the host made while another was running.
    ReentryQueue reentry;
    // The load's outcome is told at the first accepted connection, and
    // logged then if that bot's AuditLog allows.
    bool loadTold = false;
    bool loadLogged = false;
    // Freqs unused too long expire once at load, before the first event is
    // handled; what that did waits, like the load's outcome, for the first
    // accepted connection.
    bool loadSwept = false;
    std::string loadSweepNotice;
    // The autosave's notice that the registry's file is left alone, as last
    // told: the same one is not told again.
    std::string leftAloneTold;
    // Each kind of failure that ended an event is told once.
    std::vector<std::string> failuresTold;
};

// Library load: the folder and its lock, then the registry file. A failure
// is noted, never thrown: the host must load on, the file is left as it is
// and never saved over, and the first connection says why. It runs under
// the system's loader lock, so it takes the lock and loads, no more: the
// load's sweep waits for the first call.
void startPlugin(PluginState& state) noexcept;

// Library unload: the last save (a failure goes to the audit log and to
// standard error), then the lock is released. Never throws.
void stopPlugin(PluginState& state) noexcept;

// The steps of the two above, each of which may throw.
void startPluginState(PluginState& state);
void stopPluginState(PluginState& state);

// Reads freqs.ini, the only place the plug-in does: the values become the
// process's settings, and are returned with the lines the operator of a
// connecting bot is to be told.
LoadedConfig readSettings(PluginState& state);

// Only the holder of the registry's lock writes the audit log, in the
// registry's folder; the log follows the lock when it is taken later or lost.
void followRegistryLock(PluginState& state);

// What to remember when the start itself failed: the registry's file is
// then in an unknown state and is never saved over.
void noteFailedStart(PluginState& state, const std::string& reason);

// The expiry sweep that belongs to the load, run when the host first calls
// the plug-in: no bot has connected yet, so the settings read here have
// their errors told by the first connection, which reads them again.
void expireAtLoad(PluginState& state);

// What failed at the start (the lock, a passing failure of the load) is
// tried again: the lock with changes in memory too, kept only while the file
// is as loaded. The line to tell when that changed something; empty
// otherwise.
// tookOver: the lock was taken with changes in memory, to be saved from now
// on (told even at the first connection, where the load's words are said).
std::string retryStart(PluginState& state, bool* tookOver = nullptr);

// The audit actor for the plug-in's own lines (no bot, no player), as the
// process's settings allow.
AuditActor pluginActor(const PluginState& state);

// The plain words for an exception that ended some work (null: one that is
// no std::exception). No exception_ptr: the plug-in exports nothing but talk.
std::string failureText(const std::exception* failure);
