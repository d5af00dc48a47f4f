// hadrok teams salvage: the whole records from the start of a registry file
// whose size is not a multiple of the record size (such as one the plug-in
// kept aside as "Zandrel.teams.damaged"), written to a new file.
#include <string>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "tools/file_kind.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

struct SalvageOptions {
    std::string damaged;
    std::string output;
    bool force = false;
};

int salvage(const SalvageOptions& options) {
    // The damaged file is the only copy of what it holds: it is never the
    // output, and an existing output is replaced only when asked to.
    checkOutput(options.output, {options.damaged});
    if (!options.force && pathKindOf(options.output.c_str()) != PathKind::missing)
        throw ToolFailure(
            fmt::format("{} exists; nothing written (give --force to replace it)", options.output));
    std::string image = readRegistryImage(options.damaged);
    if (const FileKind kind = fileKindOf(options.damaged, image); !holdsRecords(kind))
        throw ToolFailure(wrongKindMessage(options.damaged, kind, "a registry file") +
                          "; nothing written");
    size_t trailing = image.size() % freqRecordSize;
    // Through the plug-in's loader and saver, so the result is a file the
    // plug-in reads back as exactly these records.
    std::vector<FreqRecord> records = wholeRecordsOf(image);
    if (records.empty())
        throw ToolFailure(fmt::format("{}: {} byte{} hold no whole record; nothing written",
                                      options.damaged, image.size(), image.size() == 1 ? "" : "s"));
    std::string change =
        fmt::format("{} whole record{} from {}, {} trailing byte{} dropped", records.size(),
                    records.size() == 1 ? "" : "s", auditQuote(options.damaged).data, trailing,
                    trailing == 1 ? "" : "s");
    std::string snapshot;
    if (isNewNonRegistryFile(options.output)) {
        // A new file no host loads: no lock, so this works while the host
        // runs, and the line goes to the log beside the damaged file.
        writeNewFile(options.output, imageOf(records), {options.damaged});
        logBesideHost(folderOf(options.damaged), "salvage", -1,
                      fmt::format("wrote {}: {}", auditQuote(options.output).data, change));
    } else {
        HeldRegistry held;
        holdRegistry(held, options.output, {options.damaged});
        if (held.existed && !options.force)
            throw ToolFailure(fmt::format("{} exists; nothing written (give --force to replace it)",
                                          options.output));
        snapshot = keepSnapshot(held, "salvage");
        change += fmt::format(" ({})", freqList(records));
        if (!snapshot.empty())
            change += fmt::format("; replaced {} records; snapshot {}",
                                  held.before.size() / freqRecordSize, fileNameOf(snapshot));
        replaceRegistry(held, imageOf(records), "salvage", -1, change);
    }
    fmt::print("{}: {} bytes: kept {} whole record{} ({} bytes), dropped {} trailing byte{}\n",
               options.damaged, image.size(), records.size(), records.size() == 1 ? "" : "s",
               records.size() * freqRecordSize, trailing, trailing == 1 ? "" : "s");
    fmt::print("wrote {}\n", options.output);
    if (!snapshot.empty()) fmt::print("the file before is kept as {}\n", snapshot);
    return 0;
}

void salvageArguments(CLI::App& command, SalvageOptions& options) {
    command.add_option("damaged", options.damaged, "the damaged file")->required();
    command.add_option("-o,--output", options.output, "the new registry file to write")
        ->type_name("FILE")
        ->required();
    command.add_flag("--force", options.force,
                     "replace an existing output file (a copy of it is kept first)");
}

} // namespace

const TeamsSubcommand teamsSalvage{
    "salvage",
    "Recover the whole records from the start of a damaged registry file into a "
    "new file; the damaged file is left as it is",
    defineSubcommand<SalvageOptions, salvageArguments, salvage>};
