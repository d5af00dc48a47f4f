#include "tools/teams_csv.h"

#include <fmt/format.h>

#include "tools/teams_text.h"

namespace {

// A CSV field in double quotes, with each double quote in it doubled.
std::string csvQuoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"') result += '"';
        result += c;
    }
    return result + "\"";
}

// A spreadsheet runs a cell that begins with one of these as a formula. The
// first byte is written as \xNN instead, as the listing writes bytes it
// will not show, so the cell reads as text and still tells every byte. Tab
// and carriage return are escaped already, as every control is.
std::string inert(std::string text) {
    if (!text.empty() && (text[0] == '=' || text[0] == '+' || text[0] == '-' || text[0] == '@'))
        text = fmt::format("\\x{:02X}", unsigned(static_cast<unsigned char>(text[0]))) +
               text.substr(1);
    return text;
}

template <size_t Width> std::string csvText(const char (&field)[Width]) {
    return csvQuoted(inert(escapedBytes(storedBytes(field))));
}

} // namespace

std::string registryToCsv(const std::vector<FreqRecord>& records, int64_t now) {
    std::string csv = "freq,owner,welcome,allowedSquad,freqName,passwordHash,lastUsed,"
                      "lastUsedLocal,padding\n";
    for (const FreqRecord& r : records)
        csv += fmt::format("{},{},{},{},{},{},{},{},{:02X}{:02X}\n", r.freq, csvText(r.owner),
                           csvText(r.welcome), csvText(r.allowedSquad), csvText(r.freqName),
                           r.passwordHash, r.lastUsed, csvQuoted(lastUsedText(r.lastUsed, now)),
                           r.padding[0], r.padding[1]);
    return csv;
}
