// hadrok teams diff: what differs between two registry files, freq by freq, so
// that an operator sees what putting a backup in place would bring back or
// take away before doing it.
#include <algorithm>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <fmt/format.h>

#include "registry/freq_record.h"
#include "registry/registry_file.h"
#include "text/program_name.h"
#include "tools/file_kind.h"
#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_text.h"

namespace {

struct DiffOptions {
    std::string oldFile;
    std::string newFile = registryFileName;
};

// One freq's record in the old file, the new file or both. Records of the
// same freq number pair up in file order: the first of OLD with the first of
// NEW, the second with the second; the rest are removed or added.
struct Pairing {
    uint16_t freq;
    std::optional<size_t> oldIndex;
    std::optional<size_t> newIndex;
};

std::vector<Pairing> pairByFreq(const std::vector<FreqRecord>& oldRecords,
                                const std::vector<FreqRecord>& newRecords) {
    std::map<uint16_t, std::pair<std::vector<size_t>, std::vector<size_t>>> byFreq;
    for (size_t i = 0; i < oldRecords.size(); ++i)
        byFreq[oldRecords[i].freq].first.push_back(i);
    for (size_t i = 0; i < newRecords.size(); ++i)
        byFreq[newRecords[i].freq].second.push_back(i);
    std::vector<Pairing> pairings;
    for (const auto& [freq, indexes] : byFreq) {
        const auto& [inOld, inNew] = indexes;
        for (size_t k = 0; k < std::max(inOld.size(), inNew.size()); ++k) {
            Pairing p{freq, std::nullopt, std::nullopt};
            if (k < inOld.size()) p.oldIndex = inOld[k];
            if (k < inNew.size()) p.newIndex = inNew[k];
            pairings.push_back(p);
        }
    }
    return pairings;
}

// A text in double quotes, escaped as the listing escapes it, and a double
// quote as \x22 so that the closing quote is always the real end.
std::string quoted(std::string_view bytes) {
    return escapedBytes(bytes, {.inQuotes = true, .quoteAsHex = true});
}

template <size_t Width>
void compareText(std::vector<std::string>& changes, const char* name, const char (&before)[Width],
                 const char (&after)[Width]) {
    if (fieldOf(before) != fieldOf(after))
        changes.push_back(
            fmt::format("{} {} -> {}", name, quoted(fieldOf(before)), quoted(fieldOf(after))));
    else if (storedBytes(before) != storedBytes(after))
        changes.push_back(fmt::format(
            "{}: bytes after the end of the text changed (the plug-in does not read them)", name));
}

// What changed in one record, field by field in the record's order. The
// password hash is never shown, as the audit log never shows it either.
std::vector<std::string> changesBetween(const FreqRecord& before, const FreqRecord& after) {
    std::vector<std::string> changes;
    compareText(changes, "owner", before.owner, after.owner);
    compareText(changes, "welcome", before.welcome, after.welcome);
    if (before.passwordHash != after.passwordHash) changes.push_back("password changed");
    compareText(changes, "allowedSquad", before.allowedSquad, after.allowedSquad);
    compareText(changes, "freqName", before.freqName, after.freqName);
    if (before.lastUsed != after.lastUsed) {
        const int64_t now = readingNow();
        std::string from = lastUsedText(before.lastUsed, now),
                    to = lastUsedText(after.lastUsed, now);
        // Negative times, and the hour that a change from summer time repeats,
        // read the same; the stored numbers tell them apart.
        changes.push_back(from != to ? fmt::format("lastUsed {} -> {}", from, to)
                                     : fmt::format("lastUsed {} -> {} (seconds since 1970: {} -> "
                                                   "{})",
                                                   from, to, before.lastUsed, after.lastUsed));
    }
    if (before.padding[0] != after.padding[0] || before.padding[1] != after.padding[1])
        changes.push_back(fmt::format("padding {:02X}{:02X} -> {:02X}{:02X}", before.padding[0],
                                      before.padding[1], after.padding[0], after.padding[1]));
    return changes;
}

// A whole record on one line, for one that is only in one of the files.
std::string summaryOf(const FreqRecord& r) {
    std::string text = fmt::format("owner {}", quoted(fieldOf(r.owner)));
    auto optional = [&](const char* name, std::string_view value) {
        if (!value.empty()) text += fmt::format(", {} {}", name, quoted(value));
    };
    optional("welcome", fieldOf(r.welcome));
    optional("allowedSquad", fieldOf(r.allowedSquad));
    optional("freqName", fieldOf(r.freqName));
    return text + fmt::format(", lastUsed {}", lastUsedText(r.lastUsed, readingNow()));
}

// True when the records found in both files stand in the same order in each.
bool sameOrder(const std::vector<Pairing>& pairings) {
    std::vector<std::pair<size_t, size_t>> both;
    for (const Pairing& p : pairings)
        if (p.oldIndex && p.newIndex) both.emplace_back(*p.oldIndex, *p.newIndex);
    std::sort(both.begin(), both.end());
    for (size_t i = 1; i < both.size(); ++i)
        if (both[i].second < both[i - 1].second) return false;
    return true;
}

// The whole records of a file; of a damaged one (its size not a whole
// number of records, as a registry cut short), the whole records from its
// start, with a line that says the rest was not compared. A JSON export is
// refused with the command that reads it.
std::vector<FreqRecord> comparedRecordsOf(const std::string& path, std::string& notes) {
    const std::string image = readRegistryImage(path);
    if (!holdsRecords(fileKindOf(path, image))) throw ToolFailure(notWholeMessage(path, image));
    const size_t trailing = image.size() % freqRecordSize;
    if (trailing != 0) {
        if (looksLikeJson(image)) throw ToolFailure(notWholeMessage(path, image));
        const size_t whole = image.size() / freqRecordSize;
        notes += fmt::format("{} is damaged: its {} whole record{} from the start are compared, "
                             "the {} byte{} after them are not (the plug-in loads nothing from "
                             "it; \"{} teams salvage\" recovers the whole records)\n",
                             path, whole, whole == 1 ? "" : "s", trailing, trailing == 1 ? "" : "s",
                             programFileName);
    }
    return wholeRecordsOf(image);
}

int diff(const DiffOptions& options) {
    if (options.oldFile.empty())
        throw ToolFailure(fmt::format("name the two files to compare, the earlier first: {} teams "
                                      "diff OLD [NEW] (NEW is {} when left out)",
                                      programFileName, registryFileName));
    // Both files are read before anything is printed, so a refused file
    // leaves no half report.
    std::string out;
    std::vector<FreqRecord> oldRecords = comparedRecordsOf(options.oldFile, out);
    std::vector<FreqRecord> newRecords = comparedRecordsOf(options.newFile, out);

    std::vector<Pairing> pairings = pairByFreq(oldRecords, newRecords);
    size_t removed = 0, added = 0, changed = 0, unchanged = 0;
    for (const Pairing& p : pairings) {
        if (!p.newIndex) {
            ++removed;
            out += fmt::format("removed freq {} (record {}): {}\n", p.freq, *p.oldIndex,
                               summaryOf(oldRecords[*p.oldIndex]));
        } else if (!p.oldIndex) {
            ++added;
            out += fmt::format("added freq {} (record {}): {}\n", p.freq, *p.newIndex,
                               summaryOf(newRecords[*p.newIndex]));
        } else {
            std::vector<std::string> changes =
                changesBetween(oldRecords[*p.oldIndex], newRecords[*p.newIndex]);
            if (changes.empty()) {
                ++unchanged;
                continue;
            }
            ++changed;
            out += *p.oldIndex == *p.newIndex
                       ? fmt::format("changed freq {} (record {}):\n", p.freq, *p.oldIndex)
                       : fmt::format("changed freq {} (record {}, now {}):\n", p.freq, *p.oldIndex,
                                     *p.newIndex);
            for (const std::string& change : changes)
                out += "  " + change + "\n";
        }
    }
    bool reordered = !sameOrder(pairings);
    if (reordered)
        out += "order changed: freqs in both files stand in a different order (the plug-in "
               "lists freqs, and uses the first of a duplicated freq, in file order)\n";

    bool differ = removed + added + changed > 0 || reordered;
    out += differ
               ? fmt::format("{} -> {}: {} removed, {} added, {} changed, {} unchanged\n",
                             options.oldFile, options.newFile, removed, added, changed, unchanged)
               : fmt::format("{} -> {}: no differences, {} record{}\n", options.oldFile,
                             options.newFile, unchanged, unchanged == 1 ? "" : "s");
    writeStandardOutput(out);
    return differ ? 1 : 0;
}

void diffArguments(CLI::App& command, DiffOptions& options) {
    // Not required by the parser, whose words would name only "old".
    command.add_option("old", options.oldFile, "the earlier file, such as a backup");
    command.add_option("new", options.newFile, "the later file")->capture_default_str();
}

} // namespace

const TeamsSubcommand teamsDiff{
    "diff",
    "Show the freqs added, removed and changed between two registry files; exit "
    "status 0 same, 1 different, 2 unreadable",
    defineSubcommand<DiffOptions, diffArguments, diff>};
