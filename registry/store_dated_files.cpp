// Dated files: the daily backup, the undo snapshots, and their pruning.
#include "registry/store_rooms.h"

#include "registry/registry_file.h"
#include <algorithm>
#include <charconv>
#include <vector>

namespace {

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

// Files dated by a clock that ran ahead sort after everything written since
// it was set right, so the date alone can't tell which were written last.
// Those dated after now are left out of the count and kept until their date
// comes; the file just written is never a candidate. What is removed is the
// oldest of the rest; a removal that fails is told.
std::string pruneOldest(const RegistryStore& store, std::vector<std::string>& sortedOldestFirst,
                        uint32_t keep, const std::string& justWritten,
                        std::vector<std::string>* removed = nullptr) {
    std::string problem;
    for (size_t i = 0; i + keep < sortedOldestFirst.size(); ++i) {
        const std::string& name = sortedOldestFirst[i];
        if (name == justWritten) continue;
        if (removePath(store.held, name.c_str())) {
            if (removed) removed->push_back(name);
        } else if (problem.empty()) {
            problem = name + " (" + lastSystemError() + ")";
        }
    }
    return problem;
}

} // namespace

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
    report.pruneProblem = pruneOldest(store, dated, keep, written, &report.pruned);
}

namespace {

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
    // Backups=0 spares disk: the last undo copy of each kind stays, the
    // older ones go, so players' actions can't multiply files.
    const std::string pruneProblem =
        pruneSnapshots(store, fileName, kind, std::max<uint32_t>(keep, 1), stamp, report.name);
    if (!pruneProblem.empty() && report.problem.empty())
        report.problem = "an older undo copy " + pruneProblem + " could not be removed";
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

std::string snapshotNotice(const SnapshotReport& snapshot, const char* command) {
    if (snapshot.written) {
        if (snapshot.problem.empty()) return {};
        return "Undo copy before " + std::string(command) + ": " + snapshot.problem + ".";
    }
    return std::string("No undo copy of the registry could be made before ") + command + " (" +
           snapshot.reason + ").";
}
