// hadrok teams remove: unregisters one freq offline, as an operator's
// "!funreg" would in the game, under the host's lock and keeping the
// registry it replaces as a snapshot first.
#include <algorithm>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "registry/audit_log.h"
#include "registry/registry_file.h"
#include "system/files.h"
#include "text/ascii.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"
#include "tools/teams_write.h"

namespace {

struct RemoveOptions {
    uint32_t freq = 0;
    std::string folder = ".";
};

int removeCommand(const RemoveOptions& options) {
    const std::string target =
        options.folder == "." ? std::string(registryFileName)
                              : (std::filesystem::path(options.folder) / registryFileName).string();
    // A freq that isn't there is told before the lock is taken.
    {
        const std::vector<FreqRecord> records = loadableRecordsOf(target);
        if (std::none_of(records.begin(), records.end(),
                         [&](const FreqRecord& r) { return r.freq == options.freq; }))
            throw ToolFailure(fmt::format("freq {} is not registered in {}; nothing written",
                                          options.freq, target));
    }
    HeldRegistry held;
    holdRegistry(held, target, {});
    if (held.before.size() % freqRecordSize != 0)
        throw ToolFailure(notWholeMessage(target, held.before) + "; nothing written");
    std::vector<FreqRecord> records = wholeRecordsOf(held.before);
    // Every record of the freq goes: were only the first removed, a
    // duplicate left in the file would take its place at the next load.
    const auto removed =
        std::stable_partition(records.begin(), records.end(),
                              [&](const FreqRecord& r) { return r.freq != options.freq; });
    if (removed == records.end())
        throw ToolFailure(fmt::format("freq {} is no longer registered in {} (a host saved it "
                                      "meanwhile); nothing written",
                                      options.freq, target));
    const std::string owner(fieldOf(removed->owner));
    const size_t count = size_t(records.end() - removed);
    records.erase(removed, records.end());
    const std::string snapshot = keepSnapshot(held, "remove");
    std::string change = "removed; owner was ";
    change += auditQuote(owner).view();
    if (count > 1) change += fmt::format(" ({} records of the freq)", count);
    replaceRegistry(held, imageOf(records), "remove", int32_t(options.freq),
                    change + "; snapshot " + fileNameOf(snapshot));
    fmt::print("removed freq {} (owner \"{}\"{}) from {}; the file before is kept as {}\n",
               options.freq, escapedBytes(owner),
               count > 1 ? fmt::format(", {} records", count) : std::string(), target, snapshot);
    return 0;
}

void removeArguments(CLI::App& command, RemoveOptions& options) {
    command.add_option("freq", options.freq, "the freq number")
        ->check(freqValidator())
        ->type_name("FREQ")
        ->required();
    command.add_option("dir", options.folder, "the directory of the registry")
        ->type_name("DIR")
        ->transform([](std::string typed) { return folderArgument(std::move(typed)); })
        ->capture_default_str();
}

} // namespace

const TeamsSubcommand teamsRemove{
    "remove",
    "Unregister one freq while the host is stopped, keeping the registry it "
    "replaces as a snapshot first",
    defineSubcommand<RemoveOptions, removeArguments, removeCommand>};
