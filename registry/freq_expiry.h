// Freqs that lie unused expire: the rule, shared by the plug-in and the
// registry tool, and the plug-in's sweep that applies it to the registry.
#pragma once

#include <cstdint>
#include <string>

#include "registry/audit_log.h"
#include "registry/freq_registry.h"
#include "registry/registry_store.h"

constexpr int64_t secondsPerDay = 86400;

// Whether a freq whose stored lastUsed is `stored` has, at now, lain unused
// for more than `days` days. The stamp is read in the era of now (lastUsedAt),
// so stamps written past 2038 and 2106 count as what they are. A stamp ahead
// of now, or none (unstampedTime, or one before 1970), never expires: a wrong
// clock must not cost anybody his freq. Never overflows, whatever days.
bool unusedTooLong(int32_t stored, int64_t now, uint64_t days);

struct ExpirySweep {
    uint32_t expired = 0;
    std::string notice; // the operator's line; empty when there is nothing to say
};

// Unregisters every freq unused for more than `days` days (0: none), as
// !funreg does: the record goes, invitations to its number stay. Before the
// first removal the registry is kept as a before-expiry snapshot (the newest
// keepSnapshots of them are kept, and one at least); if that copy cannot be
// made, nothing expires this time. A process that does not hold the directory
// never writes files, so it expires in memory only, without a snapshot.
// One line in log for each freq removed.
ExpirySweep expireUnusedFreqs(FreqRegistry& registry, RegistryStore& store, uint32_t days,
                              uint32_t keepSnapshots, AuditLog& log, const AuditActor& actor);
