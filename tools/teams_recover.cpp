// hadrok teams recover: merges the side files a host left beside the
// registry (what it held but could not save) back into the registry, under
// the host's lock, keeping the registry it replaces as a snapshot first.
//
// Each freq of a side file is compared with the registry's record of it:
// one the registry lacks is added, one that differs replaces it. Nothing is
// removed: a freq a side file lacks may have been registered after that run
// began. When two side files hold different records of one freq, the one of
// the later run (its start stamp in the name) is taken and the other is
// listed; it stays in its side file, which is set aside, never deleted. The
// last use kept is the latest any of them holds, so that a freq in use is
// never made to look unused.
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "registry/side_files.h"
#include "system/files.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"
#include "tools/teams_write.h"

namespace {

struct RecoverOptions {
    std::string folder = ".";
    bool apply = false;
};

struct SideFile {
    std::string name;
    std::vector<FreqRecord> records; // the first of each freq, as a host loads them
};

// One freq's side-file record, and where it comes from.
struct Offer {
    size_t file;
    FreqRecord record;
};

// The result for one freq that a side file adds or changes.
struct Outcome {
    uint16_t freq;
    std::optional<FreqRecord> before; // the registry's record, when it has one
    FreqRecord after;
    size_t from;                    // the side file taken
    std::vector<size_t> outvoted;   // side files with another record, not taken
    std::vector<FreqRecord> others; // their records, in the same order
};

// Whether two records are the same but for the time of last use.
bool sameContent(const FreqRecord& a, const FreqRecord& b) {
    return std::memcmp(&a, &b, offsetof(FreqRecord, lastUsed)) == 0;
}

bool sameRecord(const FreqRecord& a, const FreqRecord& b) {
    return sameContent(a, b) && a.lastUsed == b.lastUsed;
}

std::string quoted(std::string_view bytes) {
    return escapedBytes(bytes, {.inQuotes = true, .quoteAsHex = true});
}

std::string ownerOf(const FreqRecord& record) {
    return "owner " + quoted(fieldOf(record.owner));
}

// What differs, in the record's order; the password hash is never shown.
std::string changesBetween(const FreqRecord& before, const FreqRecord& after) {
    std::vector<std::string> changes;
    if (std::memcmp(before.owner, after.owner, sizeof before.owner) != 0)
        changes.push_back(fmt::format("owner {} -> {}", quoted(fieldOf(before.owner)),
                                      quoted(fieldOf(after.owner))));
    if (std::memcmp(before.welcome, after.welcome, sizeof before.welcome) != 0)
        changes.push_back("welcome");
    if (std::memcmp(before.padding, after.padding, sizeof before.padding) != 0)
        changes.push_back("padding");
    if (before.passwordHash != after.passwordHash) changes.push_back("password");
    if (std::memcmp(before.allowedSquad, after.allowedSquad, sizeof before.allowedSquad) != 0)
        changes.push_back("allowedSquad");
    if (std::memcmp(before.freqName, after.freqName, sizeof before.freqName) != 0)
        changes.push_back("freqName");
    if (before.lastUsed != after.lastUsed) changes.push_back("last use");
    return fmt::format("{}", fmt::join(changes, ", "));
}

std::string inFolder(const std::string& folder, const std::string& name) {
    return folder == "." ? name : (std::filesystem::path(folder) / name).string();
}

// What the side files bring, freq by freq in the order first met (oldest
// side file first, then file order).
std::vector<Outcome> outcomesOf(const std::vector<FreqRecord>& registry,
                                const std::vector<SideFile>& sides) {
    std::map<uint16_t, size_t> inRegistry; // the first record of each freq, as a host loads
    for (size_t i = 0; i < registry.size(); ++i)
        inRegistry.try_emplace(registry[i].freq, i);
    std::vector<uint16_t> order;
    std::map<uint16_t, std::vector<Offer>> offers;
    for (size_t f = 0; f < sides.size(); ++f)
        for (const FreqRecord& record : sides[f].records) {
            auto [entry, added] = offers.try_emplace(record.freq);
            if (added) order.push_back(record.freq);
            entry->second.push_back({f, record});
        }
    std::vector<Outcome> outcomes;
    for (uint16_t freq : order) {
        const std::vector<Offer>& all = offers[freq];
        const auto at = inRegistry.find(freq);
        std::optional<FreqRecord> before;
        if (at != inRegistry.end()) before = registry[at->second];
        int32_t lastUsed = before ? before->lastUsed : all.front().record.lastUsed;
        for (const Offer& offer : all)
            lastUsed = std::max(lastUsed, offer.record.lastUsed);
        // Those that hold something other than the registry, the newest last.
        std::vector<const Offer*> differing;
        for (const Offer& offer : all)
            if (!before || !sameContent(*before, offer.record)) differing.push_back(&offer);
        Outcome outcome{freq, before, before ? *before : all.front().record, all.back().file,
                        {},   {}};
        if (!differing.empty()) {
            const Offer& taken = *differing.back();
            outcome.after = taken.record;
            outcome.from = taken.file;
            for (const Offer* offer : differing)
                if (!sameContent(offer->record, taken.record)) {
                    outcome.outvoted.push_back(offer->file);
                    outcome.others.push_back(offer->record);
                }
        }
        outcome.after.lastUsed = lastUsed;
        if (before && sameRecord(*before, outcome.after)) continue; // nothing new
        outcomes.push_back(std::move(outcome));
    }
    return outcomes;
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

int recover(const RecoverOptions& options) {
    std::error_code error;
    if (!std::filesystem::is_directory(options.folder, error))
        throw ToolFailure(fmt::format("{} is not a folder", options.folder));
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
    const std::vector<FreqRecord> registry = wholeRecordsOf(held.before);

    // Listed again under the lock: what is read now is what is set aside.
    std::vector<SideFile> sides;
    std::vector<std::string> skipped;
    for (const std::string& name : sideFilesIn(held.dir)) {
        try {
            std::vector<FreqRecord> records = loadableRecordsOf(inFolder(options.folder, name));
            std::vector<FreqRecord> firsts;
            for (const FreqRecord& record : records)
                if (std::none_of(firsts.begin(), firsts.end(),
                                 [&](const FreqRecord& r) { return r.freq == record.freq; }))
                    firsts.push_back(record);
            sides.push_back({name, std::move(firsts)});
        } catch (const ToolFailure& e) {
            skipped.push_back(name);
            fmt::print("skipped {}: {}; it is left as it is\n", name, e.what());
        }
    }
    for (const SideFile& side : sides)
        fmt::print("side file {}: {} record{}\n", side.name, side.records.size(),
                   side.records.size() == 1 ? "" : "s");

    const std::vector<Outcome> outcomes = outcomesOf(registry, sides);
    size_t added = 0, changed = 0, conflicts = 0;
    std::vector<std::string> conflictFreqs;
    for (const Outcome& outcome : outcomes) {
        const std::string from = sides[outcome.from].name;
        if (!outcome.before) {
            ++added;
            fmt::print("add freq {} ({}) from {}\n", outcome.freq, ownerOf(outcome.after), from);
        } else {
            ++changed;
            fmt::print("change freq {} from {}: {}\n", outcome.freq, from,
                       changesBetween(*outcome.before, outcome.after));
        }
        if (outcome.outvoted.empty()) continue;
        ++conflicts;
        conflictFreqs.push_back(std::to_string(outcome.freq));
        for (size_t i = 0; i < outcome.outvoted.size(); ++i) {
            const std::string& other = sides[outcome.outvoted[i]].name;
            fmt::print("conflict on freq {}: {} holds another record ({}); the newer of {} is "
                       "taken, and that one stays in its side file, set aside as {}\n",
                       outcome.freq, other, ownerOf(outcome.others[i]), from,
                       recoveredNameOf(other));
        }
    }
    const std::string counts = fmt::format("{} to add, {} to change, {} conflict{}", added, changed,
                                           conflicts, conflicts == 1 ? "" : "s");
    const int status = skipped.empty() ? 0 : 1;
    if (!options.apply) {
        if (sides.empty())
            fmt::print("no side file could be read: nothing to recover\n");
        else if (outcomes.empty())
            fmt::print("nothing to add or change: {} already holds all of it; --apply sets the "
                       "side files aside as {}.*\n",
                       registryFileName, recoveredFileName);
        else
            fmt::print("{}; nothing written (add --apply to write them into {} and set the side "
                       "files aside)\n",
                       counts, registryFileName);
        return 1; // side files wait, or could not be read
    }
    if (sides.empty()) {
        fmt::print("no side file could be read: nothing written\n");
        return 1;
    }

    std::vector<FreqRecord> merged = registry;
    std::map<uint16_t, size_t> inMerged;
    for (size_t i = 0; i < merged.size(); ++i)
        inMerged.try_emplace(merged[i].freq, i);
    for (const Outcome& outcome : outcomes) {
        if (outcome.before)
            merged[inMerged.at(outcome.freq)] = outcome.after;
        else
            merged.push_back(outcome.after);
    }
    if (merged.size() > maxLoadedRecords)
        throw ToolFailure(fmt::format("the merged registry would hold {} records, more than the "
                                      "{} a host loads; nothing written",
                                      merged.size(), maxLoadedRecords));
    std::string change = fmt::format("{} side file{}: {} added, {} changed", sides.size(),
                                     sides.size() == 1 ? "" : "s", added, changed);
    std::vector<FreqRecord> touched;
    for (const Outcome& outcome : outcomes)
        touched.push_back(outcome.after);
    if (!touched.empty()) change += " (" + freqList(touched) + ")";
    if (conflicts > 0)
        change += fmt::format(", conflicts on {} (the newer side file's record taken)",
                              fmt::join(conflictFreqs, " "));
    if (!skipped.empty()) change += fmt::format(", {} skipped", skipped.size());
    // The line is in the log, flushed, before the registry is replaced or a
    // side file set aside.
    std::string kept;
    if (!outcomes.empty() || !held.existed) {
        kept = keepSnapshot(held, "recover");
        if (!kept.empty()) change += "; snapshot " + fileNameOf(kept);
        replaceRegistry(held, imageOf(merged), "recover", -1, change);
    } else {
        logRegistryChange(held, "recover", -1, change);
    }
    std::vector<std::string> setAsideNames;
    int result = status;
    for (const SideFile& side : sides) {
        std::string reason;
        const std::string to = setAside(held.dir, side.name, reason);
        if (to.empty()) {
            result = 1;
            fmt::print("{} could not be set aside ({}): what it holds is in {} now, so a "
                       "recover run again finds nothing to add from it\n",
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
    if (setAsideNames.size() < sides.size())
        logRegistryChange(held, "recover", -1,
                          fmt::format("{} of {} side files could not be set aside",
                                      sides.size() - setAsideNames.size(), sides.size()));
    fmt::print("recovered {} side file{} into {}: {} added, {} changed, {} conflict{}\n",
               sides.size(), sides.size() == 1 ? "" : "s", target, added, changed, conflicts,
               conflicts == 1 ? "" : "s");
    if (!kept.empty()) fmt::print("the file before is kept as {}\n", kept);
    for (const std::string& name : setAsideNames)
        fmt::print("set aside as {}\n", name);
    if (!skipped.empty())
        fmt::print("{} side file{} skipped and left as {} (see above)\n", skipped.size(),
                   skipped.size() == 1 ? " was" : "s were",
                   skipped.size() == 1 ? "it is" : "they are");
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
}

} // namespace

const TeamsSubcommand teamsRecover{
    "recover",
    "Merge the side files a host left (Zandrel.teams.unsaved.*) into the registry; shows what "
    "they would add or change, and writes it with --apply",
    defineSubcommand<RecoverOptions, recoverArguments, recover>};
