// hadrok teams check: what in a registry file the plug-in would ignore, or
// take in a way its operator may not expect; one line per finding.
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/registry_file.h"
#include "system/files.h"
#include "tools/file_kind.h"
#include "tools/teams_file.h"
#include "tools/teams_findings.h"
#include "tools/teams_subcommands.h"

namespace {

struct CheckOptions {
    std::string file = registryFileName;
    std::optional<uint32_t> maxOwned;
    std::optional<uint32_t> freqLimit;
};

// Only whole records are looked at; a size that is not a whole number of
// records comes first.
std::vector<std::string> fileFindings(const CheckOptions& options, const std::string& image) {
    std::vector<std::string> findings;
    // Text read as records would be a list of nonsense.
    if (!holdsRecords(fileKindOf(options.file, image)))
        return {notWholeMessage(options.file, image)};
    if (size_t trailing = image.size() % freqRecordSize; trailing != 0) {
        findings.push_back(fmt::format(
            "{}: size {} is not a multiple of {} ({} whole record{} and {} byte{} more); the "
            "plug-in loads nothing from it",
            options.file, image.size(), freqRecordSize, image.size() / freqRecordSize,
            image.size() / freqRecordSize == 1 ? "" : "s", trailing, trailing == 1 ? "" : "s"));
        if (looksLikeJson(image)) findings.push_back(notWholeMessage(options.file, image));
    }
    FindingOptions limits{options.maxOwned, options.freqLimit, toolNow()};
    for (const Finding& finding : recordFindings(wholeRecordsOf(image), limits))
        findings.push_back(finding.text);
    return findings;
}

int check(const CheckOptions& options) {
    std::string image = readRegistryImage(options.file);
    std::vector<std::string> findings = fileFindings(options, image);
    // What root reads, the host's user may not: a sound file it can't open
    // is one it would leave in place and never save over.
    if (std::string why = unreadableForTheHostsUser(options.file); !why.empty())
        findings.push_back(fmt::format("warning: {} is read here as root, but {}; a host run as "
                                       "that user could not load it (chmod or chown it)",
                                       options.file, why));
    // Sound records the host can't save over would look fine until its
    // first save failed.
    if (std::string why = unreplaceableWhy(options.file); !why.empty()) findings.push_back(why);
    std::string out;
    for (const std::string& finding : findings)
        out += finding + "\n";
    size_t count = image.size() / freqRecordSize;
    out += fmt::format("{}: {} record{}, {}\n", options.file, count, count == 1 ? "" : "s",
                       findings.empty()       ? "no findings"
                       : findings.size() == 1 ? "1 finding"
                                              : fmt::format("{} findings", findings.size()));
    writeStandardOutput(out);
    return findings.empty() ? 0 : 1;
}

void checkArguments(CLI::App& command, CheckOptions& options) {
    command.add_option("file", options.file, "the registry file")->capture_default_str();
    command.add_option("--max-owned", options.maxOwned, "also report owners of more than N freqs")
        ->check(countValidator(UINT32_MAX))
        ->type_name("N");
    command
        .add_option("--freq-limit", options.freqLimit,
                    "also report freqs at or above N (the arena's freq limit)")
        ->check(countValidator(65536))
        ->type_name("N");
}

} // namespace

const TeamsSubcommand teamsCheck{
    "check",
    "Report what in a registry file the plug-in would ignore or may surprise with; "
    "exit status 0 clean, 1 findings, 2 unreadable",
    defineSubcommand<CheckOptions, checkArguments, check>};
