#include "registry/registry_store.h"

#include <algorithm>
#include <charconv>
#include <new>
#include <vector>

#include "registry/lock_holder.h"
#include "registry/registry_file.h"
#include "text/date_time.h"
#include "text/number.h"
#include "text/program_name.h"

const char registryLockFileName[] = "Zandrel.teams.lock";
const char unsavedFileName[] = "Zandrel.teams.unsaved";

namespace {

std::string number(uint64_t value) {
    // Counts here stay far below 2^32 (record counts are capped); sizes are
    // shown as two halves only if they ever reach that.
    if (value <= UINT32_MAX) return std::string(decimalText(uint32_t(value)).view());
    return number(value / 1000000000u) +
           std::string(numberToText(uint32_t(value % 1000000000u), 10, 9, false).view());
}

const char noTimeReason[] = "the system clock gives no time";

// Local date as YYYY-MM-DD (dated backups) or YYYYMMDD-HHMMSS (snapshots);
// false when the system gives no time: then no dated file is made.
bool stampNow(bool withTime, std::string& stamp) {
    int64_t now = 0;
    std::tm t{};
    if (!wallClock(now) || !localTimeOf(now, t) || t.tm_year + 1900 > 9999) return false;
    stamp = stampText(t, withTime ? "%Y%m%d-%H%M%S" : "%Y-%m-%d");
    return true;
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Zandrel.teams.YYYY-MM-DD
bool isDatedBackupName(std::string_view name) {
    const std::string prefix = std::string(registryFileName) + ".";
    if (name.size() != prefix.size() + 10 || name.substr(0, prefix.size()) != prefix) return false;
    name.remove_prefix(prefix.size());
    return allDigits(name.substr(0, 4)) && name[4] == '-' && allDigits(name.substr(5, 2)) &&
           name[7] == '-' && allDigits(name.substr(8, 2));
}

// Zandrel.teams.before-<kind>-YYYYMMDD-HHMMSS, then perhaps .N: the sort key
// is the stamp and then N as a number, so that .10 comes after .9.
bool snapshotKey(std::string_view name, const std::string& prefix, std::string& stamp,
                 uint64_t& n) {
    if (name.substr(0, prefix.size()) != prefix) return false;
    name.remove_prefix(prefix.size());
    if (name.size() < 15 || !allDigits(name.substr(0, 8)) || name[8] != '-' ||
        !allDigits(name.substr(9, 6)))
        return false;
    stamp = std::string(name.substr(0, 15));
    n = 0;
    if (name.size() == 15) return true;
    std::string_view rest = name.substr(15);
    if (rest[0] != '.' || !allDigits(rest.substr(1)) || rest.size() > 10) return false;
    std::from_chars(rest.data() + 1, rest.data() + rest.size(), n);
    return true;
}

// A temporary of a save: <name>.tmp.<process>, or a bare <name>.tmp, which
// is cleared away too.
bool isTemporaryName(std::string_view name) {
    const std::string_view base = registryFileName;
    if (name.substr(0, base.size()) != base) return false;
    const size_t at = name.rfind(".tmp");
    if (at == std::string_view::npos) return false;
    std::string_view rest = name.substr(at + 4);
    return rest.empty() || (rest[0] == '.' && allDigits(rest.substr(1)));
}

// Files dated by a clock that ran ahead sort after everything written since
// it was set right, so the date alone can't tell which were written last.
// Those dated after now are left out of the count and kept until their date
// comes; the file just written is never a candidate. What is removed is the
// oldest of the rest; a removal that fails is told.
std::string pruneOldest(const RegistryStore& store, std::vector<std::string>& sortedOldestFirst,
                        uint32_t keep, const std::string& justWritten) {
    std::string problem;
    for (size_t i = 0; i + keep < sortedOldestFirst.size(); ++i) {
        const std::string& name = sortedOldestFirst[i];
        if (name == justWritten) continue;
        if (!removePath(store.held, name.c_str()) && problem.empty())
            problem = name + " (" + lastSystemError() + ")";
    }
    return problem;
}

std::string keepAside(RegistryStore& store, LoadReport& load) {
    // No upper bound: a free name is always found, unless moving fails
    // for another reason than the name being taken.
    const std::string base = std::string(registryFileName) + ".damaged";
    for (uint64_t n = 0;; ++n) {
        const std::string name = n == 0 ? base : base + "." + number(n);
        switch (moveNoReplace(store.held, registryFileName, name.c_str())) {
        case MoveResult::moved:
            // On the disk before the operator is told the new name: after a
            // power cut he must find the file there, not back in place.
            if (!flushFolder(store.held)) load.keptUnflushed = lastSystemError();
            return name;
        case MoveResult::nameTaken:
            continue;
        case MoveResult::failed:
            load.moveReason = lastSystemError();
            return {};
        }
    }
}

// Permissions come from the file it is a copy of (the registry's by default).
// copyOf: the file whose permissions a new file takes (null: owner-only).
WriteResult writeBeside(const RegistryStore& store, const std::string& name, const void* data,
                        size_t size, bool replace, const char* copyOf = registryFileName) {
    SafeWrite write;
    write.folder = &store.held;
    write.path = name.c_str();
    write.temporarySuffix = store.temporarySuffix.c_str();
    write.data = data;
    write.size = size;
    write.noReplace = !replace;
    write.permissionsFrom = copyOf;
    return writeFileSafely(write);
}

std::string unflushed(const std::string& name) {
    return name + " is written, but flushing its folder failed (" + lastSystemError() +
           "); it may not survive a power cut";
}

std::vector<std::string> namesWhere(const RegistryStore& store, bool (*keep)(std::string_view)) {
    std::vector<std::string> names;
    for (std::string& file : directoryNames(store.held))
        if (keep(file)) names.push_back(std::move(file));
    return names;
}

// Before the day's first save replaces the registry file: the file as it
// stands, under the day's name, unless that name is taken.
// Whether today's backup is still to be made (or the date can't be told,
// which keepDatedBackup reports).
// Whether today's backup is still to be made; once it is known to be there,
// the rest of the day costs no look at the disk.
bool datedBackupDue(RegistryStore& store) {
    std::string today;
    if (!stampNow(false, today)) return true;
    if (today == store.datedBackupDay) return false;
    const std::string name = std::string(registryFileName) + "." + today;
    if (pathKindOf(store.held, name.c_str()) == PathKind::missing) return true;
    store.datedBackupDay = today;
    return false;
}

void keepDatedBackup(RegistryStore& store, uint32_t keep, SaveReport& report) {
    std::string today;
    if (!stampNow(false, today)) {
        report.backupProblem = "of today could not be written (" + std::string(noTimeReason) + ")";
        return;
    }
    const std::string name = std::string(registryFileName) + "." + today;
    std::string written;
    const bool there = pathKindOf(store.held, name.c_str()) != PathKind::missing;
    if (!there) {
        FreqRegistry copy;
        const ReadReport read =
            readRegistryFile(store.held, registryFileName, copy, maxLoadedRecords);
        if (read.status == ReadStatus::read) {
            const auto [image, size] = registryImage(copy);
            switch (writeBeside(store, name, image.get(), size, false)) {
            case WriteResult::written:
                written = name;
                break;
            case WriteResult::renamedUnflushed:
                written = name;
                report.backupUnflushed = unflushed(name);
                break;
            case WriteResult::failed:
                report.backupProblem = name + " could not be written (" + lastSystemError() + ")";
                break;
            }
        } else if (read.status != ReadStatus::missing) {
            report.backupProblem = name + " could not be written (" + read.reason + ")";
        }
    }
    if (there || !written.empty()) store.datedBackupDay = today;
    std::vector<std::string> dated;
    for (std::string& file : namesWhere(store, isDatedBackupName))
        if (file.compare(name) <= 0) dated.push_back(std::move(file));
    // The date in the name sorts as text.
    std::sort(dated.begin(), dated.end());
    report.pruneProblem = pruneOldest(store, dated, keep, written);
}

std::string pruneSnapshots(const RegistryStore& store, const std::string& fileName,
                           const char* kind, uint32_t keep, const std::string& nowStamp,
                           const std::string& justWritten) {
    const std::string prefix = fileName + ".before-" + kind + "-";
    struct Named {
        std::string stamp;
        uint64_t n;
        std::string name;
    };
    std::vector<Named> found;
    for (std::string& file : directoryNames(store.held)) {
        Named entry{{}, 0, {}};
        if (snapshotKey(file, prefix, entry.stamp, entry.n) && entry.stamp <= nowStamp) {
            entry.name = std::move(file);
            found.push_back(std::move(entry));
        }
    }
    std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.n < b.n;
    });
    std::vector<std::string> names;
    for (Named& entry : found)
        names.push_back(std::move(entry.name));
    return pruneOldest(store, names, keep, justWritten);
}

