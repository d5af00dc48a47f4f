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
