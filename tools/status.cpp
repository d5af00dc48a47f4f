// hadrok status: a host's folder at one look, and whether anything in it
// waits for the operator.
#include <algorithm>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/change_file.h"
#include "registry/lock_holder.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "registry/side_files.h"
#include "system/files.h"
#include "text/date_time.h"
#include "text/program_name.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"

namespace {

namespace fs = std::filesystem;

struct StatusOptions {
    std::string folder = ".";
};

// Local time, as the plug-in's log and the tools show times.
std::string modifiedAt(const fs::path& path) {
    std::error_code error;
    const fs::file_time_type when = fs::last_write_time(path, error);
    if (error) return "unknown";
    const std::time_t seconds = std::chrono::system_clock::to_time_t(
        std::chrono::time_point_cast<std::chrono::system_clock::duration>(
            std::chrono::file_clock::to_sys(when)));
    std::tm local{};
    if (!localTimeOf(int64_t(seconds), local)) return "unknown";
    return stampText(local, "%Y-%m-%d %H:%M:%S");
}

std::string inFolder(const StatusOptions& options, const std::string& name) {
    return options.folder == "." ? name : (fs::path(options.folder) / name).string();
}

std::string plural(size_t n, const char* one, const char* many) {
    return fmt::format("{} {}", n, n == 1 ? one : many);
}

// The process that wrote a side file of changes, from its header; 0 when
// it is not such a file.
uint32_t sideFileWriter(const std::string& path) {
    ReadableFile file;
    if (openRegularFile(path.c_str(), file) != OpenResult::opened) return 0;
    char head[changeFileHeaderSize];
    ChangeRun run;
    const bool known = file.size >= sizeof head && readExactly(file, head, sizeof head) &&
                       changeRunOf(std::string_view(head, sizeof head), run);
    closeReadableFile(file);
    return known ? run.writer : 0;
}

int status(const StatusOptions& options) {
    std::error_code error;
    if (!fs::is_directory(options.folder, error))
        throw ToolFailure(fmt::format("{} is not a folder", options.folder));
    const std::string program = programFileName;
    const std::string registry = registryFileName;
    const std::string dir = options.folder == "." ? "" : " " + options.folder;
    size_t waiting = 0;
    fs::path full = fs::absolute(options.folder, error).lexically_normal();
    if (!full.has_filename() && full.has_parent_path() && full != full.root_path())
        full = full.parent_path();
    fmt::print("folder: {}\n", full.make_preferred().string());

    // The lock, looked at without taking it, so that a host starting now is
    // never kept from it. Only what is known is said: a host started while
    // another held the lock runs without it, and shows by its side file.
    const std::string lockPath = inFolder(options, registryLockFileName);
    uint32_t hostPid = 0; // the host that runs here, when it says so
    switch (probeFileLock(lockPath.c_str())) {
    case LockProbe::held: {
        Folder held;
        held.path =
            options.folder == "." ? std::string() : (fs::path(options.folder) / "").string();
        const LockHolder holder = lockHolderAt(held, registryLockFileName);
        if (holder.known && !holder.tool) hostPid = holder.pid;
        if (holder.known)
            fmt::print("lock: held by {}{}\n", lockHolderWords(holder),
                       holder.since.empty() ? std::string() : " since " + holder.since);
        else
            fmt::print("lock: held: a host (or a tool) uses this folder now\n");
        break;
    }
    case LockProbe::free:
        if (pathKindOf(lockPath.c_str()) == PathKind::missing)
            fmt::print("lock: not held (no {} yet)\n", registryLockFileName);
        else
            fmt::print("lock: not held: no process holds {} now (a host started while another "
                       "held it runs without it, and keeps its changes in a side file, which "
                       "would be listed below)\n",
                       registryLockFileName);
        break;
    case LockProbe::failed:
        fmt::print("lock: could not be looked at ({})\n", lastSystemError());
        break;
    }

    const std::string registryPath = inFolder(options, registry);
    if (pathKindOf(registryPath.c_str()) == PathKind::missing) {
        fmt::print("registry: none yet (no {})\n", registry);
    } else {
        const uintmax_t size = fs::file_size(registryPath, error);
        if (error || size % freqRecordSize != 0) {
            ++waiting;
            fmt::print("! registry: {} is {} ({}): {} teams check{} tells more\n", registry,
                       error ? "unreadable" : "not whole records",
                       error ? error.message() : fmt::format("{} bytes", size), program, dir);
        } else {
            fmt::print("registry: {}, {} bytes, last modified {}\n",
                       plural(size / freqRecordSize, "record", "records"), size,
                       modifiedAt(registryPath));
        }
        if (const std::string why = unreplaceableWhy(registryPath); !why.empty()) {
            ++waiting;
            fmt::print("! registry: {}\n", why);
        }
    }

    // What the folder holds besides: each kind sorted so the newest is last.
    std::vector<std::string> unsaved, damaged, dated, snapshots, temporaries;
    static const std::regex datedName(R"(\.\d{4}-\d\d-\d\d$)");
    static const std::regex snapshotName(R"(^\.before-[a-z]+-(\d{8}-\d{6}(\.\d+)?)$)");
    for (const fs::directory_entry& entry : fs::directory_iterator(options.folder, error)) {
        const std::string name = entry.path().filename().string();
        if (!name.starts_with(registry + ".")) continue;
        const std::string rest = name.substr(registry.size());
        std::smatch match;
        if (isTemporaryName(name))
            temporaries.push_back(name);
        else if (isSideFileName(name))
            unsaved.push_back(name);
        else if (rest.starts_with(".damaged"))
            damaged.push_back(name);
        else if (std::regex_search(rest, datedName) && rest.size() == 11)
            dated.push_back(name);
        else if (std::regex_match(rest, match, snapshotName))
            snapshots.push_back(match[1].str() + " " + name);
    }
    std::sort(temporaries.begin(), temporaries.end());
    for (const std::string& name : temporaries) {
        ++waiting;
        fmt::print("! temporary {} was left by a host or tool stopped while it wrote; the next "
                   "host start or {} teams command that writes here removes it\n",
                   inFolder(options, name), program);
    }
    std::sort(unsaved.begin(), unsaved.end());
    std::sort(damaged.begin(), damaged.end());
    std::sort(dated.begin(), dated.end());
    std::sort(snapshots.begin(), snapshots.end());
    for (const std::string& name : unsaved) {
        ++waiting;
        // Written by the host that runs here: its saves fail now.
        if (hostPid != 0 && sideFileWriter(inFolder(options, name)) == hostPid)
            fmt::print("! saves fail: the host that runs here (pid {}) could not save the "
                       "registry and keeps its changes in {}; see its messages and {}\n",
                       hostPid, inFolder(options, name), auditLogFileName);
        fmt::print("! side file {} waits to be merged: {} teams recover{} shows what it adds, "
                   "and with --apply merges it\n",
                   inFolder(options, name), program, dir);
    }
    for (const std::string& name : damaged) {
        ++waiting;
        fmt::print("! damaged file {} waits: {} teams salvage {} -o salvaged.teams recovers "
                   "its whole records\n",
                   inFolder(options, name), program, inFolder(options, name));
    }
    if (dated.empty())
        fmt::print("backups: none\n");
    else
        // A dated backup is made by the day's first save, before it writes:
        // it holds the registry as it stood then, so its label is the copy's
        // own time, not its day's midnight.
        fmt::print("backups: {}, newest {} (the registry as it stood at {}, when that day's "
                   "first save copied it)\n",
                   dated.size(), dated.back(), modifiedAt(inFolder(options, dated.back())));
    if (snapshots.empty())
        fmt::print("snapshots: none\n");
    else
        fmt::print("snapshots: {}, newest {}\n", snapshots.size(),
                   snapshots.back().substr(snapshots.back().find(' ') + 1));

    const std::string logPath = inFolder(options, auditLogFileName);
    const uintmax_t logSize = fs::file_size(logPath, error);
    if (error)
        fmt::print("log: none yet (no {})\n", auditLogFileName);
    else
        fmt::print("log: {}, {} bytes\n", auditLogFileName, logSize);

    const std::string settings = inFolder(options, "freqs.ini");
    if (pathKindOf(settings.c_str()) == PathKind::missing) {
        fmt::print("settings: no freqs.ini; every setting has its default\n");
    } else {
        size_t findings = 0;
        try {
            findings = configFindingsOf(settings);
        } catch (const ToolFailure& e) {
            ++waiting;
            fmt::print("! settings: {}\n", e.what());
        }
        if (findings > 0) {
            ++waiting;
            fmt::print("! settings: {}: {}; {} config check {} shows them\n", settings,
                       plural(findings, "finding", "findings"), program, settings);
        } else {
            fmt::print("settings: {}: nothing surprising\n", settings);
        }
    }
    if (waiting == 0)
        fmt::print("nothing waits for the operator\n");
    else
        fmt::print("{} for the operator (the lines starting with \"!\")\n",
                   plural(waiting, "thing waits", "things wait"));
    return waiting == 0 ? 0 : 1;
}

} // namespace

void addStatusCommand(CLI::App& app) {
    auto options = std::make_shared<StatusOptions>();
    CLI::App* command = app.add_subcommand(
        "status", "A host's folder at one look: the lock, the registry, files waiting, backups, "
                  "the log and the settings; exit status 0 nothing waits, 1 something does");
    command->add_option("dir", options->folder, "the host's folder")
        ->type_name("DIR")
        ->transform([](std::string typed) { return folderArgument(std::move(typed)); })
        ->capture_default_str();
    command->callback([options] { runOperatorTool("status", [&] { return status(*options); }); });
}