void startTrustedClock(TrustedClock& clock) {
    int64_t wall = 0;
    if (clock.started || !wallClock(wall)) return;
    clock.started = true;
    clock.wallAtStart = wall;
    clock.monotonicAtStart = monotonicMilliseconds();
}

uint64_t digestOf(FreqRegistry& registry) {
    // FNV-1a over the records' bytes as they lie in memory.
    uint64_t digest = emptyRegistryDigest;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        const auto* bytes = reinterpret_cast<const unsigned char*>(r);
        for (size_t i = 0; i < freqRecordSize; ++i)
            digest = (digest ^ bytes[i]) * 1099511628211ull;
    }
    return digest ^ registry.freqs.count();
}

void removeLeftoverTemporaries(const RegistryStore& store) {
    // Only the holder may remove temporaries: any other process's would be
    // in use. With the lock held, those present are leftovers of a crash.
    for (const std::string& name : directoryNames(store.held))
        if (isTemporaryName(name)) removePath(store.held, name.c_str());
}

// Whether the lock this process took is still the one on the folder's lock
// file. A lock file deleted or replaced is locked again if nobody holds the
// new one; if somebody does, this process has lost the folder.
void rememberRegistryState(RegistryStore& store) {
    store.knownMissing = !fileStampOf(store.held, registryFileName, store.knownStamp);
    store.knownState = true;
}

