// hadrok teams salvage: the whole records from the start of a registry file
// whose size is not a multiple of the record size (such as one the plug-in
// kept aside as "Zandrel.teams.damaged"), written to a new file.
#include <filesystem>
#include <string>

#include <fmt/format.h>

#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

struct SalvageOptions {
    std::string damaged;
    std::string output;
    bool force = false;
};

bool exists(const std::string& path) {
    std::error_code error;
    return std::filesystem::exists(std::filesystem::symlink_status(path, error));
}

int salvage(const SalvageOptions& options) {
    // The damaged file is the only copy of what it holds: it is never the
    // output, and an existing output is replaced only when asked to.
    WriteRules rules{{options.damaged}, true, options.force};
    checkWritable(options.output, rules);
    if (!options.force && exists(options.output))
        throw ToolFailure(
            fmt::format("{} exists; nothing written (give --force to replace it)", options.output));
    std::string image = readWholeFile(options.damaged);
    size_t trailing = image.size() % freqRecordSize;
    // Through the plug-in's loader and saver, so the result is a file the
    // plug-in reads back as exactly these records.
    std::vector<FreqRecord> records = wholeRecordsOf(image);
    if (records.empty())
        throw ToolFailure(fmt::format("{}: {} byte{} hold no whole record; nothing written",
                                      options.damaged, image.size(), image.size() == 1 ? "" : "s"));
    writeFileSafely(options.output, imageOf(records), rules);
    fmt::print("{}: {} bytes: kept {} whole record{} ({} bytes), dropped {} trailing byte{}\n",
               options.damaged, image.size(), records.size(), records.size() == 1 ? "" : "s",
               records.size() * freqRecordSize, trailing, trailing == 1 ? "" : "s");
    fmt::print("wrote {}\n", options.output);
    return 0;
}

} // namespace

void addTeamsSalvageCommand(CLI::App& teams) {
    auto options = std::make_shared<SalvageOptions>();
    CLI::App* command = teams.add_subcommand(
        "salvage", "Recover the whole records from the start of a damaged registry file into a "
                   "new file; the damaged file is left as it is");
    command->add_option("damaged", options->damaged, "the damaged file")->required();
    command->add_option("-o,--output", options->output, "the new registry file to write")
        ->type_name("FILE")
        ->required();
    command->add_flag("--force", options->force,
                      "replace an existing output file, even while a host uses its directory");
    command->callback([options] { runTeamsTool("salvage", [&] { return salvage(*options); }); });
}
