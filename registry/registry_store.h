// Everything that touches the registry's files: the load and what came of
// it, the save, moving an unreadable file aside, the lock that keeps one host
// process per directory, dated backups and undo snapshots. It knows neither
// the host nor the chat: it returns outcomes and the words to tell them in,
// and its callers decide who hears them.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "registry/freq_registry.h"

extern const char registryLockFileName[];

// More records than this are not loaded: the file is kept aside instead, so
// that a huge file can neither exhaust memory nor hold up the host's start.
constexpr uint64_t maxLoadedRecords = 1048576;

enum class LoadOutcome {
    missing,   // no file: the quiet empty start
    loaded,    // every record read
    keptAside, // could not be loaded whole; moved to keptAs, bytes intact
    notUsable, // could not be loaded whole and is still in place: never saved over
};

struct LoadReport {
    LoadOutcome outcome = LoadOutcome::missing;
    uint64_t records = 0;
    std::string reason; // why it could not be loaded, in plain words
    bool sizeNotWhole = false;
    uint64_t size = 0;
    std::string keptAs;
    std::string moveReason; // why it could not be moved aside
};

struct RegistryStore {
    FileLock lock;
    LockResult lockResult = LockResult::failed;
    std::string lockReason;
    LoadReport load;
    // The name part that makes this process's temporaries its own.
    std::string temporarySuffix;
};

// Takes the lock (never waiting). The holder removes temporaries that a
// crashed process left in the directory.
void openRegistryStore(RegistryStore& store);
void closeRegistryStore(RegistryStore& store);

// Whether this process may write the registry's files at all.
bool holdsRegistry(const RegistryStore& store);

// Loads Zandrel.teams into an empty registry. Whatever is there but can't be
// loaded whole is moved aside (when this process holds the lock), never
// overwritten.
const LoadReport& loadRegistryFile(RegistryStore& store, FreqRegistry& registry);

enum class SaveStatus {
    saved,
    savedUnflushed, // in place, but the directory could not be flushed
    failed,         // the file on disk is unchanged
    notHeld,        // another process holds the lock: nothing is written
    leftAlone,      // an unreadable file is in place: never saved over
};

struct SaveReport {
    SaveStatus status = SaveStatus::saved;
    std::string reason;
    std::string backupProblem; // the day's backup could not be made
};

// Keeps the day's backup when due (keepDated 0: none), then replaces the file.
SaveReport saveRegistryFile(RegistryStore& store, FreqRegistry& registry, uint32_t keepDated);

struct SnapshotReport {
    bool written = false;
    std::string name;   // when written
    std::string reason; // when not
};

// Writes the registry as it stands to Zandrel.teams.before-<kind>-
// YYYYMMDD-HHMMSS (never over an earlier one), then keeps only the newest
// `keep` snapshots of that kind (0: all).
SnapshotReport writeSnapshot(RegistryStore& store, FreqRegistry& registry, const char* kind,
                             uint32_t keep);

// The words for each outcome: one line each, naming the file and the
// system's reason. Empty when there is nothing to say.
std::string loadNotice(const LoadReport& load);
std::string loadAuditText(const LoadReport& load);
std::string lockNotice(const RegistryStore& store);
std::string saveNotice(const SaveReport& save);
std::string saveAuditText(const SaveReport& save);
std::string snapshotNotice(const SnapshotReport& snapshot, const char* command);