// Whether the registry file is other than this process last loaded or
// saved it (or that is not known).
bool changedSinceKnown(const RegistryStore& store) {
    if (!store.knownState) return true;
    FileStamp now;
    const bool there = fileStampOf(store.held, registryFileName, now);
    return store.knownMissing ? there : !there || now != store.knownStamp;
}

// Where the folder's files are reached by its path (Windows holds the folder
// so that it can't be renamed, but a system may let it be all the same),
// whether that path still leads to the folder loaded from: why not, or
// empty. A folder put in its place is never written.
std::string folderGone(const RegistryStore& store) {
    if (folderFollowsHandle || store.held.handle == -1) return {};
    switch (checkFolder(store.held)) {
    case FolderCheck::same:
        return {};
    case FolderCheck::moved:
    case FolderCheck::replaced:
        break;
    case FolderCheck::failed:
        return "its folder " + store.folder + " could not be checked: " + lastSystemError();
    }
    return "its folder " + store.folder + " was moved or replaced while the host ran";
}

bool lockStillHeld(RegistryStore& store, SaveReport& report) {
    if (const std::string gone = folderGone(store); !gone.empty()) {
        report.status = SaveStatus::failed;
        report.reason = gone;
        return false;
    }
    if (store.lockLost) return false;
    switch (checkFileLock(store.held, registryLockFileName, store.lock)) {
    case LockCheck::same:
        return true;
    case LockCheck::failed:
        report.status = SaveStatus::failed;
        report.reason = "its lock " + std::string(registryLockFileName) +
                        " could not be checked: " + lastSystemError();
        return false;
    case LockCheck::replaced:
        break;
    }
    FileLock fresh;
    const LockResult taken = takeFileLock(store.held, registryLockFileName, fresh);
    if (taken == LockResult::taken) {
        if (changedSinceKnown(store)) {
            // Another process held the lock meanwhile and wrote the registry:
            // its changes are on disk, and this process's go beside them.
            releaseFileLock(fresh);
            store.lockLost = true;
            store.lockLostReason = std::string(registryLockFileName) +
                                   " was deleted or replaced, and another process wrote " +
                                   registryFileName + " meanwhile; it is left as it is";
            return false;
        }
        releaseFileLock(store.lock);
        store.lock = fresh;
        store.lockRetaken = true;
        nameLockHolder(store.lock, "host");
        return true;
    }
    if (taken == LockResult::heldElsewhere) {
        store.lockLost = true;
        const std::string holder =
            lockHolderWords(lockHolderAt(storePath(store, registryLockFileName).c_str()));
        if (!holder.empty())
            store.lockLostReason = std::string(registryLockFileName) +
                                   " was deleted or replaced, and " + holder + " now holds it";
        return false;
    }
    report.status = SaveStatus::failed;
    report.reason = "its lock " + std::string(registryLockFileName) +
                    " was replaced and could not be taken again: " + lastSystemError();
    return false;
}

