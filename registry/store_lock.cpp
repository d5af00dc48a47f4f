// The lock: whether this process may write the registry, and what it tells
// when it may not.
#include "registry/store_rooms.h"

#include "registry/lock_holder.h"
#include "registry/registry_file.h"

const char registryLockFileName[] = "Zandrel.teams.lock";

void rememberRegistryState(RegistryStore& store) {
    store.knownMissing = !fileStampOf(store.held, registryFileName, store.knownStamp);
    store.knownState = true;
}

namespace {

// Whether the registry file is other than this process last loaded or
// saved it (or that is not known).
bool changedSinceKnown(const RegistryStore& store) {
    if (!store.knownState) return true;
    FileStamp now;
    const bool there = fileStampOf(store.held, registryFileName, now);
    return store.knownMissing ? there : !there || now != store.knownStamp;
}

} // namespace

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
