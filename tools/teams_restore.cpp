// hadrok teams restore: puts a backup or snapshot back as the registry, the
// way an operator would by hand, but under the host's lock and keeping the
// registry it replaces as a snapshot first.
#include <algorithm>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/freq_expiry.h"
#include "registry/plugin_config.h"
#include "registry/registry_file.h"
#include "system/files.h"
#include "text/program_name.h"
#include "tools/file_kind.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

struct RestoreOptions {
    std::string snapshot;
    std::string folder = ".";
    bool fresh = false; // --new: the folder may hold no registry yet
    bool evenIfEmpty = false;
};

// A record a host could serve: a registrable freq and an owner it can
// match. A file with none of them is no registry (the lock file, a log or
// the wrong file named) and would leave every freq unregistered.
bool usableRecord(const FreqRecord& record) {
    const std::string_view owner = fieldOf(record.owner);
    return record.freq >= lowestRegistrableFreq && !owner.empty() &&
           std::none_of(owner.begin(), owner.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F;
           });
}

// Restoring into a folder that holds no registry is most often a restore
// run from the wrong folder: it would start a registry, lock and log there
// and leave the host's registry as it was.
[[noreturn]] void refuseNoRegistry(const std::string& target) {
    throw ToolFailure(fmt::format("{} does not exist: that folder holds no registry, so this is "
                                  "likely not the host's folder (give the host's folder as DIR, "
                                  "or --new to start a registry there); nothing written",
                                  target));
}

// ExpireUnusedDays of the folder's freqs.ini, read by the plug-in's own
// reader; 0 (off) when there is none.
uint32_t expireUnusedDaysOf(const std::string& folder) {
    std::error_code error;
    const std::string ini = (std::filesystem::absolute(folder, error) / "freqs.ini").string();
    return loadConfigFile(error ? nullptr : ini.c_str()).values.expireUnusedDays;
}

// Freqs put back that ExpireUnusedDays expires again at the host's next load,
// as from a before-expiry snapshot: said before the host starts, with what to
// do, since the load's sweep would remove them with no question asked.
void warnOfExpiry(const std::string& image, const std::string& folder) {
    const uint32_t days = expireUnusedDaysOf(folder);
    if (days == 0) return;
    const int64_t now = toolNow();
    std::vector<uint16_t> expiring;
    for (const FreqRecord& r : wholeRecordsOf(image))
        if (unusedTooLong(r.lastUsed, now, days)) expiring.push_back(r.freq);
    if (expiring.empty()) return;
    std::fflush(stdout);
    fmt::print(stderr,
               "{} teams restore: warning: {} restored freq{} ({}) {} unused for more than {} "
               "day{}, so ExpireUnusedDays={} in freqs.ini expires {} again when the host next "
               "loads the registry; raise ExpireUnusedDays in freqs.ini (or set it to 0) before "
               "starting the host\n",
               programFileName, expiring.size(), expiring.size() == 1 ? "" : "s",
               fmt::join(expiring, ", "), expiring.size() == 1 ? "is" : "are", days,
               days == 1 ? "" : "s", days, expiring.size() == 1 ? "it" : "them");
}