// What this process holds, beside the registry it may not write over, so
// that nothing a player was told is registered is lost. Each run has a side
// file of its own, named for the run's start and its process number and made
// without replacing (a process number comes back, in a container every
// time), so that no run writes over what another could not save; later
// writes of the run replace its own. Owner-only, whatever the registry's
// mode: the host's own user must be able to read it back.
void writeSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    if (unchangedSinceLoad(store, registry)) return; // nothing that the file lacks
    if (const std::string gone = folderGone(store); !gone.empty()) {
        report.sideProblem = std::string(unsavedFileName) + " could not be written either (" +
                             gone + "), so the changes made since the last save are lost";
        return;
    }
    const auto [image, size] = registryImage(registry);
    std::string name = store.sideFileName;
    WriteResult result = WriteResult::failed;
    if (!name.empty()) {
        result = writeBeside(store, name, image.get(), size, true, nullptr);
    } else {
        const std::string base = std::string(unsavedFileName) + "." +
                                 (store.runStamp.empty() ? "" : store.runStamp + "-") +
                                 number(processId());
        for (uint64_t n = 0;; ++n) {
            name = n == 0 ? base : base + "." + number(n);
            result = writeBeside(store, name, image.get(), size, false, nullptr);
            if (result != WriteResult::failed ||
                pathKindOf(store.held, name.c_str()) == PathKind::missing)
                break;
        }
        if (result != WriteResult::failed) store.sideFileName = name;
    }
    switch (result) {
    case WriteResult::written:
        report.sideName = name;
        break;
    case WriteResult::renamedUnflushed:
        report.sideName = name;
        report.sideProblem = unflushed(name);
        break;
    case WriteResult::failed:
        report.sideProblem = name + " could not be written either (" + lastSystemError() +
                             "), so the changes made since the last save are lost";
        break;
    }
}

} // namespace

std::string storePath(const RegistryStore& store, const char* name) {
    return store.folder + name;
}

void openRegistryStore(RegistryStore& store) {
    store.temporarySuffix = processTemporarySuffix();
    store.folder = currentDirectoryPath();
    store.held.path = store.folder;
    if (store.folder.empty())
        store.folderProblem = "the current directory could not be read (" + lastSystemError() +
                              "); the registry's files are named relative to it";
    startTrustedClock(store.clock);
    if (!stampNow(true, store.runStamp)) store.runStamp.clear();
    // The lock first: with one file handle left, it is the lock that matters.
    store.lockResult = takeFileLock(store.held, registryLockFileName, store.lock);
    if (store.lockResult != LockResult::taken) {
        store.lockReason = lastSystemError();
        if (store.lockResult == LockResult::heldElsewhere) {
            const std::string lockPath = storePath(store, registryLockFileName);
            store.lockHolder = lockHolderWords(lockHolderAt(lockPath.c_str()));
        }
    }
    // Then the folder is held open, so that the files stay in the folder
    // loaded from even if it is renamed, and one put in its place is never
    // written.
    if (!openFolder(store.folder, store.held) && store.folderProblem.empty())
        store.folderProblem = "it could not be held open (" + lastSystemError() +
                              "), so were it moved or replaced, the registry would be saved "
                              "under its name";
    if (store.lockResult == LockResult::taken) {
        nameLockHolder(store.lock, "host");
        removeLeftoverTemporaries(store);
    }
}

void closeRegistryStore(RegistryStore& store) {
    releaseFileLock(store.lock);
    store.lockResult = LockResult::failed;
    closeFolder(store.held);
}

bool holdsRegistry(const RegistryStore& store) {
    return store.lockResult == LockResult::taken && !store.lockLost;
}

bool registryFolderAtItsName(const RegistryStore& store) {
    if (store.held.handle == -1) return true;
    const FolderCheck check = checkFolder(store.held);
    return check == FolderCheck::same || check == FolderCheck::failed;
}

