// The plug-in's process-wide state: the registry, its files, and what is
// still to be told to the host's operator. Made when the library is loaded
// and ended when it is unloaded; every bot instance shares it.
#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <vector>

#include "registry/freq_registry.h"
#include "registry/registry_store.h"

struct PluginState {
    FreqRegistry registry;
    RegistryStore store;
    // The load's outcome is told at the first accepted connection, and
    // logged then if that bot's AuditLog allows.
    bool loadTold = false;
    bool loadLogged = false;
    // Freqs unused too long expire once at load, before the first event is
    // handled; what that did waits, like the load's outcome, for the first
    // accepted connection.
    bool loadSwept = false;
    std::string loadSweepNotice;
    // The audit and backup settings of the last bot to connect, for the save
    // at unload, which no bot makes.
    bool auditLogEnabled = true;
    uint32_t datedBackupsToKeep = 7;
    // Each kind of failure that ended an event is told once.
    std::vector<std::string> failuresTold;
};

// Library load: the folder and its lock, then the registry file.
void startPluginState(PluginState& state);

// Only the holder of the registry's lock writes the audit log, in the
// registry's folder; the log follows the lock when it is taken later or lost.
void followRegistryLock(const PluginState& state);

// What to remember when the start itself failed: the registry's file is
// then in an unknown state and is never saved over.
void noteFailedStart(PluginState& state, const std::string& reason);

// The expiry sweep that belongs to the load, run when the host first calls
// the plug-in: no bot has connected yet, so freqs.ini is read here, without
// telling its errors (the first connection tells them).
void expireAtLoad(PluginState& state);

// While nothing has changed since the start, what failed then (the lock, a
// passing failure of the load) is tried again. The line to tell when that
// changed something; empty otherwise.
std::string retryStart(PluginState& state);

// Library unload: the last save (a failure goes to the audit log and to
// standard error), then the lock is released.
void stopPluginState(PluginState& state);

// The plain words for an exception that ended some work (null: one that is
// no std::exception). No exception_ptr: the plug-in exports nothing but talk.
std::string failureText(const std::exception* failure);
