// hadrok teams restore: puts a backup or snapshot back as the registry, the
// way an operator would by hand, but under the host's lock and keeping the
// registry it replaces as a snapshot first.
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "registry/audit_log.h"
#include "registry/registry_file.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

struct RestoreOptions {
    std::string snapshot;
    std::string folder = ".";
};

int restore(const RestoreOptions& options) {
    const std::string target =
        options.folder == "." ? std::string(registryFileName)
                              : (std::filesystem::path(options.folder) / registryFileName).string();
    // Only what the plug-in would load goes into place.
    const std::string image = readRegistryImage(options.snapshot);
    if (image.size() % freqRecordSize != 0)
        throw ToolFailure(notWholeMessage(options.snapshot, image) + "; nothing written");
    HeldRegistry held;
    holdRegistry(held, target, {options.snapshot});
    const std::string kept = keepSnapshot(held, "restore");
    replaceRegistry(held, image);
    const size_t records = image.size() / freqRecordSize;
    std::string change = fmt::format("{} record{} from {}", records, records == 1 ? "" : "s",
                                     auditQuote(options.snapshot).data);
    if (!kept.empty())
        change += fmt::format(" replaced {}; snapshot {}", held.before.size() / freqRecordSize,
                              fileNameOf(kept));
    logRegistryChange(held, "restore", -1, change);
    fmt::print("restored {} record{} from {} to {}\n", records, records == 1 ? "" : "s",
               options.snapshot, target);
    if (!kept.empty()) fmt::print("the file before is kept as {}\n", kept);
    return 0;
}

} // namespace

void addTeamsRestoreCommand(CLI::App& teams) {
    auto options = std::make_shared<RestoreOptions>();
    CLI::App* command = teams.add_subcommand(
        "restore", "Put a backup or snapshot back as the registry, keeping the registry it "
                   "replaces as a snapshot first");
    command->add_option("snapshot", options->snapshot, "the backup or snapshot file")
        ->type_name("SNAPSHOT")
        ->required();
    command->add_option("dir", options->folder, "the directory of the registry")
        ->type_name("DIR")
        ->capture_default_str();
    command->callback([options] { runTeamsTool("restore", [&] { return restore(*options); }); });
}
