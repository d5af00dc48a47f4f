// hadrok teams prune: removes offline the freqs that the plug-in's
// ExpireUnusedDays would expire, by the same rule, so that an operator can
// see first (--dry-run) what turning it on would do.
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/freq_expiry.h"
#include "registry/registry_file.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_table.h"
#include "tools/teams_write.h"

namespace {

struct PruneOptions {
    std::string file = registryFileName;
    uint32_t days = 0;
    bool dryRun = false;
};

int prune(const PruneOptions& options) {
    // The plug-in reads ExpireUnusedDays=0 as "never": so would this, and
    // remove nothing, which is better said than done.
    if (options.days == 0)
        throw UsageMistake("--unused-days: 0 means never, as ExpireUnusedDays=0 does, so nothing "
                           "would be removed; give the days unused (1 or more)");
    HeldRegistry held;
    // Read first in any case, so that a file that can't be pruned is told
    // before anything, a lock file included, is made.
    std::vector<FreqRecord> records = loadableRecordsOf(options.file);
    if (!options.dryRun) {
        // What is pruned is read under the lock, and written back before
        // it is let go.
        holdRegistry(held, options.file, {});
        if (!held.existed)
            throw ToolFailure(
                fmt::format("cannot read {}: it is not there; nothing written", options.file));
        if (held.before.size() % freqRecordSize != 0)
            throw ToolFailure(notWholeMessage(options.file, held.before) + "; nothing written");
        records = wholeRecordsOf(held.before);
    }
    const int64_t now = toolNow();
    std::vector<size_t> removed;
    std::vector<FreqRecord> kept;
    for (size_t i = 0; i < records.size(); ++i) {
        if (unusedTooLong(records[i].lastUsed, now, options.days))
            removed.push_back(i);
        else
            kept.push_back(records[i]);
    }
    // A table of nothing would be a bare header.
    std::string out = removed.empty() ? std::string() : recordTable(records, removed, now);
    if (options.dryRun && removed.empty()) {
        out += fmt::format("no freq in {} is unused for more than {} day{}: nothing would be "
                           "removed (dry run)\n",
                           options.file, options.days, options.days == 1 ? "" : "s");
    } else if (options.dryRun) {
        out += fmt::format("would remove {} of {} records from {}; nothing written (dry run)\n",
                           removed.size(), records.size(), options.file);
    } else if (removed.empty()) {
        out +=
            fmt::format("removed 0 of {} records; {} is unchanged\n", records.size(), options.file);
    } else {
        const std::string snapshot = keepSnapshot(held, "prune");
        std::string freqs;
        for (size_t i : removed)
            freqs += fmt::format(" {}", records[i].freq);
        replaceRegistry(held, imageOf(kept), "prune", -1,
                        fmt::format("removed {} of {} records, unused for more than {} days:{}; "
                                    "snapshot {}",
                                    removed.size(), records.size(), options.days, freqs,
                                    fileNameOf(snapshot)));
        out += fmt::format("removed {} of {} records from {}; the file before is kept as {}\n",
                           removed.size(), records.size(), options.file, snapshot);
    }
    writeStandardOutput(out);
    return 0;
}

void pruneArguments(CLI::App& command, PruneOptions& options) {
    command.add_option("file", options.file, "the registry file")->capture_default_str();
    command
        .add_option("--unused-days", options.days,
                    "remove freqs last used more than N days ago (a last use in the future or "
                    "before 1970 never counts)")
        ->check(countValidator(UINT32_MAX))
        ->type_name("N")
        ->required();
    command.add_flag("--dry-run", options.dryRun, "only list what would be removed");
}

} // namespace

const TeamsSubcommand teamsPrune{
    "prune", "Remove the freqs unused for more than N days, as ExpireUnusedDays expires them",
    defineSubcommand<PruneOptions, pruneArguments, prune>};
