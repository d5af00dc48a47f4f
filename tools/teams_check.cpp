// hadrok teams check: what in a registry file the plug-in would ignore, or
// take in a way its operator may not expect; one line per finding.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include <fmt/format.h>

#include "registry/freq_record.h"
#include "registry/registry_file.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"

namespace {

// The lowest freq number that registration accepts.
constexpr uint16_t lowestFreq = 100;

std::string recordName(size_t index, const FreqRecord& record) {
    return fmt::format("record {} (freq {})", index, record.freq);
}

std::string numberList(const std::vector<size_t>& numbers) {
    return fmt::format("{}", fmt::join(numbers, ", "));
}

// The plug-in's owner comparison folds A to Z only.
std::string ownerKey(std::string_view owner) {
    std::string key(owner);
    for (char& c : key)
        c = static_cast<char>(lowerAscii(static_cast<unsigned char>(c)));
    return key;
}

// Records are numbered from 0 in file order; only whole records are looked at.
// Owners are compared as the plug-in compares them.
std::vector<std::string> registryFindings(const std::string& name, const std::string& image,
                                          std::optional<uint32_t> maxOwned) {
    std::vector<std::string> findings;
    if (size_t trailing = image.size() % freqRecordSize; trailing != 0)
        findings.push_back(fmt::format(
            "{}: size {} is not a multiple of {} ({} whole records and {} bytes more); the "
            "plug-in loads nothing from it",
            name, image.size(), freqRecordSize, image.size() / freqRecordSize, trailing));

    std::vector<FreqRecord> records = wholeRecordsOf(image);
    std::map<uint16_t, std::vector<size_t>> recordsOfFreq;
    struct Owned {
        std::string shownAs; // the first spelling met
        std::vector<size_t> freqs;
    };
    std::map<std::string, Owned> owned;
    std::vector<std::string> ownerOrder;

    for (size_t i = 0; i < records.size(); ++i) {
        const FreqRecord& r = records[i];
        if (r.freq < lowestFreq)
            findings.push_back(fmt::format("{}: freq below {}", recordName(i, r), lowestFreq));
        auto unterminated = [&](bool terminated, const char* field) {
            if (!terminated)
                findings.push_back(
                    fmt::format("{}: {} has no terminating zero", recordName(i, r), field));
        };
        unterminated(hasTerminator(r.owner), "owner");
        unterminated(hasTerminator(r.welcome), "welcome");
        unterminated(hasTerminator(r.allowedSquad), "allowedSquad");
        unterminated(hasTerminator(r.freqName), "freqName");

        recordsOfFreq[r.freq].push_back(i);
        std::string key = ownerKey(fieldOf(r.owner));
        auto [entry, added] = owned.try_emplace(key);
        if (added) {
            entry->second.shownAs = escapedBytes(fieldOf(r.owner));
            ownerOrder.push_back(key);
        }
        entry->second.freqs.push_back(r.freq);
    }

    // Duplicates in the order of their first record.
    std::vector<std::pair<size_t, uint16_t>> duplicated;
    for (const auto& [freq, indexes] : recordsOfFreq)
        if (indexes.size() > 1) duplicated.emplace_back(indexes.front(), freq);
    std::sort(duplicated.begin(), duplicated.end());
    for (const auto& [first, freq] : duplicated) {
        const std::vector<size_t>& indexes = recordsOfFreq[freq];
        findings.push_back(fmt::format("freq {}: {} records ({}); the plug-in uses record {}", freq,
                                       indexes.size(), numberList(indexes), first));
    }

    if (maxOwned)
        for (const std::string& key : ownerOrder) {
            const Owned& o = owned[key];
            if (o.freqs.size() > *maxOwned)
                findings.push_back(fmt::format("owner \"{}\": {} freqs ({}), more than {}",
                                               o.shownAs, o.freqs.size(), numberList(o.freqs),
                                               *maxOwned));
        }
    return findings;
}

} // namespace

void addTeamsCheckCommand(CLI::App& teams) {
    struct Options {
        std::string file = registryFileName;
        std::optional<uint32_t> maxOwned;
    };
    auto options = std::make_shared<Options>();
    CLI::App* check = teams.add_subcommand(
        "check", "Report what in a registry file the plug-in would ignore or may surprise with; "
                 "exit status 0 clean, 1 findings, 2 unreadable");
    check->add_option("file", options->file, "the registry file")->capture_default_str();
    check->add_option("--max-owned", options->maxOwned, "also report owners of more than N freqs")
        ->type_name("N");
    check->callback([options] {
        runTeamsTool("check", [&] {
            std::string image = readWholeFile(options->file);
            std::vector<std::string> findings =
                registryFindings(options->file, image, options->maxOwned);
            std::string out;
            for (const std::string& finding : findings)
                out += finding + "\n";
            size_t count = image.size() / freqRecordSize;
            out +=
                fmt::format("{}: {} record{}, {}\n", options->file, count, count == 1 ? "" : "s",
                            findings.empty()       ? "no findings"
                            : findings.size() == 1 ? "1 finding"
                                                   : fmt::format("{} findings", findings.size()));
            writeStandardOutput(out);
            return findings.empty() ? 0 : 1;
        });
    });
}
