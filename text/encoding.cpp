#include "text/encoding.h"

namespace {

// Whether the bytes are UTF-8: well-formed sequences, no overlong forms, no
// surrogates, nothing above U+10FFFF, none cut off by the end.
bool isUtf8(std::string_view bytes) {
    for (size_t i = 0; i < bytes.size();) {
        const auto lead = static_cast<unsigned char>(bytes[i]);
        size_t length = 0;
        unsigned char low = 0x80, high = 0xBF;
        if (lead < 0x80)
            length = 1;
        else if (lead >= 0xC2 && lead <= 0xDF)
            length = 2;
        else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3;
            if (lead == 0xE0) low = 0xA0;
            if (lead == 0xED) high = 0x9F;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4;
            if (lead == 0xF0) low = 0x90;
            if (lead == 0xF4) high = 0x8F;
        } else
            return false;
        if (length > bytes.size() - i) return false;
        for (size_t k = 1; k < length; ++k) {
            const auto c = static_cast<unsigned char>(bytes[i + k]);
            if (c < (k == 1 ? low : 0x80) || c > (k == 1 ? high : 0xBF)) return false;
        }
        i += length;
    }
    return true;
}

} // namespace

TextEncoding guessEncoding(std::string_view bytes) {
    if (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")) return TextEncoding::utf16;
    // Text without a byte order mark: UTF-16 puts a zero byte beside every
    // ASCII character, which no text file of ours has.
    const std::string_view start = bytes.substr(0, 512);
    size_t zeros = 0;
    for (char c : start)
        zeros += c == '\0';
    if (start.size() >= 2 && zeros * 4 >= start.size()) return TextEncoding::utf16;
    return isUtf8(bytes) ? TextEncoding::utf8 : TextEncoding::legacy;
}

std::string saveAsUtf8Advice(std::string_view name, TextEncoding encoding) {
    const std::string how = "save it as UTF-8 (in Notepad: File, Save As, Encoding: UTF-8)";
    switch (encoding) {
    case TextEncoding::utf8:
        return {};
    case TextEncoding::utf16:
        return std::string(name) + " is saved as UTF-16 (\"Unicode\"); " + how;
    case TextEncoding::legacy:
        return std::string(name) + " is not UTF-8 (a legacy code page such as ANSI?); " + how;
    }
    return {};
}
