#include "tools/teams_csv.h"

#include <charconv>
#include <cstring>
#include <iterator>

#include <fmt/format.h>

#include "tools/teams_file.h"
#include "tools/teams_text.h"

namespace {

constexpr const char* columns[] = {"freq",         "owner",         "welcome",
                                   "allowedSquad", "freqName",      "passwordHash",
                                   "lastUsed",     "lastUsedLocal", "padding"};
constexpr size_t columnCount = std::size(columns);
constexpr char csvLineEnd[] = "\r\n";

// A CSV field in double quotes, with each double quote in it doubled.
std::string csvQuoted(const std::string& text) {
    std::string result = "\"";
    for (char c : text) {
        if (c == '"') result += '"';
        result += c;
    }
    return result + "\"";
}

// Whether a spreadsheet would take the cell for a number, a date, a time or
// a percentage, and so drop its leading zeros or change it: digits with
// only the signs, separators and exponents such values are written with.
bool looksNumeric(std::string_view text) {
    bool digit = false;
    for (char c : text) {
        if (c >= '0' && c <= '9')
            digit = true;
        else if (!std::strchr(".,:/%+- eE", c))
            return false;
    }
    return digit;
}

// As OWASP advises against CSV injection: a cell that a spreadsheet would run
// as a formula (=, +, -, @, and | and % for older ones) starts with an
// apostrophe, which makes it text; so does one it would take for a number,
// and one that starts with an apostrophe itself, so that import can remove
// exactly the one added. Tab and CR are escaped already, as every control is.
std::string inert(std::string text) {
    if (text.empty()) return text;
    if (std::strchr("=+-@|%'", text[0]) || looksNumeric(text)) return "'" + text;
    return text;
}

template <size_t Width> std::string csvText(const char (&field)[Width]) {
    return csvQuoted(inert(escapedBytes(storedBytes(field))));
}

std::string headerLine(char delimiter) {
    std::string line;
    for (const char* name : columns) {
        if (!line.empty()) line += delimiter;
        line += name;
    }
    return line;
}

} // namespace

std::string registryToCsv(const std::vector<FreqRecord>& records, int64_t now, char delimiter) {
    std::string csv = headerLine(delimiter) + csvLineEnd;
    for (const FreqRecord& r : records) {
        const std::string cells[] = {
            fmt::format("{}", r.freq),
            csvText(r.owner),
            csvText(r.welcome),
            csvText(r.allowedSquad),
            csvText(r.freqName),
            fmt::format("{}", r.passwordHash),
            fmt::format("{}", r.lastUsed),
            csvQuoted(lastUsedText(r.lastUsed, now)),
            csvQuoted(inert(fmt::format("{:02X}{:02X}", r.padding[0], r.padding[1])))};
        for (size_t i = 0; i < std::size(cells); ++i) {
            if (i > 0) csv += delimiter;
            csv += cells[i];
        }
        csv += csvLineEnd;
    }
    return csv;
}

namespace {

struct CsvReader {
    std::string_view text;
    size_t at = 0;
    size_t line = 1;
    char delimiter = ',';

    [[noreturn]] void fail(const std::string& what) const {
        throw ToolFailure(fmt::format("line {}: {}", line, what));
    }

