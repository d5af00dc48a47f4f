#include "registry/registry_store.h"

#include <algorithm>
#include <vector>

#include "registry/registry_file.h"
#include "text/number.h"
#include "text/program_name.h"

const char registryLockFileName[] = "Zandrel.teams.lock";

namespace {

std::string number(uint64_t value) {
    // Counts here stay far below 2^32 (record counts are capped); sizes are
    // shown as two halves only if they ever reach that.
    if (value <= UINT32_MAX) return std::string(numberToText(uint32_t(value), 10, 0, false).view());
    return number(value / 1000000000u) +
           std::string(numberToText(uint32_t(value % 1000000000u), 10, 9, false).view());
}

Text twoDigits(int value) {
    return numberToText(uint32_t(value), 10, 2, false);
}

// Local date as YYYY-MM-DD (dated backups) or YYYYMMDD-HHMMSS (snapshots).
std::string stampNow(bool withTime) {
    std::tm t{};
    if (!localTimeOf(currentTime(), t)) return "00000000";
    Text s = numberToText(uint32_t(t.tm_year + 1900), 10, 4, false);
    if (!withTime) {
        s.append("-");
        s.append(twoDigits(t.tm_mon + 1));
        s.append("-");
        s.append(twoDigits(t.tm_mday));
        return std::string(s.view());
    }
    s.append(twoDigits(t.tm_mon + 1));
    s.append(twoDigits(t.tm_mday));
    s.append("-");
    s.append(twoDigits(t.tm_hour));
    s.append(twoDigits(t.tm_min));
    s.append(twoDigits(t.tm_sec));
    return std::string(s.view());
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
    for (char c : rest.substr(1))
        n = n * 10 + uint64_t(c - '0');
    return true;
}

// A temporary of a save: <name>.tmp (older versions) or <name>.tmp.<process>.
bool isTemporaryName(std::string_view name) {
    const std::string_view base = registryFileName;
    if (name.substr(0, base.size()) != base) return false;
    const size_t at = name.rfind(".tmp");
    if (at == std::string_view::npos) return false;
    std::string_view rest = name.substr(at + 4);
    return rest.empty() || (rest[0] == '.' && allDigits(rest.substr(1)));
}

// Removes all but the newest `keep` of the names (sorted oldest first).
void pruneOldest(std::vector<std::string>& sortedOldestFirst, uint32_t keep) {
    for (size_t i = 0; i + keep < sortedOldestFirst.size(); ++i)
        removePath(sortedOldestFirst[i].c_str());
}

std::string keepAside(LoadReport& load) {
    // No upper bound: a free name is always found, unless moving fails
    // for another reason than the name being taken.
    const std::string base = std::string(registryFileName) + ".damaged";
    for (uint64_t n = 0;; ++n) {
        const std::string name = n == 0 ? base : base + "." + number(n);
        switch (moveNoReplace(registryFileName, name.c_str())) {
        case MoveResult::moved:
            return name;
        case MoveResult::nameTaken:
            continue;
        case MoveResult::failed:
            load.moveReason = lastSystemError();
            return {};
        }
    }
}

WriteResult writeBeside(const RegistryStore& store, const std::string& name, const void* data,
                        size_t size) {
    SafeWrite write;
    write.path = name.c_str();
    write.temporarySuffix = store.temporarySuffix.c_str();
    write.data = data;
    write.size = size;
    write.noReplace = true;
    write.permissionsFrom = registryFileName;
    return writeFileSafely(write);
}

// Before the day's first save replaces the registry file: the file as it
// stands, under the day's name, unless that name is taken.
std::string keepDatedBackup(RegistryStore& store, uint32_t keep) {
    std::string problem;
    const std::string name = std::string(registryFileName) + "." + stampNow(false);
    if (pathKindOf(name.c_str()) == PathKind::missing) {
        FreqRegistry copy;
        const ReadReport read = readRegistryFile(registryFileName, copy, maxLoadedRecords);
        if (read.status == ReadStatus::read) {
            size_t size = 0;
            const auto image = registryImageBuffer(copy, size);
            if (writeBeside(store, name, image.get(), size) == WriteResult::failed)
                problem = name + " (" + lastSystemError() + ")";
        } else if (read.status != ReadStatus::missing) {
            problem = name + " (" + read.reason + ")";
        }
    }
    std::vector<std::string> dated;
    for (std::string& file : currentDirectoryNames())
        if (isDatedBackupName(file)) dated.push_back(std::move(file));
    // The date in the name sorts as text.
    std::sort(dated.begin(), dated.end());
    pruneOldest(dated, keep);
    return problem;
}

void pruneSnapshots(const char* kind, uint32_t keep) {
    const std::string prefix = std::string(registryFileName) + ".before-" + kind + "-";
    struct Named {
        std::string stamp;
        uint64_t n;
        std::string name;
    };
    std::vector<Named> found;
    for (std::string& file : currentDirectoryNames()) {
        Named entry{{}, 0, {}};
        if (snapshotKey(file, prefix, entry.stamp, entry.n)) {
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
    pruneOldest(names, keep);
}

} // namespace

void openRegistryStore(RegistryStore& store) {
    store.temporarySuffix = processTemporarySuffix();
    store.lockResult = takeFileLock(registryLockFileName, store.lock);
    if (store.lockResult != LockResult::taken) {
        store.lockReason = lastSystemError();
        return;
    }
    // Only the holder may remove temporaries: any other process's would be
    // in use. With the lock held, those present are leftovers of a crash.
    for (const std::string& name : currentDirectoryNames())
        if (isTemporaryName(name)) removePath(name.c_str());
}

void closeRegistryStore(RegistryStore& store) {
    releaseFileLock(store.lock);
    store.lockResult = LockResult::failed;
}

bool holdsRegistry(const RegistryStore& store) {
    return store.lockResult == LockResult::taken;
}

const LoadReport& loadRegistryFile(RegistryStore& store, FreqRegistry& registry) {
    LoadReport& load = store.load;
    load = {};
    const ReadReport read = readRegistryFile(registryFileName, registry, maxLoadedRecords);
    load.size = read.size;
    switch (read.status) {
    case ReadStatus::missing:
        load.outcome = LoadOutcome::missing;
        return load;
    case ReadStatus::read:
        load.outcome = LoadOutcome::loaded;
        load.records = read.size / freqRecordSize;
        return load;
    default:
        break;
    }
    load.reason = read.reason;
    load.sizeNotWhole = read.status == ReadStatus::notWhole;
    if (!holdsRegistry(store)) {
        load.outcome = LoadOutcome::notUsable;
        load.moveReason = "another host process uses this directory";
        return load;
    }
    load.keptAs = keepAside(load);
    load.outcome = load.keptAs.empty() ? LoadOutcome::notUsable : LoadOutcome::keptAside;
    return load;
}

SaveReport saveRegistryFile(RegistryStore& store, FreqRegistry& registry, uint32_t keepDated) {
    SaveReport report;
    if (!holdsRegistry(store)) {
        report.status = SaveStatus::notHeld;
        return report;
    }
    if (store.load.outcome == LoadOutcome::notUsable) {
        // Unless it has gone since: then there is nothing left to lose.
        ReadableFile file;
        const OpenResult there = openRegularFile(registryFileName, file);
        closeReadableFile(file);
        if (there != OpenResult::missing) {
            report.status = SaveStatus::leftAlone;
            return report;
        }
        store.load.outcome = LoadOutcome::missing;
    }
    if (keepDated > 0) report.backupProblem = keepDatedBackup(store, keepDated);

    size_t size = 0;
    const auto image = registryImageBuffer(registry, size);
    SafeWrite write;
    write.path = registryFileName;
    write.temporarySuffix = store.temporarySuffix.c_str();
    write.data = image.get();
    write.size = size;
    write.followLink = true;
    switch (writeFileSafely(write)) {
    case WriteResult::written:
        report.status = SaveStatus::saved;
        break;
    case WriteResult::renamedUnflushed:
        report.status = SaveStatus::savedUnflushed;
        report.reason = lastSystemError();
        break;
    case WriteResult::failed:
        report.status = SaveStatus::failed;
        report.reason = lastSystemError();
        break;
    }
    return report;
}

SnapshotReport writeSnapshot(RegistryStore& store, FreqRegistry& registry, const char* kind,
                             uint32_t keep) {
    SnapshotReport report;
    if (!holdsRegistry(store)) {
        report.reason = "another host process uses this directory";
        return report;
    }
    const std::string base =
        std::string(registryFileName) + ".before-" + kind + "-" + stampNow(true);
    size_t size = 0;
    const auto image = registryImageBuffer(registry, size);
    for (uint64_t n = 0;; ++n) {
        report.name = n == 0 ? base : base + "." + number(n);
        if (pathKindOf(report.name.c_str()) != PathKind::missing) continue;
        if (writeBeside(store, report.name, image.get(), size) != WriteResult::failed) break;
        report.reason = lastSystemError();
        report.name.clear();
        return report;
    }
    report.written = true;
    if (keep > 0) pruneSnapshots(kind, keep);
    return report;
}

std::string loadNotice(const LoadReport& load) {
    const std::string file = std::string("Registry file ") + registryFileName;
    switch (load.outcome) {
    case LoadOutcome::missing:
    case LoadOutcome::loaded:
        return {};
    case LoadOutcome::keptAside: {
        // The operator's next step, whatever the reason: the tool says what
        // it can of the file and recovers its whole records.
        const std::string next = std::string(" Next step: ") + programFileName + " teams salvage " +
                                 load.keptAs +
                                 " -o salvaged.teams recovers its whole records; see the guide "
                                 "\"After a damaged registry\".";
        if (load.sizeNotWhole)
            return file + " was damaged and has been kept as " + load.keptAs +
                   "; starting with an empty registry." + next;
        return file + " could not be read (" + load.reason + ") and has been kept as " +
               load.keptAs + "; starting with an empty registry." + next;
    }
    case LoadOutcome::notUsable:
        return file + " could not be read (" + load.reason + ") and was left in place (" +
               load.moveReason +
               "); it will not be saved over, and changes are kept in memory only. Next step: " +
               programFileName + " teams check " + registryFileName +
               " says what is wrong with it; see the guide \"After a damaged registry\".";
    }
    return {};
}

std::string loadAuditText(const LoadReport& load) {
    std::string what = load.sizeNotWhole ? "registry file damaged (size " + number(load.size) + ")"
                                         : "registry file could not be read (" + load.reason + ")";
    switch (load.outcome) {
    case LoadOutcome::keptAside:
        return what + ", kept as " + load.keptAs;
    case LoadOutcome::notUsable:
        return what + ", could not be kept aside (" + load.moveReason + "); it is not saved over";
    default:
        return {};
    }
}

std::string lockNotice(const RegistryStore& store) {
    switch (store.lockResult) {
    case LockResult::taken:
        return {};
    case LockResult::heldElsewhere:
        return std::string("Another host process uses the registry in this directory (") +
               registryLockFileName + " is locked); changes made in this one are not saved.";
    case LockResult::failed:
        return std::string("Could not lock ") + registryLockFileName + " (" + store.lockReason +
               "); changes made in this process are not saved.";
    }
    return {};
}

std::string saveNotice(const SaveReport& save) {
    std::string notice;
    switch (save.status) {
    case SaveStatus::saved:
    case SaveStatus::savedUnflushed:
    case SaveStatus::notHeld:
        break;
    case SaveStatus::failed:
        notice = std::string("Saving ") + registryFileName + " failed (" + save.reason +
                 "); the file on disk is unchanged. Trying again at the next autosave.";
        break;
    case SaveStatus::leftAlone:
        notice = std::string("Not saving ") + registryFileName +
                 ": it could not be read at load and is left as it is; changes are kept in "
                 "memory only.";
        break;
    }
    if (!save.backupProblem.empty()) {
        if (!notice.empty()) notice += " ";
        notice += "The daily backup " + save.backupProblem + " could not be written.";
    }
    return notice;
}

std::string saveAuditText(const SaveReport& save) {
    std::string text;
    switch (save.status) {
    case SaveStatus::saved:
    case SaveStatus::notHeld:
        break;
    case SaveStatus::savedUnflushed:
        text = "saved, but flushing the directory failed (" + save.reason +
               "); the new file may not survive a power cut";
        break;
    case SaveStatus::failed:
        text = "saving failed (" + save.reason + "); the file on disk is unchanged";
        break;
    case SaveStatus::leftAlone:
        text = "not saved: the file that could not be read at load is left as it is";
        break;
    }
    if (!save.backupProblem.empty()) {
        if (!text.empty()) text += "; ";
        text += "daily backup " + save.backupProblem + " could not be written";
    }
    return text;
}

std::string snapshotNotice(const SnapshotReport& snapshot, const char* command) {
    if (snapshot.written) return {};
    return std::string("No undo copy of the registry could be made before ") + command + " (" +
           snapshot.reason + ").";
}
