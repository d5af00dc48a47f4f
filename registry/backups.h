// Copies of the registry file that let an operator undo a mistake: one per
// local day, kept before that day's first save replaces the file, and one
// snapshot before each operator command that deletes freqs.
#pragma once

#include <cstdint>
#include <string>

#include "registry/freq_registry.h"

// Before a save replaces "Zandrel.teams": keeps the file as it stands as
// Zandrel.teams.YYYY-MM-DD unless today's copy exists, then removes all but
// the newest `keep` dated copies. keep 0 turns dated copies off.
void keepDatedBackup(uint32_t keep);

// Writes the registry as it stands to Zandrel.teams.before-<reason>-
// YYYYMMDD-HHMMSS (never over an earlier one); returns the name, or an empty
// string when it could not be written.
std::string writeSnapshot(FreqRegistry& registry, const char* reason);

// A save as the plug-in makes it: the day's backup first, then the file
// replaced; a failed save goes into the audit log.
struct AuditActor;
void saveWithBackups(FreqRegistry& registry, const AuditActor& actor, uint32_t keepDated);