const LoadReport& loadRegistryFile(RegistryStore& store, FreqRegistry& registry) {
    LoadReport& load = store.load;
    load = {};
    store.loadedDigest = digestOf(registry);
    ReadReport read;
    try {
        read = readRegistryFile(store.held, registryFileName, registry, maxLoadedRecords);
    } catch (const std::bad_alloc&) {
        // Whole records that did not fit in memory: sound, so they stay
        // where they are, and are tried again.
        clearFreqs(registry);
        read.status = ReadStatus::passing;
        read.reason = "not enough memory to load it";
    }
    load.size = read.size;
    store.loadedDigest = digestOf(registry);
    switch (read.status) {
    case ReadStatus::missing:
        load.outcome = LoadOutcome::missing;
        rememberRegistryState(store);
        return load;
    case ReadStatus::read:
        load.outcome = LoadOutcome::loaded;
        load.records = read.size / freqRecordSize;
        rememberRegistryState(store);
        return load;
    case ReadStatus::passing:
        load.outcome = LoadOutcome::passing;
        load.reason = read.reason;
        load.moveReason = "the failure may pass";
        return load;
    case ReadStatus::unopenable:
        // A file that could not even be opened is no damaged file: it stays
        // where it is, for the operator to mend its cause.
        load.outcome = LoadOutcome::notUsable;
        load.reason = read.reason;
        load.moveReason = "it could not be opened, which tells nothing of what it holds";
        return load;
    default:
        break;
    }
    load.reason = read.reason;
    load.sizeNotWhole = read.status == ReadStatus::notWhole;
    if (!holdsRegistry(store)) {
        load.outcome = LoadOutcome::notUsable;
        load.moveReason = "another host process uses this folder";
        return load;
    }
    load.keptAs = keepAside(store, load);
    load.outcome = load.keptAs.empty() ? LoadOutcome::notUsable : LoadOutcome::keptAside;
    return load;
}

bool unchangedSinceLoad(const RegistryStore& store, FreqRegistry& registry) {
    return digestOf(registry) == store.loadedDigest;
}

bool retryRegistryStart(RegistryStore& store, FreqRegistry& registry) {
    if (store.lockLost) return false;
    // The cheap tests first: the digest walks every record, and this runs
    // at every autosave.
    const bool lockTaken = store.lockResult == LockResult::taken;
    const LoadOutcome outcome = store.load.outcome;
    if (lockTaken && outcome != LoadOutcome::unknown && outcome != LoadOutcome::passing)
        return false;
    if (!folderGone(store).empty()) return false;
    const bool unchanged = unchangedSinceLoad(store, registry);
    bool tookLock = false;
    if (!lockTaken) {
        // A process that loaded without the lock and changed something since
        // stays in memory: the file may have moved on under it. After a
        // start that failed, nothing was loaded to move on from.
        if (!unchanged && outcome != LoadOutcome::unknown) return false;
        FileLock lock;
        const LockResult result = takeFileLock(store.held, registryLockFileName, lock);
        if (result != LockResult::taken) return false;
        store.lock = lock;
        store.lockResult = LockResult::taken;
        store.lockReason.clear();
        store.lockHolder.clear();
        nameLockHolder(store.lock, "host");
        removeLeftoverTemporaries(store);
        tookLock = true;
    }
    if (!unchanged) return false; // the file stays; saves keep memory beside it
    if (!tookLock && outcome != LoadOutcome::unknown && outcome != LoadOutcome::passing)
        return false;
    // The file may have changed while another process held it: read afresh.
    clearFreqs(registry);
    loadRegistryFile(store, registry);
    return true;
}

