#include "tools/teams_write.h"

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include <fmt/format.h>

#include "registry/audit_log.h"
#include "registry/lock_holder.h"
#include "registry/plugin_config.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "system/files.h"
#include "text/program_name.h"
#include "tools/teams_file.h"

namespace {

std::string toolCommand; // what the operator ran, for the lock file

std::string inDirectory(const std::string& folder, const std::string& name) {
    return folder == "." ? name : (std::filesystem::path(folder) / name).string();
}

// A folder as openFolder takes it: ending in the separator, empty for ".".
std::string folderPath(const std::string& folder) {
    return folder == "." ? std::string() : (std::filesystem::path(folder) / "").string();
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw ToolFailure(fmt::format("{}: {}; nothing written", path, why));
}

[[noreturn]] void cannotWrite(const std::string& path, const std::string& reason, bool existed) {
    throw ToolFailure(existed
                          ? fmt::format("cannot write {}: {}; {} is unchanged", path, reason, path)
                          : fmt::format("cannot write {}: {}; nothing written", path, reason));
}

// Through the plug-in's safe write, failing as the tools fail (ToolFailure).
// The temporary is this process's own, of the kind that the next holder of
// the lock clears after a crash.
// noReplace: the file must be new, and one that appears meanwhile is left as
// it is.
// folder: the registry's, held; path is then written as its name there.
void writeOrFail(const std::string& path, const std::string& data, bool existed,
                 bool noReplace = false, const Folder* folder = nullptr) {
    const std::string suffix = processTemporarySuffix();
    const std::string name = folder ? fileNameOf(path) : path;
    SafeWrite write;
    write.path = name.c_str();
    write.folder = folder;
    write.temporarySuffix = suffix.c_str();
    write.data = data.data();
    write.size = data.size();
    write.noReplace = noReplace;
    switch (writeFileSafely(write)) {
    case WriteResult::written:
        return;
    case WriteResult::renamedUnflushed:
        std::fflush(stdout);
        fmt::print(stderr, "warning: {} is written, but flushing its directory failed: {}\n", path,
                   lastSystemError());
        return;
    case WriteResult::failed:
        if (noReplace && pathKindOf(path.c_str()) != PathKind::missing)
            refuse(path, "it appeared while this ran and is left as it is");
        cannotWrite(path, lastSystemError(), existed);
    }
}

// How many snapshots of a kind the registry's directory keeps: its
// freqs.ini's Backups, read by the plug-in's own reader, so that a tool
// never prunes an undo copy the plug-in would keep.
uint32_t backupsSetting(const std::string& folder) {
    std::error_code error;
    const std::string ini = (std::filesystem::absolute(folder, error) / "freqs.ini").string();
    return loadConfigFile(error ? nullptr : ini.c_str()).values.backups;
}

} // namespace

void noteToolCommand(const std::string& command) {
    toolCommand = command;
}

void checkOutput(const std::string& path, const std::vector<std::string>& inputs) {
    if (path.empty()) throw ToolFailure("no output file named; nothing written");
    std::string kind = pathKindWords(path.c_str(), false);
    if (kind == "a symbolic link")
        refuse(path, "it is a symbolic link (write to the file it points to, or to a new name)");
    if (!kind.empty())
        refuse(path, fmt::format("it is not a regular file ({}), so it is never replaced", kind));
    FileIdentity target = fileIdentityOf(path.c_str());
    for (const std::string& input : inputs) {
        FileIdentity read = input == "-" ? standardInputIdentity() : fileIdentityOf(input.c_str());
        if (sameFile(target, read))
            refuse(path, fmt::format("it is the input {} (write to a new file)",
                                     input == "-" ? std::string("(standard input)") : input));
    }
}

namespace {

bool startsWithNoCase(std::string_view text, std::string_view start) {
    return text.size() >= start.size() &&
           std::equal(start.begin(), start.end(), text.begin(), [](char a, char b) {
               return std::tolower(static_cast<unsigned char>(a)) ==
                      std::tolower(static_cast<unsigned char>(b));
           });
}

// Text output (JSON, CSV) never goes where the plug-in or an operator would
// take it for a registry: over the registry, its backups, snapshots and side
// files, the settings, the log, or any file named *.teams. Windows names
// are the same in any letter case.
void refuseRegistryName(const std::string& path) {
    const std::string name = fileNameOf(path);
    const std::string registry = registryFileName;
    const std::string_view suffix = ".teams";
    const bool teamsFile =
        name.size() >= suffix.size() &&
        startsWithNoCase(std::string_view(name).substr(name.size() - suffix.size()), suffix);
    if (startsWithNoCase(name, registry) || startsWithNoCase(name, auditLogFileName) ||
        startsWithNoCase(name, "freqs.ini") || teamsFile)
        refuse(path, "export writes JSON or CSV, never over the plug-in's files or a registry "
                     "file (*.teams): give another name");
}

} // namespace

void writeOutputFile(const std::string& path, const std::string& data,
                     const std::vector<std::string>& inputs) {
    checkOutput(path, inputs);
    refuseRegistryName(path);
    writeOrFail(path, data, pathKindOf(path.c_str()) != PathKind::missing);
}

