// Byte-wise helpers on zero-terminated strings and on fixed-width fields.
// Case folding touches A to Z only; every other byte compares as it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

uint32_t textLength(const char* string);
inline unsigned char lowerAscii(unsigned char c) {
    return (c >= 'A' && c <= 'Z') ? c + 32 : c;
}
bool equalsNoCase(const char* a, const char* b);
bool equalsNoCase(std::string_view a, std::string_view b);

// The text held in a fixed-width field: up to its first zero byte, or the whole
// width when it has none. Nothing beyond the field is ever read.
inline std::string_view fieldText(const char* field, size_t width) {
    size_t n = 0;
    while (n < width && field[n] != 0)
        ++n;
    return {field, n};
}

// Bytes as one line of plain ASCII: printable ASCII as it is, a backslash
// doubled, every other byte (controls, 127, 128 to 255) as \xNN with upper-case
// hex digits. Every byte can be told back from the result.
struct Escaping {
    bool inQuotes = false;       // wrapped in double quotes
    bool quoteAsHex = false;     // '"' as \x22, so that the closing quote is the real end
    bool backslashAsHex = false; // '\' as \x5C rather than doubled
};
std::string escapedBytes(std::string_view bytes, Escaping how = {});