    // One record's fields, as RFC 4180 has them; its line end (CR LF, or LF
    // alone) is consumed, and crlf tells which it was.
    std::vector<std::string> record(bool& crlf) {
        std::vector<std::string> fields;
        while (true) {
            std::string field;
            if (at < text.size() && text[at] == '"') {
                ++at;
                while (true) {
                    if (at >= text.size()) fail("a quoted cell is not closed");
                    if (text[at] == '"') {
                        if (at + 1 < text.size() && text[at + 1] == '"') {
                            field += '"';
                            at += 2;
                            continue;
                        }
                        ++at;
                        break;
                    }
                    if (text[at] == '\n' || text[at] == '\r')
                        fail("a cell holds a line break, which export never writes");
                    field += text[at++];
                }
                if (at < text.size() && text[at] != delimiter && text[at] != '\r' &&
                    text[at] != '\n')
                    fail("text follows a quoted cell before the next delimiter");
            } else {
                while (at < text.size() && text[at] != delimiter && text[at] != '\r' &&
                       text[at] != '\n') {
                    if (text[at] == '"') fail("a quote inside a cell that is not quoted");
                    field += text[at++];
                }
            }
            fields.push_back(std::move(field));
            if (at < text.size() && text[at] == delimiter) {
                ++at;
                continue;
            }
            break;
        }
        crlf = false;
        if (at < text.size() && text[at] == '\r') {
            if (at + 1 >= text.size() || text[at + 1] != '\n') fail("a CR without an LF after it");
            crlf = true;
            ++at;
        }
        if (at < text.size()) ++at; // the LF
        ++line;
        return fields;
    }
};

template <typename T> bool wholeNumber(const std::string& cell, T& value) {
    const char* end = cell.data() + cell.size();
    const auto [stop, error] = std::from_chars(cell.data(), end, value);
    return !cell.empty() && error == std::errc() && stop == end;
}

// The bytes escapedBytes wrote: \\ and \xNN, every other byte printable ASCII.
bool unescaped(const std::string& cell, std::string& bytes) {
    bytes.clear();
    for (size_t i = 0; i < cell.size(); ++i) {
        const auto c = static_cast<unsigned char>(cell[i]);
        if (c < 0x20 || c >= 0x7F) return false;
        if (c != '\\') {
            bytes += char(c);
            continue;
        }
        if (i + 1 < cell.size() && cell[i + 1] == '\\') {
            bytes += '\\';
            ++i;
            continue;
        }
        unsigned value = 0;
        if (i + 3 >= cell.size() || cell[i + 1] != 'x' ||
            std::from_chars(cell.data() + i + 2, cell.data() + i + 4, value, 16).ptr !=
                cell.data() + i + 4)
            return false;
        bytes += char(value);
        i += 3;
    }
    return true;
}

} // namespace

std::vector<FreqRecord> registryFromCsv(const std::string& text) {
    CsvReader reader;
    reader.text = text;
    if (text.starts_with("\xEF\xBB\xBF")) reader.at = 3; // a spreadsheet's UTF-8 mark
    const std::string_view rest = reader.text.substr(reader.at);
    reader.delimiter = rest.starts_with(headerLine(';')) ? ';' : ',';
    bool crlf = false;
    const std::vector<std::string> header = reader.record(crlf);
    bool sameHeader = header.size() == columnCount;
    for (size_t i = 0; sameHeader && i < columnCount; ++i)
        sameHeader = header[i] == columns[i];
    if (!sameHeader)
        throw ToolFailure(
            fmt::format("line 1: not the header export writes ({})", headerLine(',')));
    // Lines ending in LF alone are the earlier form, which added no apostrophes.
    const bool apostrophes = crlf;
    std::vector<FreqRecord> records;
    while (reader.at < reader.text.size()) {
        const size_t line = reader.line;
        bool end = false;
        const std::vector<std::string> cells = reader.record(end);
        const auto fail = [line](size_t column, const std::string& what) {
            throw ToolFailure(fmt::format("line {}, column {}: {}", line, columns[column], what));
        };
        if (cells.size() != columnCount)
            throw ToolFailure(fmt::format("line {}: {} cells where export writes {}", line,
                                          cells.size(), columnCount));
        FreqRecord r{};
        if (!wholeNumber(cells[0], r.freq)) fail(0, "not a freq (a whole number from 0 to 65535)");
        const auto textField = [&](size_t column, char* field, size_t width) {
            std::string cell = cells[column];
            if (apostrophes && cell.starts_with('\'')) cell.erase(0, 1);
            std::string bytes;
            if (!unescaped(cell, bytes))
                fail(column, "not as export writes text (printable ASCII, \\\\ and \\xNN)");
            if (bytes.size() > width)
                fail(column,
                     fmt::format("{} bytes, more than the field's {}", bytes.size(), width));
            std::memcpy(field, bytes.data(), bytes.size());
        };
        textField(1, r.owner, sizeof r.owner);
        textField(2, r.welcome, sizeof r.welcome);
        textField(3, r.allowedSquad, sizeof r.allowedSquad);
        textField(4, r.freqName, sizeof r.freqName);
        if (!wholeNumber(cells[5], r.passwordHash))
            fail(5, "not a hash (a whole number from 0 to 4294967295)");
        if (!wholeNumber(cells[6], r.lastUsed))
            fail(6, "not a time (a whole number of seconds since 1970)");
        // lastUsedLocal only shows lastUsed: not read.
        std::string padding = cells[8];
        if (apostrophes && padding.starts_with('\'')) padding.erase(0, 1);
        unsigned value = 0;
        if (padding.size() != 4 ||
            std::from_chars(padding.data(), padding.data() + 4, value, 16).ptr !=
                padding.data() + 4)
            fail(8, "not two bytes in hex (4 digits)");
        r.padding[0] = uint8_t(value >> 8);
        r.padding[1] = uint8_t(value & 0xFF);
        records.push_back(r);
    }
    return records;
}
