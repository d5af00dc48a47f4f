// hadrok teams export: a registry file as JSON (every byte, reversible) or CSV.
#include <string>

#include "registry/registry_file.h"
#include "tools/teams_csv.h"
#include "tools/teams_file.h"
#include "tools/teams_json.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

struct ExportOptions {
    std::string file = registryFileName;
    std::string format = "json";
    std::string delimiter = "comma";
    std::string output;
};

int exportRegistry(const ExportOptions& options) {
    std::vector<FreqRecord> records = loadableRecordsOf(options.file);
    // Non-ASCII as \u00XX, so the text is plain ASCII and the byte values show.
    const int64_t now = readingNow();
    std::string text =
        options.format == "csv"
            ? registryToCsv(records, now, options.delimiter == "semicolon" ? ';' : ',')
            : registryToJson(records, now).dump(2, ' ', true) + "\n";
    if (options.output.empty())
        writeStandardOutput(text);
    else
        writeOutputFile(options.output, text, {options.file});
    return 0;
}

void exportArguments(CLI::App& command, ExportOptions& options) {
    command.add_option("file", options.file, "the registry file")->capture_default_str();
    command.add_option("--format", options.format, "json or csv")
        ->check(CLI::IsMember({"json", "csv"}))
        ->capture_default_str();
    command
        .add_option("--delimiter", options.delimiter,
                    "between CSV cells: comma, or semicolon for a spreadsheet whose locale "
                    "lists with semicolons")
        ->check(CLI::IsMember({"comma", "semicolon"}))
        ->capture_default_str();
    command.add_option("-o,--output", options.output, "write here instead of standard output")
        ->type_name("OUT");
}

} // namespace

const TeamsSubcommand teamsExport{
    "export", "Write a registry file's records as JSON or CSV (each read back by import)",
    defineSubcommand<ExportOptions, exportArguments, exportRegistry>};
