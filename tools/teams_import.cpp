// hadrok teams import: a registry file from the JSON form of export.
#include <string>
#include <string_view>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "tools/teams_file.h"
#include "tools/teams_json.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"

namespace {

struct ImportOptions {
    std::string input;
    std::string output;
};

// The parser's message without its "[json.exception.parse_error.101] " tag,
// escaped: it quotes the bytes it stopped at, which need not be text.
std::string parseProblem(const nlohmann::json::parse_error& e) {
    std::string_view message = e.what();
    if (message.starts_with("[") && message.find("] ") != std::string_view::npos)
        message.remove_prefix(message.find("] ") + 2);
    return escapedBytes(message);
}

int importRegistry(const ImportOptions& options) {
    std::string text = readWholeFile(options.input);
    std::string name = options.input == "-" ? "standard input" : options.input;
    nlohmann::json document;
    try {
        document = nlohmann::json::parse(text);
    } catch (const nlohmann::json::parse_error& e) {
        throw ToolFailure(
            fmt::format("{} is not valid JSON: {}; nothing written", name, parseProblem(e)));
    }
    std::vector<FreqRecord> records;
    try {
        records = registryFromJson(document);
    } catch (const ToolFailure& e) {
        throw ToolFailure(fmt::format("{}: {}; nothing written", name, e.what()));
    }
    writeFileAtomically(options.output, imageOf(records));
    fmt::print("wrote {} record{} to {}\n", records.size(), records.size() == 1 ? "" : "s",
               options.output);
    return 0;
}

} // namespace

void addTeamsImportCommand(CLI::App& teams) {
    auto options = std::make_shared<ImportOptions>();
    CLI::App* command = teams.add_subcommand(
        "import", "Write a registry file from the JSON form of export, replacing it atomically");
    command->add_option("json", options->input, "the JSON document; - reads standard input")
        ->required();
    command->add_option("-o,--output", options->output, "the registry file to write")
        ->type_name("FILE")
        ->required();
    command->callback(
        [options] { runTeamsTool("import", [&] { return importRegistry(*options); }); });
}
