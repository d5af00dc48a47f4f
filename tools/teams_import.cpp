// hadrok teams import: a registry file from the JSON or CSV form of export.
#include <cstdio>
#include <string>

#include <fmt/format.h>
#include <nlohmann/json.hpp>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/freq_record.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "text/encoding.h"
#include "tools/file_kind.h"
#include "tools/teams_csv.h"
#include "tools/teams_file.h"
#include "tools/teams_findings.h"
#include "tools/teams_json.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

namespace {

struct ImportOptions {
    std::string input;
    std::string output;
    bool allowFindings = false;
};

std::vector<FreqRecord> recordsOf(const std::string& text, const std::string& name, FileKind kind) {
    if (kind == FileKind::csvExport) {
        try {
            return registryFromCsv(text);
        } catch (const ToolFailure& e) {
            throw ToolFailure(fmt::format("{}: {}", name, e.what()));
        }
    }
    nlohmann::json document = parseRegistryDocument(text, name);
    try {
        return registryFromJson(document);
    } catch (const ToolFailure& e) {
        throw ToolFailure(fmt::format("{}: {}", name, e.what()));
    } catch (const nlohmann::json::exception& e) {
        throw ToolFailure(fmt::format("{}: {}", name, e.what()));
    }
}

int importRegistry(const ImportOptions& options) {
    std::string name = options.input == "-" ? "standard input" : options.input;
    if (options.output.empty())
        throw ToolFailure(fmt::format(
            "name the registry file to write with -o: -o merged.teams writes a new file (the host "
            "may run), -o {} replaces the registry (the host stopped); nothing written",
            registryFileName));
    checkOutput(options.output, {options.input});
    // The input is read whole before the lock is taken: standard input may
    // take its time.
    std::vector<FreqRecord> records;
    try {
        const std::string text = readJsonInput(options.input);
        // Another kind of file gets the command that reads it, not the
        // parser's puzzlement or advice on saving text.
        const FileKind kind = fileKindOf(options.input == "-" ? "" : options.input, text);
        const bool wrongKind = kind == FileKind::settings || kind == FileKind::auditLog ||
                               kind == FileKind::lockFile ||
                               (holdsRecords(kind) && !looksLikeText(text) &&
                                guessEncoding(text) != TextEncoding::utf16);
        if (wrongKind && !text.empty())
            throw ToolFailure(wrongKindMessage(name, kind, "a JSON or CSV export"));
        // The parser would stop at the first byte with a puzzling message.
        if (std::string advice = saveAsUtf8Advice(name, guessEncoding(text)); !advice.empty())
            throw ToolFailure(advice);
        records = recordsOf(text, name, kind);
    } catch (const ToolFailure& e) {
        throw ToolFailure(fmt::format("{}; nothing written", e.what()));
    }

    // What check would call a fault of the file is not written unless asked;
    // every finding is said either way.
    std::vector<Finding> findings =
        recordFindings(records, {std::nullopt, std::nullopt, toolNow()});
    size_t faults = 0;
    for (const Finding& finding : findings)
        faults += finding.fault;
    if (faults > 0 && !options.allowFindings) {
        std::string message =
            fmt::format("{}: {} finding{} that \"{} teams check\" reports as faults of a registry; "
                        "nothing written (--allow-findings writes it anyway)",
                        name, faults, faults == 1 ? "" : "s", programFileName);
        for (const Finding& finding : findings)
            if (finding.fault) message += "\n  " + finding.text;
        throw ToolFailure(message);
    }
    // More would be kept aside by the plug-in instead of loaded.
    if (records.size() > maxLoadedRecords)
        throw ToolFailure(fmt::format("{}: {} records, more than the {} the plug-in loads; "
                                      "nothing written",
                                      name, records.size(), maxLoadedRecords));
    const std::string what =
        fmt::format("{} record{}", records.size(), records.size() == 1 ? "" : "s");
    std::string snapshot;
    if (isNewNonRegistryFile(options.output)) {
        // A new file no host loads: no lock, so a merge can be prepared while
        // the host runs; the line goes to the log of the folder read from.
        writeNewFile(options.output, imageOf(records), {options.input});
        logBesideHost(folderOf(options.input == "-" ? options.output : options.input), "import", -1,
                      fmt::format("wrote {}: {}, from {}", auditQuote(options.output).data, what,
                                  auditQuote(name).data));
    } else {
        HeldRegistry held;
        holdRegistry(held, options.output, {options.input});
        snapshot = keepSnapshot(held, "import");
        const std::vector<FreqRecord> before = wholeRecordsOf(held.before);
        replaceRegistry(
            held, imageOf(records), "import", -1,
            snapshot.empty()
                ? fmt::format("{} ({}), from {}", what, freqList(records), auditQuote(name).data)
                : fmt::format("{} ({}) replaced {} ({}), from {}; snapshot {}", what,
                              freqList(records), before.size(), freqList(before),
                              auditQuote(name).data, fileNameOf(snapshot)));
    }
    std::fflush(stdout);
    for (const Finding& finding : findings)
        fmt::print(stderr, "{} teams import: note: {}\n", programFileName, finding.text);
    fmt::print("wrote {} to {}\n", what, options.output);
    if (!snapshot.empty()) fmt::print("the file before is kept as {}\n", snapshot);
    return 0;
}

void importArguments(CLI::App& command, ImportOptions& options) {
    command
        .add_option("input", options.input,
                    "the JSON or CSV form of export; - reads standard input")
        ->type_name("EXPORT")
        ->required();
    // Not required by the parser: its words would not say what to give.
    command.add_option("-o,--output", options.output, "the registry file to write")
        ->type_name("FILE");
    command.add_flag("--allow-findings", options.allowFindings,
                     "write records that check reports as faults (duplicate freqs, freqs below "
                     "100, owners empty or with control bytes)");
}

} // namespace

const TeamsSubcommand teamsImport{
    "import", "Write a registry file from the JSON or CSV form of export, replacing it atomically",
    defineSubcommand<ImportOptions, importArguments, importRegistry>};