SaveReport saveRegistryFile(RegistryStore& store, FreqRegistry& registry, uint32_t keepDated) {
    SaveReport report;
    if (store.lockResult != LockResult::taken) {
        report.status = SaveStatus::notHeld;
        return report;
    }
    // The file is still what this process wrote, and the registry has not
    // changed since: nothing is written, so no lock need be checked either.
    FileStamp stamp;
    const bool unchanged = store.written && store.savedGeneration == registry.freqs.generation() &&
                           fileStampOf(store.held, registryFileName, stamp) &&
                           stamp == store.writtenStamp;
    if (unchanged && !(keepDated > 0 && datedBackupDue(store))) return report;
    if (!lockStillHeld(store, report)) {
        if (report.status == SaveStatus::failed) return report;
        report.status = SaveStatus::lockLost;
        report.reason = store.lockLostReason;
        writeSideFile(store, registry, report);
        return report;
    }
    const LoadOutcome outcome = store.load.outcome;
    if (outcome == LoadOutcome::unknown || outcome == LoadOutcome::notUsable ||
        outcome == LoadOutcome::passing) {
        // Unless it has gone since: then there is nothing left to lose.
        ReadableFile file;
        const OpenResult there = outcome == LoadOutcome::unknown
                                     ? OpenResult::opened
                                     : openRegularFile(store.held, registryFileName, file);
        closeReadableFile(file);
        if (there != OpenResult::missing) {
            report.status = SaveStatus::leftAlone;
            writeSideFile(store, registry, report);
            return report;
        }
        store.load.outcome = LoadOutcome::missing;
    }
    // Only the rewrite of the same bytes is skipped: the day's backup is
    // still made when it falls due (older ones are pruned when one is made).
    if (unchanged) {
        keepDatedBackup(store, keepDated, report); // it is due: see above
        return report;
    }
    store.written = false;
    if (keepDated > 0) keepDatedBackup(store, keepDated, report);
    const uint64_t generation = registry.freqs.generation();
    const auto [image, size] = registryImage(registry);
    SafeWrite write;
    write.folder = &store.held;
    write.path = registryFileName;
    write.temporarySuffix = store.temporarySuffix.c_str();
    write.data = image.get();
    write.size = size;
    write.followLink = true;
    // Whether what goes in place differs from what this process last put
    // there, or, before its first save, from what it loaded.
    const bool changes =
        store.savedAny ? store.savedGeneration != generation : !unchangedSinceLoad(store, registry);
    switch (writeFileSafely(write)) {
    case WriteResult::written:
        report.status = SaveStatus::saved;
        store.written = fileStampOf(store.held, registryFileName, store.writtenStamp) &&
                        store.writtenStamp.size == size;
        rememberRegistryState(store);
        break;
    case WriteResult::renamedUnflushed:
        // Written again next time: the flush is still owed.
        report.status = SaveStatus::savedUnflushed;
        report.reason = lastSystemError();
        break;
    case WriteResult::failed:
        report.status = SaveStatus::failed;
        report.reason = lastSystemError();
        break;
    }
    if (report.status != SaveStatus::failed) {
        report.wroteChanges = changes;
        report.freqsSaved = registry.freqs.count();
        store.savedAny = true;
        store.savedGeneration = generation;
    }
    return report;
}

void keepInSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    writeSideFile(store, registry, report);
}

namespace {

// The snapshot itself: the bytes of fileName, under fileName.before-<kind>-
// <stamp>[.N] beside it, never over an earlier one; then the pruning.
SnapshotReport writeSnapshotBytes(const RegistryStore& store, const std::string& fileName,
                                  const void* data, size_t size, const char* kind, uint32_t keep) {
    SnapshotReport report;
    std::string stamp;
    if (!stampNow(true, stamp)) {
        report.reason = noTimeReason;
        return report;
    }
    const std::string prefix = fileName + ".before-" + kind + "-";
    const std::string base = prefix + stamp;
    // After every copy of this second, never in a number freed by pruning:
    // the copies' order is their names' order, and pruning keeps the newest.
    uint64_t first = 0;
    for (const std::string& file : directoryNames(store.held)) {
        std::string itsStamp;
        uint64_t n = 0;
        if (snapshotKey(file, prefix, itsStamp, n) && itsStamp == stamp && n + 1 > first)
            first = n + 1;
    }
    for (uint64_t n = first;; ++n) {
        report.name = n == 0 ? base : base + "." + number(n);
        if (pathKindOf(store.held, report.name.c_str()) != PathKind::missing) continue;
        const WriteResult result =
            writeBeside(store, report.name, data, size, false, fileName.c_str());
        if (result == WriteResult::renamedUnflushed) report.problem = unflushed(report.name);
        if (result != WriteResult::failed) break;
        report.reason = lastSystemError();
        report.name.clear();
        return report;
    }
    report.written = true;
    if (keep > 0) {
        const std::string pruneProblem =
            pruneSnapshots(store, fileName, kind, keep, stamp, report.name);
        if (!pruneProblem.empty() && report.problem.empty())
            report.problem = "an older undo copy " + pruneProblem + " could not be removed";
    }
    return report;
}

} // namespace

SnapshotReport writeSnapshot(RegistryStore& store, FreqRegistry& registry, const char* kind,
                             uint32_t keep) {
    SnapshotReport report;
    SaveReport lockReport;
    if (!holdsRegistry(store) || !lockStillHeld(store, lockReport)) {
        report.reason = lockReport.status == SaveStatus::failed
                            ? lockReport.reason
                            : "another host process uses this folder";
        return report;
    }
    const auto [image, size] = registryImage(registry);
    return writeSnapshotBytes(store, registryFileName, image.get(), size, kind, keep);
}

SnapshotReport writeFileSnapshot(const std::string& folder, const std::string& fileName,
                                 const std::string& bytes, const char* kind, uint32_t keep) {
    RegistryStore store;
    store.folder = folder;
    store.held.path = folder;
    store.temporarySuffix = processTemporarySuffix();
    return writeSnapshotBytes(store, fileName, bytes.data(), bytes.size(), kind, keep);
}

