#include "text/ascii.h"

#include <cstring>

uint32_t textLength(const char* string) {
    return string == nullptr ? 0 : static_cast<uint32_t>(std::strlen(string));
}

// A missing string compares as the empty one.
bool equalsNoCase(const char* a, const char* b) {
    if (a == nullptr) a = "";
    if (b == nullptr) b = "";
    for (size_t i = 0;; ++i) {
        unsigned char ca = static_cast<unsigned char>(a[i]);
        unsigned char cb = static_cast<unsigned char>(b[i]);
        if (lowerAscii(ca) != lowerAscii(cb)) return false;
        if (ca == 0) return true;
    }
}

bool equalsNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(static_cast<unsigned char>(a[i])) !=
            lowerAscii(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

std::string escapedBytes(std::string_view bytes, Escaping how) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    out.reserve(bytes.size() + 2);
    if (how.inQuotes) out += '"';
    for (char c : bytes) {
        auto b = static_cast<uint8_t>(c);
        const bool asHex = b < 0x20 || b >= 0x7f || (b == '"' && how.quoteAsHex) ||
                           (b == '\\' && how.backslashAsHex);
        if (asHex) {
            out += "\\x";
            out += digits[b >> 4];
            out += digits[b & 15];
        } else if (b == '\\') {
            out += "\\\\";
        } else {
            out += c;
        }
    }
    if (how.inQuotes) out += '"';
    return out;
}
