// The store's rooms share these; nothing outside registry_store*.cpp and
// store_*.cpp includes this file.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"

std::string number(uint64_t value);

extern const char noTimeReason[];

// Local date as YYYY-MM-DD (dated backups) or YYYYMMDD-HHMMSS (snapshots);
// false when the system gives no time: then no dated file is made.
bool stampNow(bool withTime, std::string& stamp);

bool allDigits(std::string_view text);

// Permissions come from the file it is a copy of (the registry's by default).
// copyOf: the file whose permissions a new file takes (null: owner-only).
WriteResult writeBeside(const RegistryStore& store, const std::string& name, const void* data,
                        size_t size, bool replace, const char* copyOf = registryFileName);

std::string unflushed(const std::string& name);

std::vector<std::string> namesWhere(const RegistryStore& store, bool (*keep)(std::string_view));

// Whether today's backup is still to be made (or the date can't be told,
// which keepDatedBackup reports); once it is known to be there, the rest of
// the day costs no look at the disk.
bool datedBackupDue(RegistryStore& store);

// Before the day's first save replaces the registry file: the file as it
// stands, under the day's name, unless that name is taken; then the oldest
// dated backups beyond keep are removed.
void keepDatedBackup(RegistryStore& store, uint32_t keep, SaveReport& report);

void startTrustedClock(TrustedClock& clock);

void removeLeftoverTemporaries(const RegistryStore& store);

// Notes the registry file's stamp (or that there is none) just after this
// process loaded or saved it, for changedSinceKnown.
void rememberRegistryState(RegistryStore& store);

// Whether the registry file is other than this process last loaded or
// saved it (or that is not known).
bool changedSinceKnown(const RegistryStore& store);

// Where the folder's files are reached by its path (Windows holds the folder
// so that it can't be renamed, but a system may let it be all the same),
// whether that path still leads to the folder loaded from: why not, or
// empty. A folder put in its place is never written.
std::string folderGone(const RegistryStore& store);

// Whether the lock this process took is still the one on the folder's lock
// file. A lock file deleted or replaced is locked again if nobody holds the
// new one and the registry is as this process left it; if somebody does,
// this process has lost the folder.
bool lockStillHeld(RegistryStore& store, SaveReport& report);

// What this process changed since it last loaded or saved, beside the
// registry it could not or may not write over, so that nothing a player was
// told is registered is lost. Each run has a side file of its own, named for
// the run's start and its process number and made without replacing (a
// process number comes back, in a container every time), so that no run
// writes over what another could not save; later writes of the run replace
// its own, safely. Owner-only, whatever the registry's mode: the host's own
// user must be able to read it back.
void writeSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report);

// After a save: this run's side file holds nothing the registry lacks.
void forgetSideFile(RegistryStore& store);

// "the changes made since the last save are lost", naming them when known.
std::string lostChangesText(const RegistryStore& store, FreqRegistry& registry);