int restore(const RestoreOptions& options) {
    const std::string target =
        options.folder == "." ? std::string(registryFileName)
                              : (std::filesystem::path(options.folder) / registryFileName).string();
    // The registry named as what to put back is a slip: say what to name.
    if (sameFile(fileIdentityOf(options.snapshot.c_str()), fileIdentityOf(target.c_str())))
        throw ToolFailure(fmt::format(
            "{} is the registry itself: name the backup or snapshot to put back in its place, "
            "such as {}.2026-12-10 or {}.before-remove-20261210-120000 (\"{} status\" lists "
            "them); nothing written",
            options.snapshot, registryFileName, registryFileName, programFileName));
    // A bare name is looked up here, as every file argument is; one that
    // only the registry's folder holds gets the command that finds it.
    if (options.folder != "." && std::filesystem::path(options.snapshot).is_relative() &&
        pathKindOf(options.snapshot.c_str()) == PathKind::missing) {
        const std::string there = (std::filesystem::path(options.folder) / options.snapshot)
                                      .lexically_normal()
                                      .make_preferred()
                                      .string();
        const auto word = [](const std::string& text) {
            return text.find(' ') == std::string::npos ? text : "\"" + text + "\"";
        };
        if (pathKindOf(there.c_str()) != PathKind::missing)
            throw ToolFailure(fmt::format(
                "{} is not in the current folder, but {} holds it: {} teams restore {} {} puts "
                "it back; nothing written",
                options.snapshot, options.folder, programFileName, word(there),
                word(options.folder)));
    }
    // Only what the plug-in would load goes into place.
    const std::string image = readRegistryImage(options.snapshot);
    if (image.size() % freqRecordSize != 0 || !holdsRecords(fileKindOf(options.snapshot, image)))
        throw ToolFailure(notWholeMessage(options.snapshot, image) + "; nothing written");
    if (!options.evenIfEmpty) {
        const std::vector<FreqRecord> records = wholeRecordsOf(image);
        if (records.empty())
            throw ToolFailure(fmt::format(
                "{} is empty: restoring it would unregister every freq; nothing written (add "
                "--even-if-empty to empty the registry)",
                options.snapshot));
        if (std::none_of(records.begin(), records.end(), usableRecord))
            throw ToolFailure(fmt::format(
                "{} holds no record a host could use (every freq below {} or owner empty or "
                "unreadable), so it is not a registry file; nothing written (\"{} teams check "
                "{}\" describes it; add --even-if-empty to restore it all the same)",
                options.snapshot, lowestRegistrableFreq, programFileName, options.snapshot));
    }
    // Named in full, so that a restore into the wrong folder shows at once.
    std::error_code error;
    const std::filesystem::path full = std::filesystem::absolute(target, error);
    const std::string shown = error ? target : full.lexically_normal().make_preferred().string();
    // Looked at before the lock, so that the wrong folder gets no lock file.
    if (!options.fresh && pathKindOf(target.c_str()) == PathKind::missing) refuseNoRegistry(shown);
    HeldRegistry held;
    holdRegistry(held, target, {options.snapshot});
    if (!options.fresh && !held.existed) refuseNoRegistry(shown);
    const std::string kept = keepSnapshot(held, "restore");
    const size_t records = image.size() / freqRecordSize;
    std::string change =
        fmt::format("{} record{} ({}) from {}", records, records == 1 ? "" : "s",
                    freqList(wholeRecordsOf(image)), auditQuote(options.snapshot).data);
    if (!kept.empty())
        change += fmt::format(" replaced {} ({}); snapshot {}", held.before.size() / freqRecordSize,
                              freqList(wholeRecordsOf(held.before)), fileNameOf(kept));
    replaceRegistry(held, image, "restore", -1, change);
    fmt::print("restored {} record{} from {} to {}\n", records, records == 1 ? "" : "s",
               options.snapshot, shown);
    if (!kept.empty()) fmt::print("the file before is kept as {}\n", kept);
    warnOfExpiry(image, options.folder);
    return 0;
}

void restoreArguments(CLI::App& command, RestoreOptions& options) {
    command.add_option("snapshot", options.snapshot, "the backup or snapshot file")
        ->type_name("SNAPSHOT")
        ->required();
    command.add_option("dir", options.folder, "the directory of the registry")
        ->type_name("DIR")
        ->transform([](std::string typed) { return folderArgument(std::move(typed)); })
        ->capture_default_str();
    command.add_flag("--new", options.fresh,
                     "Start a registry from the snapshot in a folder that holds none yet");
    command.add_flag("--even-if-empty", options.evenIfEmpty,
                     "Restore a file that holds no usable record (an empty registry) all the "
                     "same");
}

} // namespace

const TeamsSubcommand teamsRestore{
    "restore",
    "Put a backup or snapshot back as the registry, keeping the registry it "
    "replaces as a snapshot first",
    defineSubcommand<RestoreOptions, restoreArguments, restore>};
