// hadrok teams recover: merges the side files a host left beside the
// registry (what it changed but could not save) back into the registry,
// under the host's lock, keeping the registry it replaces as a snapshot
// first.
//
// A side file holds each change with its base, what the freq was when the
// run last loaded or saved. Runs are taken in the order of their sequence,
// one side file in memory at a time, and each change is merged three ways:
// one whose base the registry still holds is made, one the registry already
// holds is done, anything else is a conflict, left as it is unless the
// operator takes it (--take) or drops it (--drop). A side file whose
// conflicts are all settled is set aside, never deleted; one with conflicts
// left is written anew with those alone, so that a recover run again, or
// interrupted and run again, makes nothing it made already and reverts
// nothing saved since. The older side files, the whole registry as their
// run held it, are read as changes whose base is not known: a freq the
// registry lacks is offered, a record that differs is a conflict.
#include <algorithm>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/change_file.h"
#include "registry/change_merge.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "registry/side_files.h"
#include "system/files.h"
#include "text/date_time.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"
#include "tools/teams_write.h"

namespace {

struct RecoverOptions {
    std::string folder = ".";
    bool apply = false;
    std::vector<uint32_t> take;
    std::vector<uint32_t> drop;
};

// A side file in the runs' order: its run from its header (the older kind
// has none and comes first, in the order of its name).
struct SideFile {
    std::string name;
    bool older = false;
    ChangeRun run;
    size_t nameOrder = 0;
};

std::string quoted(std::string_view bytes) {
    return escapedBytes(bytes, {.inQuotes = true, .quoteAsHex = true});
}

std::string timeText(int64_t seconds) {
    std::tm local{};
    if (seconds <= 0 || !localTimeOf(seconds, local)) return "unknown";
    return stampText(local, "%Y-%m-%d %H:%M:%S");
}

// The record's values; the password never, only whether it is set.
std::string valuesOf(const FreqRecord& r) {
    return fmt::format("owner {}, name {}, squad {}, welcome {}, password {}, last use {}",
                       quoted(fieldOf(r.owner)), quoted(fieldOf(r.freqName)),
                       quoted(fieldOf(r.allowedSquad)), quoted(fieldOf(r.welcome)),
                       r.passwordHash != 0 ? "set" : "none",
                       r.lastUsed < 0 ? std::string("none") : timeText(r.lastUsed));
}

// What differs, old -> new, in the record's order; a password only "changed".
std::string differences(const FreqRecord& before, const FreqRecord& after) {
    std::vector<std::string> parts;
    const auto text = [&](const char* what, std::string_view a, std::string_view b) {
        if (a != b) parts.push_back(fmt::format("{} {} -> {}", what, quoted(a), quoted(b)));
    };
    text("owner", fieldOf(before.owner), fieldOf(after.owner));
    text("welcome", fieldOf(before.welcome), fieldOf(after.welcome));
    if (std::memcmp(before.padding, after.padding, sizeof before.padding) != 0)
        parts.push_back("padding");
    if (before.passwordHash != after.passwordHash) parts.push_back("password changed");
    text("squad", fieldOf(before.allowedSquad), fieldOf(after.allowedSquad));
    text("name", fieldOf(before.freqName), fieldOf(after.freqName));
    if (before.lastUsed != after.lastUsed && std::max(before.lastUsed, after.lastUsed) > 0)
        parts.push_back(fmt::format("last use {} -> {}", timeText(before.lastUsed),
                                    timeText(std::max(before.lastUsed, after.lastUsed))));
    if (parts.empty()) return "no field";
    return fmt::format("{}", fmt::join(parts, ", "));
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder == "." ? name : (std::filesystem::path(folder) / name).string();
}

// The whole file, or a ToolFailure saying why not.
std::string bytesOf(const std::string& path) {
    ReadableFile file;
    const OpenResult opened = openRegularFile(path.c_str(), file);
    if (opened != OpenResult::opened)
        throw ToolFailure(opened == OpenResult::notRegular
                              ? "it is not a regular file"
                              : "it could not be opened (" + lastSystemError() + ")");
    if (file.size > (uint64_t(1) << 30)) {
        closeReadableFile(file);
        throw ToolFailure("it is larger than any side file a host writes");
    }
    std::string bytes(size_t(file.size), '\0');
    const bool read = bytes.empty() || readExactly(file, bytes.data(), bytes.size());
    const std::string reason = read ? std::string() : lastSystemError();
    closeReadableFile(file);
    if (!read) throw ToolFailure("it could not be read (" + reason + ")");
    return bytes;
}

std::vector<SideFile> sideFilesInOrder(const std::string& folder, const Folder& listed) {
    std::vector<SideFile> files;
    const std::vector<std::string> names = sideFilesIn(listed); // the older ones by name
    for (size_t i = 0; i < names.size(); ++i) {
        SideFile side{names[i], true, {}, i};
        ReadableFile file;
        if (openRegularFile(inFolder(folder, names[i]).c_str(), file) == OpenResult::opened) {
            char head[changeFileHeaderSize];
            if (file.size >= sizeof head && readExactly(file, head, sizeof head) &&
                changeRunOf(std::string_view(head, sizeof head), side.run))
                side.older = false;
            closeReadableFile(file);
        }
        files.push_back(side);
    }
    std::stable_sort(files.begin(), files.end(), [](const SideFile& a, const SideFile& b) {
        if (a.older != b.older) return a.older;
        if (a.older) return a.nameOrder < b.nameOrder;
        if (runBefore(a.run, b.run) || runBefore(b.run, a.run)) return runBefore(a.run, b.run);
        return a.name < b.name; // the same run twice: a copy
    });
    return files;
}

// Sets a recovered side file aside under its "recovered" name in the held
// folder, never over another file; the name that was taken, or empty with
// the reason.
std::string setAside(const Folder& folder, const std::string& name, std::string& reason) {
    const std::string base = recoveredNameOf(name);
    for (uint64_t n = 0;; ++n) {
        const std::string to = n == 0 ? base : fmt::format("{}.{}", base, n);
        switch (moveNoReplace(folder, name.c_str(), to.c_str())) {
        case MoveResult::moved:
            return to;
        case MoveResult::nameTaken:
            continue;
        case MoveResult::failed:
            reason = lastSystemError();
            return {};
        }
    }
}

// A side file written anew with the conflicts it still holds, safely: the
// old one stays whole until the new one is in place.
bool keepConflicts(const std::string& folder, const Folder& held, const SideFile& side,
                   const std::vector<uint16_t>& freqs, std::string& reason) {
    const std::string path = inFolder(folder, side.name);
    std::vector<FreqChange> kept;
    try {
        DecodedChangeFile file = decodeChangeFile(bytesOf(path));
        std::vector<bool> keep(65536);
        for (uint16_t freq : freqs)
            keep[freq] = true;
        for (FreqChange& change : file.changes)
            if (keep[change.freq]) kept.push_back(change);
        if (kept.size() != freqs.size()) {
            reason = "it changed while recover ran";
            return false;
        }
    } catch (const ToolFailure& e) {
        reason = e.what();
        return false;
    }
    const std::string bytes = encodeChangeFile(side.run, kept);
    SafeWrite write;
    write.path = side.name.c_str();
    write.folder = &held;
    write.data = bytes.data();
    write.size = bytes.size();
    if (writeFileSafely(write) == WriteResult::failed) {
        reason = lastSystemError();
        return false;
    }
    return true;
}

struct Counts {
    size_t added = 0, changed = 0, unregistered = 0, done = 0, conflicts = 0, taken = 0,
           dropped = 0;
};

struct SideResult {
    bool skipped = false;
    // The freqs of its conflicts neither taken nor dropped: the file is read
    // again to keep them, so that one side file at a time is in memory.
    std::vector<uint16_t> kept;
};

int recover(const RecoverOptions& options) {
    std::error_code error;
    if (!std::filesystem::is_directory(options.folder, error))
        throw ToolFailure(fmt::format("{} is not a folder", options.folder));
    for (const std::vector<uint32_t>* freqs : {&options.take, &options.drop})
        for (uint32_t freq : *freqs)
            if (freq > 65535) throw ToolFailure(fmt::format("{} is not a freq", freq));
    const std::set<uint32_t> take(options.take.begin(), options.take.end());
    const std::set<uint32_t> drop(options.drop.begin(), options.drop.end());
    for (uint32_t freq : take)
        if (drop.count(freq))
            throw ToolFailure(fmt::format("freq {} is given to both --take and --drop", freq));
    const std::string listedPath = options.folder == "."
                                       ? std::string()
                                       : (std::filesystem::path(options.folder) / "").string();
    const std::string where = options.folder == "." ? std::string("this folder") : options.folder;
    Folder listed;
    listed.path = listedPath;
    if (sideFilesIn(listed).empty()) {
        fmt::print("no side files ({}.*) in {}: nothing to recover\n", unsavedFileName, where);
        return 0;
    }
    const std::string target = inFolder(options.folder, registryFileName);
    HeldRegistry held;
    holdRegistry(held, target, {});
    if (held.before.size() % freqRecordSize != 0)
        throw ToolFailure(notWholeMessage(target, held.before) +
                          "; mend the registry first (or move it aside to start one from the "
                          "side files); nothing written");
    MergeTarget merge;
    startMerge(merge, wholeRecordsOf(held.before));
    // One line per freq goes to the log before the registry is replaced, so
    // that a reader can follow each freq whatever stops the tool.
    AuditLog log;
    if (options.apply) {
        setAuditLogFile(log, held.dir, auditLogFileName);
        log.mayRotate = true;
    }
    const std::string user = options.apply ? systemUserName() : std::string();

    // Listed again under the lock: what is read now is what is set aside.
    const std::vector<SideFile> sides = sideFilesInOrder(options.folder, held.dir);
    std::vector<SideResult> results(sides.size());
    Counts counts;
    size_t skipped = 0;
    for (size_t f = 0; f < sides.size(); ++f) {
        const SideFile& side = sides[f];
        DecodedChangeFile decoded;
        try {
            decoded = decodeChangeFile(bytesOf(inFolder(options.folder, side.name)));
        } catch (const ToolFailure& e) {
            decoded.kind = ChangeFileKind::foreign;
            decoded.reason = e.what();
        }
        if (decoded.kind == ChangeFileKind::torn || decoded.kind == ChangeFileKind::foreign) {
            results[f].skipped = true;
            ++skipped;
            fmt::print("skipped {}: {} ({}); it is left as it is\n", side.name,
                       decoded.kind == ChangeFileKind::torn ? "a damaged side file"
                                                            : "not a side file",
                       decoded.reason);
            continue;
        }
        const bool older = decoded.kind == ChangeFileKind::wholeRegistry;
        if (older)
            fmt::print("side file {}: {} record{} (an older side file: what its run held, "
                       "without what each freq was before)\n",
                       side.name, decoded.changes.size(), decoded.changes.size() == 1 ? "" : "s");
        else
            fmt::print("side file {}: {} change{} (run {})\n", side.name, decoded.changes.size(),
                       decoded.changes.size() == 1 ? "" : "s", decoded.run.sequence);
        for (const FreqChange& change : decoded.changes) {
            const bool taking = take.count(change.freq) > 0;
            const MergeStep step = mergeChange(merge, change, taking);
            const ChangeOutcome outcome = step.outcome;
            const FreqRecord& before = step.before;
            const bool had = step.had;
            if (outcome == ChangeOutcome::done) {
                ++counts.done;
                continue;
            }
            const std::string when =
                older ? fmt::format("from {}", side.name)
                      : fmt::format("changed {}, {}", timeText(change.changedAt), side.name);
            std::string line, logged;
            if (outcome == ChangeOutcome::conflict) {
                const std::string from =
                    change.baseKind == BaseKind::record
                        ? differences(change.base, change.hasNew ? change.now : change.base)
                        : std::string();
                const std::string theirs = !change.hasNew ? "unregisters it"
                                           : change.baseKind == BaseKind::record
                                               ? "changes it from what it was then: " + from
                                           : change.baseKind == BaseKind::none
                                               ? "registered it anew: " + valuesOf(change.now)
                                               : "holds " + valuesOf(change.now);
                const std::string registry =
                    had ? "the registry holds " + valuesOf(before) +
                              (change.hasNew
                                   ? " (taking it changes " + differences(before, change.now) + ")"
                                   : std::string())
                        : std::string("the registry does not hold it");
                if (drop.count(change.freq)) {
                    ++counts.dropped;
                    line = fmt::format("drop the conflict on freq {} ({}): {}; the side file {}",
                                       change.freq, when, registry, theirs);
                    logged = fmt::format("conflict dropped ({})", when);
                } else {
                    ++counts.conflicts;
                    results[f].kept.push_back(change.freq);
                    line =
                        fmt::format("conflict on freq {} ({}): {}; the side file {}; kept: "
                                    "--take {} takes it, --drop {} drops it",
                                    change.freq, when, registry, theirs, change.freq, change.freq);
                    logged = fmt::format("conflict kept ({})", when);
                }
            } else {
                switch (outcome) {
                case ChangeOutcome::added:
                    ++counts.added;
                    if (step.taken) ++counts.taken;
                    line = fmt::format("add freq {} ({}): {}", change.freq, when,
                                       valuesOf(change.now));
                    logged = fmt::format("added from a side file ({}): owner {}", when,
                                         quoted(fieldOf(change.now.owner)));
                    break;
                case ChangeOutcome::changed: {
                    ++counts.changed;
                    if (step.taken) ++counts.taken;
                    const std::string what = differences(before, change.now);
                    line = fmt::format("change freq {} ({}): {}", change.freq, when, what);
                    logged = fmt::format("changed from a side file ({}): {}", when, what);
                    break;
                }
                case ChangeOutcome::unregistered:
                    ++counts.unregistered;
                    if (step.taken) ++counts.taken;
                    line = fmt::format("unregister freq {} ({}): it was {}", change.freq, when,
                                       valuesOf(before));
                    logged = fmt::format("unregistered from a side file ({}): owner was {}", when,
                                         quoted(fieldOf(before.owner)));
                    break;
                default:
                    break;
                }
            }
            if (step.taken) {
                line += " (a conflict, taken as asked)";
                logged += " (a conflict, taken as asked)";
            }
            fmt::print("{}\n", line);
            if (options.apply) auditToolLine(log, user, "recover", change.freq, logged);
        }
    }
    std::fflush(stdout);

    const size_t made = counts.added + counts.changed + counts.unregistered;
    const std::string summary =
        fmt::format("{} to add, {} to change, {} to unregister, {} already held, {} conflict{} "
                    "kept{}",
                    counts.added, counts.changed, counts.unregistered, counts.done,
                    counts.conflicts, counts.conflicts == 1 ? "" : "s",
                    counts.dropped ? fmt::format(", {} dropped", counts.dropped) : "");
    if (!options.apply) {
        if (skipped == sides.size())
            fmt::print("no side file could be read: nothing to recover\n");
        else if (made == 0 && counts.conflicts == 0 && counts.dropped == 0)
            fmt::print("nothing to add or change: {} already holds all of it; --apply sets the "
                       "side files aside as {}.*\n",
                       registryFileName, recoveredFileName);
        else
            fmt::print("{}; nothing written (add --apply to write them into {} and set the side "
                       "files aside)\n",
                       summary, registryFileName);
        return 1; // side files wait, or could not be read
    }
    if (skipped == sides.size()) {
        fmt::print("no side file could be read: nothing written\n");
        return 1;
    }
    const std::vector<FreqRecord> merged = mergedRecords(merge);
    if (merged.size() > maxLoadedRecords) {
        auditToolLine(log, user, "recover", -1, "nothing written: the merge is too large");
        endAuditLog(log);
        throw ToolFailure(fmt::format("the merged registry would hold {} records, more than the "
                                      "{} a host loads; nothing written",
                                      merged.size(), maxLoadedRecords));
    }
    // The lines of the changes reach the disk before the changes do, the
    // summary's too (replaceRegistry writes and flushes it first).
    flushAuditLog(log);
    const std::string problem = auditLogProblem(log);
    endAuditLog(log);
    std::string change = fmt::format("{} side file{}: {} added, {} changed, {} unregistered",
                                     sides.size(), sides.size() == 1 ? "" : "s", counts.added,
                                     counts.changed, counts.unregistered);
    if (counts.conflicts > 0)
        change +=
            fmt::format(", {} conflict{} kept", counts.conflicts, counts.conflicts == 1 ? "" : "s");
    if (skipped > 0) change += fmt::format(", {} skipped", skipped);
    std::string kept;
    if (made > 0 || !held.existed) {
        kept = keepSnapshot(held, "recover");
        if (!kept.empty()) change += "; snapshot " + fileNameOf(kept);
        replaceRegistry(held, imageOf(merged), "recover", -1, change);
    } else {
        logRegistryChange(held, "recover", -1, change);
    }
    int result = skipped == 0 ? 0 : 1;
    std::vector<std::string> setAsideNames;
    size_t notSetAside = 0;
    for (size_t f = 0; f < sides.size(); ++f) {
        if (results[f].skipped) continue;
        const SideFile& side = sides[f];
        std::string reason;
        if (!results[f].kept.empty()) {
            result = 1;
            if (keepConflicts(options.folder, held.dir, side, results[f].kept, reason))
                fmt::print("{} is kept with its {} conflict{} alone\n", side.name,
                           results[f].kept.size(), results[f].kept.size() == 1 ? "" : "s");
            else
                fmt::print("{} could not be written anew with its conflicts alone ({}): it "
                           "is left as it was, and what it made is done, so a recover run "
                           "again makes it no more\n",
                           side.name, reason);
            continue;
        }
        const std::string to = setAside(held.dir, side.name, reason);
        if (to.empty()) {
            result = 1;
            ++notSetAside;
            fmt::print("{} could not be set aside ({}): what it holds is in {} now, so a "
                       "recover run again makes none of it again\n",
                       side.name, reason, registryFileName);
        } else {
            setAsideNames.push_back(to);
        }
    }
    if (!setAsideNames.empty() && !flushFolder(held.dir))
        fmt::print(stderr,
                   "warning: the side files are set aside, but flushing their folder "
                   "failed ({})\n",
                   lastSystemError());
    if (notSetAside > 0)
        logRegistryChange(held, "recover", -1,
                          fmt::format("{} of {} side files could not be set aside", notSetAside,
                                      sides.size() - skipped));
    if (!problem.empty())
        fmt::print(stderr, "warning: the changes are not all recorded in {} ({})\n",
                   inFolder(options.folder, auditLogFileName), problem);
    fmt::print("recovered {} side file{} into {}: {} added, {} changed, {} unregistered, {} "
               "conflict{} kept\n",
               sides.size() - skipped, sides.size() - skipped == 1 ? "" : "s", target, counts.added,
               counts.changed, counts.unregistered, counts.conflicts,
               counts.conflicts == 1 ? "" : "s");
    if (!kept.empty()) fmt::print("the file before is kept as {}\n", kept);
    for (const std::string& name : setAsideNames)
        fmt::print("set aside as {}\n", name);
    if (skipped > 0)
        fmt::print("{} side file{} skipped and left as {} (see above)\n", skipped,
                   skipped == 1 ? " was" : "s were", skipped == 1 ? "it is" : "they are");
    return result;
}

void recoverArguments(CLI::App& command, RecoverOptions& options) {
    command.add_option("dir", options.folder, "the directory of the registry")
        ->type_name("DIR")
        ->transform([](std::string typed) { return folderArgument(std::move(typed)); })
        ->capture_default_str();
    command.add_flag("--apply", options.apply,
                     "Write the merged registry, keeping the one it replaces as a snapshot, and "
                     "set the side files aside as Zandrel.teams.recovered.*");
    command
        .add_option("--take", options.take,
                    "With --apply: make the side files' changes of these freqs even where the "
                    "registry moved on since (a conflict); the latest run's is kept")
        ->type_name("FREQ")
        ->delimiter(',');
    command
        .add_option("--drop", options.drop,
                    "With --apply: let go of the conflicts on these freqs; the registry keeps "
                    "what it holds")
        ->type_name("FREQ")
        ->delimiter(',');
}

} // namespace

const TeamsSubcommand teamsRecover{
    "recover",
    "Merge the changes in the side files a host left (Zandrel.teams.unsaved.*) into the "
    "registry three ways: shows each change, old -> new, and writes it with --apply",
    defineSubcommand<RecoverOptions, recoverArguments, recover>};