bool trustedNow(RegistryStore& store, int64_t& now, int64_t& wall) {
    if (!wallClock(wall)) return false;
    TrustedClock& clock = store.clock;
    startTrustedClock(clock); // a clock that failed at the start counts from here
    const uint64_t elapsedMs = monotonicMilliseconds() - clock.monotonicAtStart;
    const int64_t measured = clock.wallAtStart + int64_t(elapsedMs / 1000);
    now = measured < wall ? measured : wall;
    return true;
}

std::string loadNotice(const LoadReport& load) {
    const std::string file = std::string("Registry file ") + registryFileName;
    switch (load.outcome) {
    case LoadOutcome::missing:
    case LoadOutcome::loaded:
        return {};
    case LoadOutcome::unknown:
        return file + " could not be loaded (" +
               (load.reason.empty() ? std::string("the plug-in's start failed") : load.reason) +
               ") and was left in place; it will not be saved over, and changes are kept in "
               "memory only.";
    case LoadOutcome::keptAside: {
        // The operator's next step, whatever the reason: the tool says what
        // it can of the file and recovers its whole records.
        const std::string next = std::string(" Next step: ") + programFileName + " teams salvage " +
                                 load.keptAs +
                                 " -o salvaged.teams recovers its whole records; see the guide "
                                 "\"After a damaged registry\".";
        const std::string unflushed = load.keptUnflushed.empty()
                                          ? std::string()
                                          : " Flushing its folder failed (" + load.keptUnflushed +
                                                "): after a power cut it may be back as " +
                                                registryFileName + ".";
        if (load.sizeNotWhole)
            return file + " was damaged and has been kept as " + load.keptAs +
                   "; starting with an empty registry." + unflushed + next;
        return file + " could not be read (" + load.reason + ") and has been kept as " +
               load.keptAs + "; starting with an empty registry." + unflushed + next;
    }
    case LoadOutcome::notUsable:
        return file + " could not be read (" + load.reason + ") and was left in place (" +
               load.moveReason +
               "); it will not be saved over, and changes are kept in memory only. Next step: " +
               programFileName + " teams check " + registryFileName +
               " says what is wrong with it; see the guide \"After a damaged registry\".";
    case LoadOutcome::passing:
        return file + " could not be read just now (" + load.reason +
               ") and was left in place; it will not be saved over. Loading is tried again at "
               "each connection and autosave while nothing has changed.";
    }
    return {};
}

std::string loadAuditText(const LoadReport& load) {
    std::string what = load.sizeNotWhole ? "registry file damaged (size " + number(load.size) + ")"
                                         : "registry file could not be read (" + load.reason + ")";
    switch (load.outcome) {
    case LoadOutcome::keptAside:
        return what + ", kept as " + load.keptAs +
               (load.keptUnflushed.empty()
                    ? std::string()
                    : " (its folder could not be flushed: " + load.keptUnflushed + ")");
    case LoadOutcome::notUsable:
        return what + ", could not be kept aside (" + load.moveReason + "); it is not saved over";
    case LoadOutcome::passing:
        return what + ", left in place for a passing failure; it is not saved over";
    case LoadOutcome::unknown:
        return "registry file could not be loaded (" +
               (load.reason.empty() ? std::string("the plug-in's start failed") : load.reason) +
               "); it is not saved over";
    default:
        return {};
    }
}

std::string lockNotice(const RegistryStore& store) {
    if (store.lockLost)
        return (store.lockLostReason.empty()
                    ? std::string(registryLockFileName) +
                          " was deleted or replaced, and another host process now holds it"
                    : store.lockLostReason) +
               ": changes made in this one are no longer saved to " + registryFileName + ".";
    switch (store.lockResult) {
    case LockResult::taken:
        return {};
    case LockResult::heldElsewhere:
        if (!store.lockHolder.empty())
            return char(store.lockHolder[0] - 'a' + 'A') + store.lockHolder.substr(1) +
                   " holds the registry in this directory (" + registryLockFileName +
                   " is locked); changes made in this one are not saved.";
        return std::string("Another host process uses the registry in this directory (") +
               registryLockFileName + " is locked); changes made in this one are not saved.";
    case LockResult::failed:
        return std::string("Could not lock ") + registryLockFileName + " (" + store.lockReason +
               "); changes made in this process are not saved.";
    }
    return {};
}

