#include "tools/teams_table.h"

#include <algorithm>
#include <array>
#include <string_view>

#include <fmt/format.h>

#include "registry/last_used.h"
#include "tools/teams_text.h"

namespace {

constexpr size_t columnCount = 9;
using Row = std::array<std::string, columnCount>;
constexpr std::array<const char*, columnCount> headings = {
    "#", "FREQ", "OWNER", "SQUAD", "NAME", "LAST USED", "AGO", "HASH", "WELCOME"};
constexpr std::array<bool, columnCount> rightAligned = {true, true};

Row rowOf(size_t index, const FreqRecord& r, int64_t now) {
    const std::optional<int64_t> lastUsed = lastUsedAt(r.lastUsed, now);
    return {fmt::format("{}", index),
            fmt::format("{}", r.freq),
            escapedBytes(fieldOf(r.owner)),
            escapedBytes(fieldOf(r.allowedSquad)),
            escapedBytes(fieldOf(r.freqName)),
            lastUsedText(r.lastUsed, now),
            lastUsed ? agoText(now - *lastUsed) : "-",
            fmt::format("{:08X}", r.passwordHash),
            escapedBytes(fieldOf(r.welcome))};
}

} // namespace

std::string recordTable(const std::vector<FreqRecord>& records, const std::vector<size_t>& shown,
                        int64_t now) {
    std::vector<Row> rows;
    for (size_t i : shown)
        rows.push_back(rowOf(i, records[i], now));
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
