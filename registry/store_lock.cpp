// The lock: whether this process may write the registry, and what it tells
// when it may not.
#include "registry/store_rooms.h"

#include "registry/lock_holder.h"
#include "registry/registry_file.h"
#include "text/program_name.h"

const char registryLockFileName[] = "Zandrel.teams.lock";

void rememberRegistryState(RegistryStore& store) {
    store.knownMissing = !fileStampOf(store.held, registryFileName, store.knownStamp);
    store.knownState = true;
}

bool changedSinceKnown(const RegistryStore& store) {
    if (!store.knownState) return true;
    FileStamp now;
    const bool there = fileStampOf(store.held, registryFileName, now);
    return store.knownMissing ? there : !there || now != store.knownStamp;
}

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
        const std::string holder = lockHolderWords(lockHolderAt(store.held, registryLockFileName));
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

bool holdsRegistry(const RegistryStore& store) {
    return store.lockResult == LockResult::taken && !store.lockLost;
}

bool registryFolderAtItsName(const RegistryStore& store) {
    if (store.held.handle == -1) return true;
    const FolderCheck check = checkFolder(store.held);
    return check == FolderCheck::same || check == FolderCheck::failed;
}

namespace {

// What a process that may not write the registry does with its changes.
std::string sideFileTail() {
    return std::string("its changes go to a side file of its own at each autosave, for ") +
           programFileName + " teams recover to merge once the host is stopped.";
}

std::string capitalized(std::string text) {
    if (!text.empty() && text[0] >= 'a' && text[0] <= 'z') text[0] = char(text[0] - 'a' + 'A');
    return text;
}

} // namespace

std::string lockNotice(const RegistryStore& store) {
    if (store.lockLost)
        return (store.lockLostReason.empty()
                    ? std::string(registryLockFileName) +
                          " was deleted or replaced, and another host process now holds it"
                    : store.lockLostReason) +
               ": this one no longer saves to " + registryFileName + "; " + sideFileTail();
    switch (store.lockResult) {
    case LockResult::taken:
        return {};
    case LockResult::heldElsewhere: {
        // Looked at again, not taken: the holder named at the start may be
        // long gone.
        const LockProbe now = probeFileLock(store.held, registryLockFileName);
        if (now == LockProbe::free) {
            const std::string gone =
                "No process holds " + std::string(registryLockFileName) + " now (" +
                (store.lockHolder.empty()
                     ? std::string("the process that held it when this one started")
                     : store.lockHolder + ", which held it when this one started,") +
                " has ended)";
            if (!changedSinceKnown(store))
                return gone + ": this one takes it at its next autosave and saves " +
                       registryFileName + " from then on.";
            return gone + ", but " + registryFileName +
                   (store.load.outcome == LoadOutcome::loaded ||
                            store.load.outcome == LoadOutcome::missing
                        ? " has changed since this one loaded it"
                        : " could not be loaded whole") +
                   ", so this one does not write over it: " + sideFileTail();
        }
        std::string holder = store.lockHolder;
        if (now == LockProbe::held)
            holder = lockHolderWords(lockHolderAt(store.held, registryLockFileName));
        return (holder.empty() ? std::string("Another host process uses")
                               : capitalized(holder) + " holds") +
               " the registry in this directory (" + registryLockFileName +
               " is locked), so this one does not write " + registryFileName + ": " +
               sideFileTail() + " It saves to " + registryFileName +
               " itself if that holder ends and nobody wrote the file meanwhile.";
    }
    case LockResult::failed:
        return std::string("Could not lock ") + registryLockFileName + " (" + store.lockReason +
               "), so this process does not write " + registryFileName + ": " + sideFileTail();
    }
    return {};
}

std::string folderNotice(const RegistryStore& store) {
    if (store.folderProblem.empty()) return {};
    return "Registry folder: " + store.folderProblem + ".";
}
