// Everything that touches the registry's files: the load and what came of
// it, the save, moving an unreadable file aside, the lock that keeps one host
// process per folder, dated backups and undo snapshots. It knows neither
// the host nor the chat: it returns outcomes and the words to tell them in,
// and its callers decide who hears them.
//
// The folder is fixed and held open when the store is opened: whatever the
// host's current directory becomes later, and whatever becomes of the
// folder's name, this process's files stay beside its lock in the folder it
// loaded from.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "registry/change_file.h"
#include "registry/freq_registry.h"

extern const char registryLockFileName[];
// Where a lock holder that may not write over the registry keeps what it
// holds; a process that lost its lock adds its process number.
extern const char unsavedFileName[];

// More records than this are not loaded: the file is kept aside instead, so
// that a huge file can neither exhaust memory nor hold up the host's start.
constexpr uint64_t maxLoadedRecords = 1048576;

enum class LoadOutcome {
    unknown,   // not yet decided (or the start failed): never saved over
    missing,   // no file: the quiet empty start
    loaded,    // every record read
    keptAside, // could not be loaded whole; moved to keptAs, bytes intact
    notUsable, // could not be loaded whole and is still in place: never saved over
    passing,   // a passing failure (out of files, of memory...): in place, tried again
};

struct LoadReport {
    LoadOutcome outcome = LoadOutcome::unknown;
    uint64_t records = 0;
    std::string reason; // why it could not be loaded, in plain words
    bool sizeNotWhole = false;
    uint64_t size = 0;
    std::string keptAs;
    // Moved aside, but the folder could not be flushed after: why.
    std::string keptUnflushed;
    std::string moveReason; // why it could not be moved aside
};

// The time the expiry trusts: the wall clock, but never ahead of the wall
// clock at the store's opening plus the monotonic time since, so that a clock
// set forward by hand expires nothing.
struct TrustedClock {
    bool started = false;
    int64_t wallAtStart = 0;
    uint64_t monotonicAtStart = 0;
};

// The digest of a registry without records.
constexpr uint64_t emptyRegistryDigest = 1469598103934665603ull;

// The freqs in order, and the digest of each one's record.
struct SavedDigests {
    std::vector<uint16_t> freqs;
    std::vector<uint64_t> digests;
};

struct RegistryStore {
    // A full path ending in the separator; empty when the current directory
    // could not be told at opening (then the names are relative).
    std::string folder;
    std::string folderProblem;
    // The folder itself, where every file of the store is reached.
    Folder held;
    FileLock lock;
    LockResult lockResult = LockResult::failed;
    std::string lockReason;
    // Who holds the lock, when another process does and says so ("a host
    // process (pid 4242)"); empty when it is not known.
    std::string lockHolder;
    // The lock file was deleted or replaced under this process and another
    // process holds the new one: this one no longer writes the registry.
    bool lockLost = false;
    bool lockRetaken = false; // the lock file was replaced and taken again
    // The lock, missed at the start, was taken at a retry with changes in
    // memory, the registry file being still as loaded: they are saved now.
    bool lockTakenLate = false;
    // Why this process no longer writes the registry, once lockLost, when
    // it is not that another host holds the new lock: another process wrote
    // the registry while the lock was replaced.
    std::string lockLostReason;
    // What the registry file was at this process's last load or save: its
    // stamp, or that there was none. A lock taken back after it was replaced
    // is no licence to write over what another process wrote meanwhile.
    bool knownState = false;
    bool knownMissing = false;
    FileStamp knownStamp;
    LoadReport load;
    // The name part that makes this process's temporaries its own.
    std::string temporarySuffix;
    TrustedClock clock;
    // The last registry file this process wrote, while it is known to be
    // the one in place (its generation is savedGeneration below), and the
    // file's stamp just after. A save finding both unchanged writes nothing.
    bool written = false;
    FileStamp writtenStamp;
    std::string datedBackupDay; // the day whose backup is known to be there
    // When this run started ("YYYYMMDD-HHMMSS"; empty without a clock), and
    // the side file it made: the one file of that kind it may replace, while
    // it holds changes the registry lacks (a save removes it). Its run gets
    // its sequence at the first write.
    std::string runStamp;
    std::string sideFileName;
    ChangeRun sideRun;
    // The records' generation when the side file was last written, or the
    // registry last loaded or saved: nothing to write while it stays.
    uint64_t sideGeneration = 0;
    // The records' generation last put in place by this process, so that a
    // save can tell whether it wrote a change.
    bool savedAny = false;
    uint64_t savedGeneration = 0;
    // Each freq and a digest of its record as last loaded or saved, sorted by
    // freq: the one notion of "unchanged" (the base of a side file's changes
    // is checked against it); unknown when it could not be kept (no memory),
    // and then every freq counts as changed. baseGeneration is the records'
    // generation then: the same generation, nothing changed. Kept as two
    // arrays, 10 bytes a freq, beside the 284 of its record.
    SavedDigests savedRecords;
    bool savedRecordsKnown = false;
    uint64_t baseGeneration = 0;
};

// The full name of one of the registry's files in the store's folder.
std::string storePath(const RegistryStore& store, const char* name);

// Whether a name is a temporary of a write beside the registry
// (Zandrel.teams*.tmp or .tmp.<process>), which only a writer that holds the
// lock makes: with the lock held, one that is there was left by a crash.
bool isTemporaryName(std::string_view name);
// Removes those in a folder whose lock the caller holds, as the host does at
// its start and a registry tool once it holds the lock.
void removeLeftoverTemporaries(const Folder& folder);

