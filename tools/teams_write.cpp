#include "tools/teams_write.h"

#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>

#include <fmt/format.h>

#include "registry/audit_log.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "tools/teams_file.h"

namespace {

std::string inDirectory(const std::string& folder, const std::string& name) {
    return folder == "." ? name : (std::filesystem::path(folder) / name).string();
}

std::string folderOf(const std::string& path) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw ToolFailure(fmt::format("{}: {}; nothing written", path, why));
}

[[noreturn]] void cannotWrite(const std::string& path, const std::string& reason, bool existed) {
    throw ToolFailure(existed
                          ? fmt::format("cannot write {}: {}; {} is unchanged", path, reason, path)
                          : fmt::format("cannot write {}: {}; nothing written", path, reason));
}

// Through the plug-in's safe write; the temporary is this process's own, of
// the kind that the next holder of the lock clears after a crash.
void writeSafely(const std::string& path, const std::string& data, bool existed) {
    const std::string suffix = processTemporarySuffix();
    SafeWrite write;
    write.path = path.c_str();
    write.temporarySuffix = suffix.c_str();
    write.data = data.data();
    write.size = data.size();
    switch (writeFileSafely(write)) {
    case WriteResult::written:
        return;
    case WriteResult::renamedUnflushed:
        std::fflush(stdout);
        fmt::print(stderr, "warning: {} is written, but flushing its directory failed: {}\n", path,
                   lastSystemError());
        return;
    case WriteResult::failed:
        cannotWrite(path, lastSystemError(), existed);
    }
}

// How many snapshots of a kind the registry's directory keeps: its
// freqs.ini's Backups, as the plug-in keeps its own.
uint32_t backupsSetting(const std::string& folder) {
    std::error_code error;
    std::filesystem::path ini = std::filesystem::absolute(folder, error) / "freqs.ini";
    if (error) return 7;
    char value[32] = {};
    readProfileString("Config", "Backups", "7", value, sizeof value, ini.string().c_str());
    uint64_t n = 0;
    bool digits = value[0] != '\0';
    for (const char* c = value; *c && digits; ++c) {
        digits = *c >= '0' && *c <= '9';
        n = std::min<uint64_t>(n * 10 + uint64_t(*c - '0'), UINT32_MAX);
    }
    return digits ? uint32_t(n) : 7;
}

std::string snapshotStamp() {
    std::tm t{};
    if (!localTimeOf(currentTime(), t)) return "00000000-000000";
    return fmt::format("{:04}{:02}{:02}-{:02}{:02}{:02}", t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,
                       t.tm_hour, t.tm_min, t.tm_sec);
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// NAME.before-<kind>-YYYYMMDD-HHMMSS[.N], sorted by the stamp, then N, as
// the plug-in prunes its own; a name stamped after now was not written by
// either, and neither counts nor removes it.
void pruneSnapshots(const std::string& folder, const std::string& prefix, uint32_t keep,
                    const std::string& now) {
    if (keep == 0) return;
    struct Named {
        std::string stamp;
        uint64_t n;
        std::filesystem::path path;
    };
    std::vector<Named> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        std::string name = entry.path().filename().string();
        if (name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string_view rest = std::string_view(name).substr(prefix.size());
        if (rest.size() < 15 || !allDigits(rest.substr(0, 8)) || rest[8] != '-' ||
            !allDigits(rest.substr(9, 6)))
            continue;
        uint64_t n = 0;
        if (rest.size() > 15) {
            std::string_view tail = rest.substr(16);
            if (rest[15] != '.' || !allDigits(tail) || tail.size() > 9) continue;
            for (char c : tail)
                n = n * 10 + uint64_t(c - '0');
        }
        if (rest.substr(0, 15) > now) continue;
        found.push_back({std::string(rest.substr(0, 15)), n, entry.path()});
    }
    std::sort(found.begin(), found.end(), [](const Named& a, const Named& b) {
        return a.stamp != b.stamp ? a.stamp < b.stamp : a.n < b.n;
    });
    for (size_t i = 0; i + keep < found.size(); ++i)
        removePath(found[i].path.string().c_str());
}

} // namespace

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

void writeOutputFile(const std::string& path, const std::string& data,
                     const std::vector<std::string>& inputs) {
    checkOutput(path, inputs);
    writeSafely(path, data, pathKindOf(path.c_str()) != PathKind::missing);
}

void holdRegistry(HeldRegistry& held, const std::string& path,
                  const std::vector<std::string>& inputs) {
    checkOutput(path, inputs);
    held.path = path;
    held.folder = folderOf(path);
    held.lockPath = inDirectory(held.folder, registryLockFileName);
    switch (takeFileLock(held.lockPath.c_str(), held.lock)) {
    case LockResult::taken:
        break;
    case LockResult::heldElsewhere:
        // The plug-in's words for a second host, and what to do instead.
        refuse(path, fmt::format("another host process uses the registry in {} ({} is locked): "
                                 "stop the host first, or make the change in the game",
                                 held.folder == "." ? std::string("this directory") : held.folder,
                                 held.lockPath));
    case LockResult::failed:
        refuse(path, fmt::format("could not lock {} ({})", held.lockPath, lastSystemError()));
    }
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
    const std::string prefix =
        std::filesystem::path(held.path).filename().string() + ".before-" + kind + "-";
    const std::string stamp = snapshotStamp();
    const std::string base = inDirectory(held.folder, prefix + stamp);
    for (uint64_t n = 0;; ++n) {
        const std::string name = n == 0 ? base : fmt::format("{}.{}", base, n);
        if (pathKindOf(name.c_str()) != PathKind::missing) continue;
        const std::string suffix = processTemporarySuffix();
        SafeWrite write;
        write.path = name.c_str();
        write.temporarySuffix = suffix.c_str();
        write.data = held.before.data();
        write.size = held.before.size();
        write.noReplace = true;
        write.permissionsFrom = held.path.c_str();
        if (writeFileSafely(write) == WriteResult::failed)
            refuse(held.path,
                   fmt::format("could not keep it as {} first ({})", name, lastSystemError()));
        pruneSnapshots(held.folder, prefix, backupsSetting(held.folder), stamp);
        return name;
    }
}

void replaceRegistry(const HeldRegistry& held, const std::string& data) {
    writeSafely(held.path, data, held.existed);
}

std::string fileNameOf(const std::string& path) {
    return std::filesystem::path(path).filename().string();
}

void logRegistryChange(const HeldRegistry& held, const char* command, int32_t freq,
                       std::string_view change) {
    Text line = auditTimeText(currentTime());
    line.append(" tool=\"hadrok teams\" user=");
    line.append(auditQuote(systemUserName()));
    line.append(" ");
    line.append(command);
    std::string rest = freq >= 0 ? fmt::format(" freq={}: ", freq) : std::string(": ");
    rest += change;
    rest += "\n";
    line.append(rest.data(), uint32_t(rest.size()));

    const std::string log = inDirectory(held.folder, auditLogFileName);
    AppendableFile file;
    std::string problem;
    switch (openForAppend(log.c_str(), file)) {
    case OpenResult::opened:
        if (!appendBytes(file, line.data, line.length)) problem = lastSystemError();
        closeAppendableFile(file);
        break;
    case OpenResult::notRegular:
        problem = "it is a symbolic link or not a regular file";
        break;
    default:
        problem = lastSystemError();
        break;
    }
    if (!problem.empty()) {
        std::fflush(stdout);
        fmt::print(stderr, "hadrok teams {}: warning: the change is not recorded in {} ({})\n",
                   command, log, problem);
    }
}
