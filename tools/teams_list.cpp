// hadrok teams list: a registry file as a table, one line per record.
#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/registry_file.h"
#include "text/ascii.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"

namespace {

constexpr int64_t secondsPerDay = 86400;

struct ListOptions {
    std::string file = registryFileName;
    std::string sort;
    std::optional<std::string> owner;
    std::optional<uint32_t> unusedForDays;
};

constexpr size_t columnCount = 9;
using Row = std::array<std::string, columnCount>;
constexpr std::array<const char*, columnCount> headings = {
    "#", "FREQ", "OWNER", "SQUAD", "NAME", "LAST USED", "AGO", "HASH", "WELCOME"};
constexpr std::array<bool, columnCount> rightAligned = {true, true};

Row rowOf(size_t index, const FreqRecord& r, int32_t now) {
    return {fmt::format("{}", index),
            fmt::format("{}", r.freq),
            escapedBytes(fieldOf(r.owner)),
            escapedBytes(fieldOf(r.allowedSquad)),
            escapedBytes(fieldOf(r.freqName)),
            lastUsedText(r.lastUsed),
            r.lastUsed < 0 ? "-" : agoText(int64_t(now) - r.lastUsed),
            fmt::format("{:08X}", r.passwordHash),
            escapedBytes(fieldOf(r.welcome))};
}

std::string tableOf(const std::vector<Row>& rows) {
    std::array<size_t, columnCount> widths{};
    for (size_t c = 0; c < columnCount; ++c) {
        widths[c] = std::string_view(headings[c]).size();
        for (const Row& row : rows)
            widths[c] = std::max(widths[c], row[c].size());
    }
    auto lineOf = [&](auto cell) {
        std::string line;
        for (size_t c = 0; c < columnCount; ++c) {
            if (c > 0) line += "  ";
            bool last = c + 1 == columnCount;
            line += rightAligned[c] ? fmt::format("{:>{}}", cell(c), widths[c])
                    : last          ? std::string(cell(c))
                                    : fmt::format("{:<{}}", cell(c), widths[c]);
        }
        line.erase(line.find_last_not_of(' ') + 1);
        return line + "\n";
    };
    std::string table = lineOf([](size_t c) { return std::string_view(headings[c]); });
    for (const Row& row : rows)
        table += lineOf([&](size_t c) { return std::string_view(row[c]); });
    return table;
}

int list(const ListOptions& options) {
    std::vector<FreqRecord> records = readRegistryFile(options.file);
    int32_t now = currentTime();

    std::vector<size_t> shown;
    for (size_t i = 0; i < records.size(); ++i) {
        const FreqRecord& r = records[i];
        if (options.owner && !equalsNoCase(fieldOf(r.owner), *options.owner)) continue;
        if (options.unusedForDays &&
            int64_t(now) - r.lastUsed < int64_t(*options.unusedForDays) * secondsPerDay)
            continue;
        shown.push_back(i);
    }
    auto sortBy = [&](auto key) {
        std::stable_sort(shown.begin(), shown.end(),
                         [&](size_t a, size_t b) { return key(records[a]) < key(records[b]); });
    };
    if (options.sort == "freq")
        sortBy([](const FreqRecord& r) { return r.freq; });
    else if (options.sort == "owner")
        // std::string compares bytes as unsigned
        sortBy([](const FreqRecord& r) { return ownerKey(fieldOf(r.owner)); });
    else if (options.sort == "last-used")
        sortBy([](const FreqRecord& r) { return r.lastUsed; });

    std::vector<Row> rows;
    for (size_t i : shown)
        rows.push_back(rowOf(i, records[i], now));
    std::string out = tableOf(rows);
    out += shown.size() == records.size()
               ? fmt::format("{} record{}\n", records.size(), records.size() == 1 ? "" : "s")
               : fmt::format("{} of {} records\n", shown.size(), records.size());
    writeStandardOutput(out);
    return 0;
}

} // namespace

void addTeamsListCommand(CLI::App& teams) {
    auto options = std::make_shared<ListOptions>();
    CLI::App* command =
        teams.add_subcommand("list", "Show the records of a registry file as a table");
    command->add_option("file", options->file, "the registry file")->capture_default_str();
    command
        ->add_option("--sort", options->sort,
                     "order by freq, by owner or by last use (oldest first); file order without")
        ->check(CLI::IsMember({"freq", "owner", "last-used"}));
    command->add_option("--owner", options->owner,
                        "only the freqs of this owner (A to Z compared case-blind)");
    command
        ->add_option("--unused-for", options->unusedForDays,
                     "only freqs last used at least DAYS days ago")
        ->check(countValidator(UINT32_MAX))
        ->type_name("DAYS");
    command->callback([options] { runTeamsTool("list", [&] { return list(*options); }); });
}