// Fixes the folder (the current directory), takes the lock (never waiting).
// The holder removes temporaries that a crashed process left in the folder.
void openRegistryStore(RegistryStore& store);
void closeRegistryStore(RegistryStore& store);

// Whether this process may write the registry's files at all.
bool holdsRegistry(const RegistryStore& store);

// Whether the folder's name still leads to the folder held (or that can't be
// told): what goes by the name, not through the held folder, is written only
// then.
bool registryFolderAtItsName(const RegistryStore& store);

// Loads Zandrel.teams into an empty registry. Whatever is there but can't be
// loaded whole for good is moved aside (when this process holds the lock),
// never overwritten; a passing failure leaves it in place.
const LoadReport& loadRegistryFile(RegistryStore& store, FreqRegistry& registry);

// Whether the registry in memory is what the last load or save found or left
// (after a failed load: still empty): then loading again loses nothing.
bool unchangedSinceLoadOrSave(const RegistryStore& store, FreqRegistry& registry);

// Tries again what failed at the start while nothing has changed since: the
// lock (a tool or a second host may have had it for a moment) and a load
// that failed for a passing reason. True when the registry was loaded anew.
bool retryRegistryStart(RegistryStore& store, FreqRegistry& registry);

enum class SaveStatus {
    saved,
    savedUnflushed, // in place, but the directory could not be flushed
    failed,         // the file on disk is unchanged
    notHeld,        // another process holds the lock: nothing is written
    leftAlone,      // the file in place may not be written over
    lockLost,       // the lock file was replaced and another process holds it
};

struct SaveReport {
    SaveStatus status = SaveStatus::saved;
    std::string reason;
    std::string backupProblem;       // the day's backup could not be made: name and reason
    std::string backupUnflushed;     // the day's backup is made, its folder not flushed
    std::string pruneProblem;        // an old backup could not be removed
    std::vector<std::string> pruned; // the old daily backups this save removed
    // leftAlone and lockLost: what this process holds, written beside.
    std::string sideName;
    std::string sideProblem;
    // The file in place now holds changes it did not hold before (the
    // audit log says so: what came after is what a crash would lose).
    bool wroteChanges = false;
    uint32_t freqsSaved = 0;
};

// Keeps the day's backup when due (keepDated 0: none), then replaces the file,
// unless the records are unchanged since this process last wrote it and the
// file in place is still that one: then writing the same bytes is skipped.
SaveReport saveRegistryFile(RegistryStore& store, FreqRegistry& registry, uint32_t keepDated);

// After a save that could not write the registry (failed, or no lock held):
// what changed since the last load or save goes to this run's side file,
// report.sideName (or report.sideProblem says why not). Nothing is written
// while nothing changed since the side file's last write.
void keepInSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report);

// The freqs memory holds other than the registry file as last loaded or
// saved, for the operator when they can be kept nowhere: "freq 100 new, 201
// changed, 300 unregistered" (at most twenty named); empty when none or not
// known.
std::string changesSinceSave(const RegistryStore& store, FreqRegistry& registry);

// Notes the records as loaded or saved, for changesSinceSave.
void rememberSavedRecords(RegistryStore& store, FreqRegistry& registry);

// The digest of each freq's first record, by freq, gathered while the
// records pass by (a load's read, a save's layout), so that noting them
// takes no pass of its own.
struct DigestsByFreq {
    std::unique_ptr<uint64_t[]> byFreq; // 65,536; only those present are set
    uint64_t present[65536 / 64] = {};
    uint32_t count = 0;
};
// A RecordVisitor's function: `context` is a DigestsByFreq.
void noteRecordDigest(void* context, const FreqRecord& record);
// Notes the records as loaded or saved from digests gathered over exactly
// the records the registry holds, in its order.
void rememberSavedRecords(RegistryStore& store, FreqRegistry& registry, DigestsByFreq& gathered);

struct SnapshotReport {
    bool written = false;
    std::string name;    // when written
    std::string reason;  // when not
    std::string problem; // written, but not flushed or an old one not removed
};

// Writes the registry as it stands to Zandrel.teams.before-<kind>-
// YYYYMMDD-HHMMSS (never over an earlier one), then keeps only the newest
// `keep` snapshots of that kind, and always the one just written (0 keeps
// that one alone): no setting lets copies pile up without end.
SnapshotReport writeSnapshot(RegistryStore& store, FreqRegistry& registry, const char* kind,
                             uint32_t keep);

// The same for the bytes of any file in a folder (a full path ending in the
// separator, or empty for the current directory), named and pruned alike:
// the registry tools keep what they replace this way. The caller holds the
// folder's lock.
SnapshotReport writeFileSnapshot(const std::string& folder, const std::string& fileName,
                                 const std::string& bytes, const char* kind, uint32_t keep);

// The time the expiry may go by and the wall clock; false when the system
// gives no time.
bool trustedNow(RegistryStore& store, int64_t& now, int64_t& wall);

// The words for each outcome: one line each, naming the file and the
// system's reason. Empty when there is nothing to say.
std::string loadNotice(const LoadReport& load);
std::string loadAuditText(const LoadReport& load);
std::string lockNotice(const RegistryStore& store);
std::string folderNotice(const RegistryStore& store);
std::string saveNotice(const SaveReport& save);
std::string saveAuditText(const SaveReport& save);
// The short line for a save that put changes in place (one flushed to disk
// whole: a save whose folder could not be flushed says so instead); empty
// for any other.
std::string savedAuditText(const SaveReport& save);
// One line for each old daily backup the save removed, so that a file the
// operator put there under such a name is never gone without a word.
std::vector<std::string> prunedAuditTexts(const SaveReport& save);
std::string snapshotNotice(const SnapshotReport& snapshot, const char* command);
