#include "platform/profile_reader.h"

#include <cstring>

// Reads like the system's profile reader does on ordinary files, and decides
// the odd cases so that nothing in a file can make it read past the text:
//
// - Lines end at '\n' or '\r', so CRLF, LF and lone CR files all work; the
//   last line needs no terminator. A UTF-8 byte order mark at the very start
//   is skipped.
// - Spaces and tabs around a line, a section name, a key name and a value are
//   removed. Lines whose first other character is ';' are comments.
// - "[name]" opens a section; text after the first ']' is ignored. A line that
//   starts with '[' but has no ']' is ignored and does not change the section.
// - Only the first section with the wanted name is searched: the next section
//   line ends the search, even one that repeats the name. Within it the first
//   "key=value" line whose key matches wins; lines without '=' are no keys, so
//   they never shadow a later line of the same key. Lines before any section
//   belong to none.
// - A NUL byte ends a value, so the returned length always equals the length
//   of the zero-terminated text; a NUL inside a name makes it match nothing.
// - One pair of matching quotes around the value is removed before the value
//   is cut to the buffer.
// - The default loses its trailing spaces, as the system's reader does.
// - A null section or key gives the default: the system's listing of section
//   or key names is not needed here.

namespace {

struct Span {
    const char* begin;
    const char* end;
    size_t size() const { return static_cast<size_t>(end - begin); }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

Span trimmed(Span s) {
    while (s.begin < s.end && isBlank(*s.begin))
        ++s.begin;
    while (s.end > s.begin && isBlank(s.end[-1]))
        --s.end;
    return s;
}

char lowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

bool equalsNoCase(Span a, Span b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (lowerAscii(a.begin[i]) != lowerAscii(b.begin[i])) return false;
    return true;
}

Span spanOf(const char* s) {
    return Span{s, s + std::strlen(s)};
}

const char* find(Span s, char c) {
    const void* at = s.size() ? std::memchr(s.begin, c, s.size()) : nullptr;
    return at ? static_cast<const char*>(at) : nullptr;
}

uint32_t copyOut(Span value, char* buffer, uint32_t size) {
    const size_t length = value.size() < size - 1 ? value.size() : size - 1;
    if (length) std::memcpy(buffer, value.begin, length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

uint32_t copyDefault(const char* defaultValue, char* buffer, uint32_t size) {
    Span value = spanOf(defaultValue ? defaultValue : "");
    while (value.end > value.begin && value.end[-1] == ' ')
        --value.end;
    return copyOut(value, buffer, size);
}

Span valueOf(Span raw) {
    Span value = trimmed(raw);
    if (const char* nul = find(value, '\0')) value = trimmed(Span{value.begin, nul});
    if (value.size() >= 2 && (value.begin[0] == '"' || value.begin[0] == '\'') &&
        value.end[-1] == value.begin[0]) {
        ++value.begin;
        --value.end;
    }
    return value;
}

} // namespace

uint32_t profileStringFromText(const char* text, size_t textSize, const char* section,
                               const char* key, const char* defaultValue, char* buffer,
                               uint32_t size) {
    if (!buffer || size == 0) return 0;
    if (!text || !section || !key) return copyDefault(defaultValue, buffer, size);

    const Span wantedSection = trimmed(spanOf(section));
    const Span wantedKey = trimmed(spanOf(key));

    const char* p = text;
    const char* const end = text + textSize;
    if (textSize >= 3 && std::memcmp(p, "\xEF\xBB\xBF", 3) == 0) p += 3;

    bool inWantedSection = false;
    while (p < end) {
        const char* lineEnd = p;
        while (lineEnd < end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        const Span line = trimmed(Span{p, lineEnd});
        p = lineEnd < end ? lineEnd + 1 : end;

        if (line.size() == 0 || line.begin[0] == ';') continue;

        if (line.begin[0] == '[') {
            const char* close = find(line, ']');
            if (!close) continue;
            if (inWantedSection) break;
            inWantedSection = equalsNoCase(trimmed(Span{line.begin + 1, close}), wantedSection);
            continue;
        }

        if (!inWantedSection) continue;
        const char* equals = find(line, '=');
        if (!equals) continue;
        if (equalsNoCase(trimmed(Span{line.begin, equals}), wantedKey))
            return copyOut(valueOf(Span{equals + 1, line.end}), buffer, size);
    }
    return copyDefault(defaultValue, buffer, size);
}
