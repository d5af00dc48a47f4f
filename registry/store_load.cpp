// What was loaded, and so may be written: the load, its outcome and its
// retries.
#include "registry/store_rooms.h"

#include "registry/lock_holder.h"
#include "registry/registry_file.h"
#include "text/program_name.h"
#include <new>

namespace {

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

} // namespace

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
        if (store.lockResult == LockResult::heldElsewhere)
            store.lockHolder = lockHolderWords(lockHolderAt(store.held, registryLockFileName));
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

const LoadReport& loadRegistryFile(RegistryStore& store, FreqRegistry& registry) {
    LoadReport& load = store.load;
    load = {};
    ReadReport read;
    // The digests are taken as the records are read, into an empty registry
    // only: then what was read is just what the registry holds.
    std::unique_ptr<DigestsByFreq> gathered;
    try {
        if (registry.freqs.count() == 0) {
            gathered = std::make_unique<DigestsByFreq>();
            gathered->byFreq = std::make_unique_for_overwrite<uint64_t[]>(65536);
        }
    } catch (const std::bad_alloc&) {
        gathered.reset(); // then rememberSavedRecords makes its own pass
    }
    try {
        read = readRegistryFile(store.held, registryFileName, registry, maxLoadedRecords,
                                gathered ? RecordVisitor{noteRecordDigest, gathered.get()}
                                         : RecordVisitor{});
    } catch (const std::bad_alloc&) {
        // Whole records that did not fit in memory: sound, so they stay
        // where they are, and are tried again.
        clearFreqs(registry);
        read.status = ReadStatus::passing;
        read.reason = "not enough memory to load it";
    }
    load.size = read.size;
    // What was loaded (or, failing that, the empty registry) is what every
    // change is told against.
    if (gathered && read.status == ReadStatus::read)
        rememberSavedRecords(store, registry, *gathered);
    else
        rememberSavedRecords(store, registry);
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

bool retryRegistryStart(RegistryStore& store, FreqRegistry& registry) {
    if (store.lockLost) return false;
    // The cheap tests first: the digest walks every record, and this runs
    // at every autosave.
    const bool lockTaken = store.lockResult == LockResult::taken;
    const LoadOutcome outcome = store.load.outcome;
    if (lockTaken && outcome != LoadOutcome::unknown && outcome != LoadOutcome::passing)
        return false;
    if (!folderGone(store).empty()) return false;
    const bool unchanged = unchangedSinceLoadOrSave(store, registry);
    bool tookLock = false;
    if (!lockTaken) {
        FileLock lock;
        const LockResult result = takeFileLock(store.held, registryLockFileName, lock);
        if (result != LockResult::taken) return false;
        // A process that loaded without the lock and changed something since
        // writes the file only if nobody wrote it meanwhile; otherwise its
        // changes go on to its side file, and the lock to whoever needs it.
        // After a start that failed, nothing was loaded to move on from.
        const bool writable = unchanged || outcome == LoadOutcome::unknown;
        const bool loaded = outcome == LoadOutcome::loaded || outcome == LoadOutcome::missing;
        if (!writable && (!loaded || changedSinceKnown(store))) {
            releaseFileLock(lock);
            return false;
        }
        store.lockTakenLate = !writable;
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

std::string loadNotice(const LoadReport& load) {
    const std::string file = std::string("Registry file ") + registryFileName;
    switch (load.outcome) {
    case LoadOutcome::missing:
    case LoadOutcome::loaded:
        return {};
    case LoadOutcome::unknown:
        return file + " could not be loaded (" +
               (load.reason.empty() ? std::string("the plug-in's start failed") : load.reason) +
               ") and was left in place; it will not be saved over, and changes go to a side file "
               "beside it at each autosave.";
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
               "); it will not be saved over, and changes go to a side file beside it at each "
               "autosave. Next step: " +
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
