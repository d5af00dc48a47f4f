#include "tools/teams_csv.h"

#include <fmt/format.h>

#include "tools/teams_text.h"

namespace {

std::string quoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"') result += '"';
        result += c;
    }
    return result + "\"";
}

template <size_t Width> std::string csvText(const char (&field)[Width]) {
    return quoted(escapedBytes(storedBytes(field)));
}

} // namespace

std::string registryToCsv(const std::vector<FreqRecord>& records) {
    std::string csv = "freq,owner,welcome,allowedSquad,freqName,passwordHash,lastUsed,"
                      "lastUsedLocal,padding\n";
    for (const FreqRecord& r : records)
        csv += fmt::format("{},{},{},{},{},{},{},{},{:02X}{:02X}\n", r.freq, csvText(r.owner),
                           csvText(r.welcome), csvText(r.allowedSquad), csvText(r.freqName),
                           r.passwordHash, r.lastUsed, quoted(lastUsedText(r.lastUsed)),
                           r.padding[0], r.padding[1]);
    return csv;
}
