#include "tools/teams_findings.h"

#include <algorithm>
#include <map>

#include <fmt/format.h>

#include "registry/last_used.h"
#include "text/ascii.h"
#include "tools/teams_text.h"

namespace {

// A stamp further ahead than this is no clock's drift.
constexpr int64_t aheadAllowed = 86400;

// No arena's freqs go higher than 9999: a freq above is one nobody can
// join, whatever the arena's own limit.
constexpr uint32_t freqsOfAnyArena = 10000;

std::string numberList(const std::vector<size_t>& numbers) {
    return fmt::format("{}", fmt::join(numbers, ", "));
}

bool hasControlBytes(std::string_view text) {
    return std::any_of(text.begin(), text.end(), [](char c) {
        auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
}

// Nonzero bytes after the first zero: the plug-in clears a field before it
// sets it, so these come from a wrong key, damage or another writer.
template <size_t Width> bool hasBytesAfterEnd(const char (&field)[Width]) {
    size_t end = fieldOf(field).size();
    return std::any_of(field + std::min(end + 1, Width), field + Width,
                       [](char c) { return c != 0; });
}

// The owner is the host's whole 20-byte name field, so a name of 20
// characters is stored without a zero: that is no finding.
template <size_t Width>
void textFindings(std::vector<Finding>& findings, const std::string& which, const char* name,
                  const char (&field)[Width], bool controlIsFault, bool fullWidthIsText = false) {
    std::string_view text = fieldOf(field);
    if (hasControlBytes(text))
        findings.push_back(
            {fmt::format("{}: {} holds control bytes: \"{}\"", which, name, escapedBytes(text)),
             controlIsFault});
    if (!hasTerminator(field)) {
        if (!fullWidthIsText)
            findings.push_back({fmt::format("{}: {} has no terminating zero", which, name), false});
    } else if (hasBytesAfterEnd(field))
        findings.push_back({fmt::format("{}: {} has bytes other than zero after its end (the "
                                        "plug-in never writes them; a wrong key or damage does)",
                                        which, name),
                            false});
}

} // namespace

std::vector<Finding> recordFindings(const std::vector<FreqRecord>& records,
                                    const FindingOptions& options) {
    std::vector<Finding> findings;
    std::map<uint16_t, std::vector<size_t>> recordsOfFreq;
    struct Owned {
        std::string shownAs; // the first spelling met
        std::vector<size_t> freqs;
    };
    std::map<std::string, Owned> owned;
    std::vector<std::string> ownerOrder;

    for (size_t i = 0; i < records.size(); ++i) {
        const FreqRecord& r = records[i];
        std::string which = recordLabel(i, r.freq);
        if (r.freq < lowestRegistrableFreq)
            findings.push_back(
                {fmt::format("{}: freq below {}", which, lowestRegistrableFreq), true});
        if (options.freqLimit && r.freq >= *options.freqLimit)
            findings.push_back(
                {fmt::format("{}: freq at or above the limit {}", which, *options.freqLimit),
                 false});
        else if (!options.freqLimit && r.freq >= freqsOfAnyArena)
            findings.push_back({fmt::format("{}: freq above {}, higher than any arena's freqs, so "
                                            "nobody can use it",
                                            which, freqsOfAnyArena - 1),
                                false});
        if (fieldOf(r.owner).empty())
            findings.push_back({fmt::format("{}: owner is empty", which), true});
        textFindings(findings, which, "owner", r.owner, true, true);
        textFindings(findings, which, "welcome", r.welcome, false);
        textFindings(findings, which, "allowedSquad", r.allowedSquad, false);
        textFindings(findings, which, "freqName", r.freqName, false);
        if (const std::optional<int64_t> lastUsed = lastUsedAt(r.lastUsed, options.now);
            lastUsed && *lastUsed > options.now + aheadAllowed)
            findings.push_back({fmt::format("{}: last used {}, more than a day in the future",
                                            which, lastUsedText(r.lastUsed, options.now)),
                                false});

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
        findings.push_back({fmt::format("freq {}: {} records ({}); the plug-in uses record {}",
                                        freq, indexes.size(), numberList(indexes), first),
                            true});
    }

    if (options.maxOwned)
        for (const std::string& key : ownerOrder) {
            const Owned& o = owned[key];
            if (o.freqs.size() > *options.maxOwned)
                findings.push_back(
                    {fmt::format("owner \"{}\": {} freqs ({}), more than {}", o.shownAs,
                                 o.freqs.size(), numberList(o.freqs), *options.maxOwned),
                     false});
        }
    return findings;
}