void holdRegistry(HeldRegistry& held, const std::string& path,
                  const std::vector<std::string>& inputs) {
    checkOutput(path, inputs);
    held.path = path;
    held.folder = folderOf(path);
    held.lockPath = inDirectory(held.folder, registryLockFileName);
    if (!openFolder(folderPath(held.folder), held.dir))
        refuse(path,
               fmt::format("could not open its folder {} ({})", held.folder, lastSystemError()));
    switch (takeFileLock(held.dir, registryLockFileName, held.lock)) {
    case LockResult::taken:
        nameLockHolder(held.lock, "tool", toolCommand);
        break;
    case LockResult::heldElsewhere: {
        const std::string folder = held.folder == "." ? std::string("this directory") : held.folder;
        const LockHolder holder = lockHolderAt(held.dir, registryLockFileName);
        if (holder.known && holder.tool)
            refuse(path, fmt::format("{} holds the registry in {} ({} is locked): try again once "
                                     "it has finished",
                                     lockHolderWords(holder), folder, held.lockPath));
        if (holder.known)
            refuse(path, fmt::format("{} holds the registry in {} ({} is locked): stop the host "
                                     "first, or make the change in the game",
                                     lockHolderWords(holder), folder, held.lockPath));
        // The plug-in's words for a second host, and what to do instead.
        refuse(path, fmt::format("another host process uses the registry in {} ({} is locked): "
                                 "stop the host first, or make the change in the game",
                                 folder, held.lockPath));
    }
    case LockResult::failed:
        refuse(path, fmt::format("could not lock {} ({})", held.lockPath, lastSystemError()));
    }
    // What a tool or host killed mid-write left is cleared now, as the host
    // clears it at its start: under the lock, none is in use.
    removeLeftoverTemporaries(held.dir);
    // Looked at again under the lock: what is read now is what is replaced.
    checkOutput(path, inputs);
    held.existed = pathKindOf(path.c_str()) != PathKind::missing;
    if (held.existed) {
        try {
            held.before = readRegistryImage(path);
        } catch (const ToolFailure& e) {
            throw ToolFailure(fmt::format("{}; nothing written", e.what()));
        }
    }
}

std::string keepSnapshot(const HeldRegistry& held, const char* kind) {
    if (!held.existed) return {};
    // Named and pruned as the plug-in keeps its own undo copies.
    const std::string folder = held.folder == "." ? std::string() : held.folder + "/";
    const SnapshotReport snapshot =
        writeFileSnapshot(folder, std::filesystem::path(held.path).filename().string(), held.before,
                          kind, backupsSetting(held.folder));
    if (!snapshot.written)
        refuse(held.path, fmt::format("could not keep it as a before-{} copy first ({})", kind,
                                      snapshot.reason));
    if (!snapshot.problem.empty())
        fmt::print(stderr, "warning: {}: {}\n", held.path, snapshot.problem);
    held.snapshot = inDirectory(held.folder, snapshot.name);
    return held.snapshot;
}

void replaceRegistry(const HeldRegistry& held, const std::string& data, const char* command,
                     int32_t freq, std::string_view change) {
    logRegistryChange(held, command, freq, change);
    try {
        writeOrFail(held.path, data, held.existed, false, &held.dir);
    } catch (const ToolFailure& failure) {
        std::string words = failure.what();
        if (const std::string why = unreplaceableWhy(held.path); !why.empty())
            words += " (" + why + ")";
        logRegistryChange(held, command, freq,
                          fmt::format("not written after all ({}); {} is unchanged",
                                      auditQuote(words).view(), fileNameOf(held.path)));
        if (!held.snapshot.empty() && !removePath(held.dir, fileNameOf(held.snapshot).c_str()))
            words += fmt::format("; its copy {}, kept before this change, stays ({})",
                                 held.snapshot, lastSystemError());
        throw ToolFailure(words);
    }
}

std::string fileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

std::string folderOf(const std::string& path) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool isNewNonRegistryFile(const std::string& path) {
    const std::string name = fileNameOf(path);
    return pathKindOf(path.c_str()) == PathKind::missing && !name.empty() &&
           !(name.size() == std::string_view(registryFileName).size() &&
             startsWithNoCase(name, registryFileName));
}

void writeNewFile(const std::string& path, const std::string& data,
                  const std::vector<std::string>& inputs) {
    checkOutput(path, inputs);
    writeOrFail(path, data, false, true);
}

namespace {

void writeToolLine(const Folder& folder, bool mayRotate, const char* command, int32_t freq,
                   std::string_view change) {
    // Through the plug-in's own log writer: whole lines, rotated alike, and
    // flushed before the change they tell is made.
    AuditLog log;
    setAuditLogFile(log, folder, auditLogFileName);
    log.mayRotate = mayRotate;
    auditToolLine(log, systemUserName(), command, freq, change);
    flushAuditLog(log);
    const std::string problem = auditLogProblem(log);
    if (!problem.empty()) {
        std::fflush(stdout);
        fmt::print(stderr, "{} teams {}: warning: the change is not recorded in {} ({})\n",
                   programFileName, command,
                   inDirectory(folder.path.empty() ? "." : folder.path, auditLogFileName), problem);
    }
}

} // namespace

void logRegistryChange(const HeldRegistry& held, const char* command, int32_t freq,
                       std::string_view change) {
    writeToolLine(held.dir, true, command, freq, change);
}

void logBesideHost(const std::string& folder, const char* command, int32_t freq,
                   std::string_view change) {
    Folder dir;
    // Held for the line, so that its file is made and flushed in one folder;
    // by its name when it can't be held.
    if (!openFolder(folderPath(folder), dir)) dir.path = folderPath(folder);
    writeToolLine(dir, false, command, freq, change);
    closeFolder(dir);
}

bool registryLockHeld(const std::string& folder) {
    // Looked at, never taken: a host starting now must not find it held.
    return probeFileLock(inDirectory(folder, registryLockFileName).c_str()) == LockProbe::held;
}
