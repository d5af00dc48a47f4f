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
    bool force = false;
};

int prune(const PruneOptions& options) {
    // The plug-in reads 0 as "never"; here it would remove nearly everything.
    if (options.days == 0)
        throw UsageMistake("--unused-days: 0 would remove every freq not used this very second; "
                           "give 1 or more");
    const std::vector<FreqRecord> records = readRegistryFile(options.file);
    const int32_t now = currentTime();
    std::vector<size_t> removed;
    std::vector<FreqRecord> kept;
    for (size_t i = 0; i < records.size(); ++i) {
        if (unusedTooLong(records[i].lastUsed, now, options.days))
            removed.push_back(i);
        else
            kept.push_back(records[i]);
    }
    std::string out = recordTable(records, removed, now);
    if (options.dryRun) {
        out += fmt::format("would remove {} of {} records from {}; nothing written (dry run)\n",
                           removed.size(), records.size(), options.file);
    } else if (removed.empty()) {
        out +=
            fmt::format("removed 0 of {} records; {} is unchanged\n", records.size(), options.file);
    } else {
        writeFileSafely(options.file, imageOf(kept), WriteRules{{}, true, options.force});
        out += fmt::format("removed {} of {} records from {}\n", removed.size(), records.size(),
                           options.file);
    }
    writeStandardOutput(out);
    return 0;
}

} // namespace

void addTeamsPruneCommand(CLI::App& teams) {
    auto options = std::make_shared<PruneOptions>();
    CLI::App* command = teams.add_subcommand(
        "prune", "Remove the freqs unused for more than N days, as ExpireUnusedDays expires them");
    command->add_option("file", options->file, "the registry file")->capture_default_str();
    command
        ->add_option("--unused-days", options->days,
                     "remove freqs last used more than N days ago (a last use in the future or "
                     "before 1970 never counts)")
        ->check(countValidator(UINT32_MAX))
        ->type_name("N")
        ->required();
    command->add_flag("--dry-run", options->dryRun, "only list what would be removed");
    command->add_flag("--force", options->force, "write even while a host uses the registry there");
    command->callback([options] { runTeamsTool("prune", [&] { return prune(*options); }); });
}
