// hadrok teams salvage: the whole records from the start of a registry file
// whose size is not a multiple of the record size (such as one the plug-in
// kept aside as "Zandrel.teams.damaged"), written to a new file.
#include <string>

#include <fmt/format.h>

#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"

namespace {

struct SalvageOptions {
    std::string damaged;
    std::string output;
};

int salvage(const SalvageOptions& options) {
    std::string image = readWholeFile(options.damaged);
    size_t trailing = image.size() % freqRecordSize;
    // Through the plug-in's loader and saver, so the result is a file the
    // plug-in reads back as exactly these records.
    std::vector<FreqRecord> records = wholeRecordsOf(image);
    writeFileAtomically(options.output, imageOf(records));
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
        "salvage", "Recover the whole records from the start of a damaged registry file");
    command->add_option("damaged", options->damaged, "the damaged file")->required();
    command->add_option("-o,--output", options->output, "the registry file to write")
        ->type_name("FILE")
        ->required();
    command->callback([options] { runTeamsTool("salvage", [&] { return salvage(*options); }); });
}
