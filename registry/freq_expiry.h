// Freqs that lie unused expire: the rule, shared by the plug-in and the
// registry tool, and the plug-in's sweep that applies it to the registry.
#pragma once

#include <cstdint>
#include <string>

#include "registry/audit_log.h"
#include "registry/freq_registry.h"
#include "registry/registry_store.h"

constexpr int64_t secondsPerDay = 86400;

// Whether a freq last used at lastUsed has, at now, lain unused for more than
// `days` days. A stamp in the future or below zero (no time) never expires:
// a wrong clock must not cost anybody his freq. Never overflows, whatever days.
bool unusedTooLong(int64_t lastUsed, int64_t now, uint64_t days);

struct ExpirySweep {
    uint32_t expired = 0;
    std::string notice; // the operator's line; empty when there is nothing to say
};

// Unregisters every freq unused for more than `days` days (0: none), as
// !funreg does: the record goes, invitations to its number stay. Before the
// first removal the registry is kept as a before-expiry snapshot (the newest
// keepSnapshots of them are kept, 0: all); if that copy cannot be made,
// nothing expires this time. A process that does not hold the directory
// never writes files, so it expires in memory only, without a snapshot.
// One line in log for each freq removed.
ExpirySweep expireUnusedFreqs(FreqRegistry& registry, RegistryStore& store, uint32_t days,
                              uint32_t keepSnapshots, AuditLog& log, const AuditActor& actor);