std::string folderNotice(const RegistryStore& store) {
    if (store.folderProblem.empty()) return {};
    return "Registry folder: " + store.folderProblem + ".";
}

namespace {

void addSentence(std::string& text, const std::string& sentence) {
    if (sentence.empty()) return;
    if (!text.empty()) text += " ";
    text += sentence;
}

std::string sideSentence(const SaveReport& save) {
    std::string text;
    if (!save.sideName.empty())
        text = "What this process holds was written to " + save.sideName +
               " beside it; once the host is stopped, " + programFileName +
               " teams recover merges it into the registry.";
    if (!save.sideProblem.empty()) addSentence(text, "(" + save.sideProblem + ".)");
    return text;
}

} // namespace

std::string saveNotice(const SaveReport& save) {
    std::string notice;
    switch (save.status) {
    case SaveStatus::saved:
        break;
    case SaveStatus::notHeld:
        notice = std::string("Not saved: this process does not hold ") + registryLockFileName +
                 ", so it never writes " + registryFileName + "; changes are kept in memory only.";
        addSentence(notice, sideSentence(save));
        break;
    case SaveStatus::savedUnflushed:
        notice = std::string("Saved ") + registryFileName + ", but flushing its folder failed (" +
                 save.reason + "); the new file may not survive a power cut.";
        break;
    case SaveStatus::failed:
        notice = std::string("Saving ") + registryFileName + " failed (" + save.reason +
                 "); the file on disk is unchanged. Trying again at the next autosave.";
        break;
    case SaveStatus::leftAlone:
        notice = std::string("Not saving ") + registryFileName +
                 ": it could not be read at load and is left as it is; changes are kept in "
                 "memory only.";
        addSentence(notice, sideSentence(save));
        break;
    case SaveStatus::lockLost:
        notice = std::string("Not saving ") + registryFileName + ": " +
                 (save.reason.empty() ? std::string(registryLockFileName) +
                                            " was deleted or replaced, and another host process "
                                            "now holds it"
                                      : save.reason) +
                 ".";
        addSentence(notice, sideSentence(save));
        break;
    }
    if (!save.backupProblem.empty())
        addSentence(notice, "The daily backup " + save.backupProblem + ".");
    if (!save.backupUnflushed.empty())
        addSentence(notice, "The daily backup " + save.backupUnflushed + ".");
    if (!save.pruneProblem.empty())
        addSentence(notice, "An old daily backup " + save.pruneProblem + " could not be removed.");
    return notice;
}

std::string saveAuditText(const SaveReport& save) {
    std::string text;
    const auto add = [&text](const std::string& part) {
        if (part.empty()) return;
        if (!text.empty()) text += "; ";
        text += part;
    };
    switch (save.status) {
    case SaveStatus::saved:
        break;
    case SaveStatus::notHeld:
        add(std::string("not saved: this process does not hold ") + registryLockFileName);
        break;
    case SaveStatus::savedUnflushed:
        add("saved, but flushing the directory failed (" + save.reason +
            "); the new file may not survive a power cut");
        break;
    case SaveStatus::failed:
        add("saving failed (" + save.reason + "); the file on disk is unchanged");
        break;
    case SaveStatus::leftAlone:
        add("not saved: the file that could not be read at load is left as it is");
        break;
    case SaveStatus::lockLost:
        add(save.reason.empty()
                ? std::string("not saved: the lock file was replaced and another process holds it")
                : "not saved: " + save.reason);
        break;
    }
    if (!save.sideName.empty()) add("what this process holds was written to " + save.sideName);
    add(save.sideProblem);
    if (!save.backupProblem.empty()) add("daily backup " + save.backupProblem);
    if (!save.backupUnflushed.empty()) add("daily backup " + save.backupUnflushed);
    if (!save.pruneProblem.empty())
        add("old daily backup " + save.pruneProblem + " could not be removed");
    return text;
}

std::string savedAuditText(const SaveReport& save) {
    if (!save.wroteChanges || save.status != SaveStatus::saved) return {};
    return std::string("saved ") + registryFileName + " (" + std::to_string(save.freqsSaved) +
           (save.freqsSaved == 1 ? " freq)" : " freqs)");
}

std::string snapshotNotice(const SnapshotReport& snapshot, const char* command) {
    if (snapshot.written) {
        if (snapshot.problem.empty()) return {};
        return "Undo copy before " + std::string(command) + ": " + snapshot.problem + ".";
    }
    return std::string("No undo copy of the registry could be made before ") + command + " (" +
           snapshot.reason + ").";
}
