// hadrok teams list: a registry file as a table, one line per record.
#include <algorithm>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/freq_expiry.h"
#include "registry/last_used.h"
#include "registry/registry_file.h"
#include "text/ascii.h"
#include "text/program_name.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_table.h"
#include "tools/teams_text.h"
#include "tools/teams_write.h"

namespace {

struct ListOptions {
    std::string file = registryFileName;
    std::string sort;
    std::optional<std::string> owner;
    std::optional<uint32_t> unusedForDays;
};

int list(const ListOptions& options) {
    std::vector<FreqRecord> records = loadableRecordsOf(options.file);
    const int64_t now = toolNow();

    std::vector<size_t> shown;
    for (size_t i = 0; i < records.size(); ++i) {
        const FreqRecord& r = records[i];
        if (options.owner && !equalsNoCase(fieldOf(r.owner), *options.owner)) continue;
        // The plug-in's own expiry rule, so that list and prune name the same freqs.
        if (options.unusedForDays && !unusedTooLong(r.lastUsed, now, *options.unusedForDays))
            continue;
        shown.push_back(i);
    }
    auto sortBy = [&](auto key) {
        std::stable_sort(shown.begin(), shown.end(),
                         [&](size_t a, size_t b) { return key(records[a]) < key(records[b]); });
    };
    if (options.sort == "freq")
        sortBy([](const FreqRecord& r) { return r.freq; });
    else if (options.sort == "owner")
        // std::string compares bytes as unsigned
        sortBy([](const FreqRecord& r) { return ownerKey(fieldOf(r.owner)); });
    else if (options.sort == "last-used")
        // In the era of now, as shown; a freq never stamped first.
        sortBy(
            [now](const FreqRecord& r) { return lastUsedAt(r.lastUsed, now).value_or(INT64_MIN); });

    std::string out = recordTable(records, shown, now);
    out += shown.size() == records.size()
               ? fmt::format("{} record{}\n", records.size(), records.size() == 1 ? "" : "s")
               : fmt::format("{} of {} records\n", shown.size(), records.size());
    writeStandardOutput(out);
    // A running host keeps its changes in memory until its next save.
    if (equalsNoCase(fileNameOf(options.file), registryFileName) &&
        registryLockHeld(folderOf(options.file))) {
        std::fflush(stdout);
        fmt::print(stderr,
                   "{} teams list: note: a host holds this folder's lock: this is the registry as "
                   "it last saved it; freqs changed since are in the host's memory until its next "
                   "save (AutoSaveDelay ticks) or its stop\n",
                   programFileName);
    }
    return 0;
}

void listArguments(CLI::App& command, ListOptions& options) {
    command.add_option("file", options.file, "the registry file")->capture_default_str();
    command
        .add_option("--sort", options.sort,
                    "order by freq, by owner or by last use (oldest first); file order without")
        ->check(CLI::IsMember({"freq", "owner", "last-used"}));
    command.add_option("--owner", options.owner,
                       "only the freqs of this owner (A to Z compared case-blind)");
    command
        .add_option("--unused-for", options.unusedForDays,
                    "only freqs last used more than DAYS days ago (as ExpireUnusedDays "
                    "expires them)")
        ->check(countValidator(UINT32_MAX))
        ->type_name("DAYS");
}

} // namespace

const TeamsSubcommand teamsList{"list", "Show the records of a registry file as a table",
                                defineSubcommand<ListOptions, listArguments, list>};
