#include "platform/profile_reader.h"

#include <cstring>
#include <string>
#include <utility>

#include "text/ascii.h"

// Reads like the system's profile reader does (tests/windows compares the two
// on a table of files), and decides the odd cases so that nothing in a file
// can make it read past the text:
//
// - Lines end at '\n' or '\r', so CRLF, LF and lone CR files all work; the
//   last line needs no terminator. A UTF-8 byte order mark at the very start
//   is skipped; a UTF-16 one makes the text UTF-16 (see below).
// - Blanks (space, tab, vertical tab, form feed and the end-of-file byte 0x1A)
//   around a line, a section name, a key name and a value are removed.
// - "[name]" opens a section; the name ends at the last ']' of the line. A
//   line that starts with '[' but has no ']' is ignored and does not change
//   the section.
// - Only the first section with the wanted name is searched: the next section
//   line ends the search, even one that repeats the name. Within it the first
//   line whose key matches wins. A line without '=' is a key without a value:
//   it gives the default, and a later line of the same key is not seen. Lines
//   before any section belong to none.
// - ';' starts no comment of its own: a line ";K=9" is the key ";K", which
//   nobody asks for, so such lines serve as comments.
// - A NUL byte ends a value, so the returned length always equals the length
//   of the zero-terminated text; a NUL inside a name makes it match nothing.
// - One pair of matching quotes around the value is removed before the value
//   is cut to the buffer. (The system's reader, when the unquoted value is
//   exactly one byte shorter than the buffer, also drops its last character;
//   this reader keeps the whole value, as it fits.)
// - The default loses its trailing spaces, but never its first character, as
//   the system's reader does.
// - A null section or key gives the default; profileKeyNames lists the key
//   names of a section instead.
// - UTF-16 text (little or big endian, after its byte order mark) is read as
//   8-bit text: characters up to U+00FF stay as they are, every other one
//   becomes '?'. (The system maps them through its code page.)

namespace {

struct Span {
    const char* begin;
    const char* end;
    size_t size() const { return static_cast<size_t>(end - begin); }
};

bool isBlank(char c) {
    return c == ' ' || c == '\t' || c == '\v' || c == '\f' || c == '\x1a';
}

Span trimmed(Span s) {
    while (s.begin < s.end && isBlank(*s.begin))
        ++s.begin;
    while (s.end > s.begin && isBlank(s.end[-1]))
        --s.end;
    return s;
}

Span spanOf(const char* s) {
    return Span{s, s + std::strlen(s)};
}

const char* find(Span s, char c) {
    const void* at = s.size() ? std::memchr(s.begin, c, s.size()) : nullptr;
    return at ? static_cast<const char*>(at) : nullptr;
}

const char* findLast(Span s, char c) {
    for (const char* p = s.end; p > s.begin; --p)
        if (p[-1] == c) return p - 1;
    return nullptr;
}

uint32_t copyOut(Span value, char* buffer, uint32_t size) {
    const size_t length = value.size() < size - 1 ? value.size() : size - 1;
    if (length) std::memcpy(buffer, value.begin, length);
    buffer[length] = '\0';
    return static_cast<uint32_t>(length);
}

uint32_t copyDefault(const char* defaultValue, char* buffer, uint32_t size) {
    Span value = spanOf(defaultValue ? defaultValue : "");
    while (value.end > value.begin + 1 && value.end[-1] == ' ')
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

// UTF-16 text after its byte order mark, one byte per character.
std::string narrowed(const char* text, size_t textSize, bool bigEndian) {
    std::string result;
    result.reserve(textSize / 2);
    for (size_t i = 0; i + 1 < textSize; i += 2) {
        const auto first = static_cast<unsigned char>(text[i]);
        const auto second = static_cast<unsigned char>(text[i + 1]);
        const unsigned unit = bigEndian ? (first << 8 | second) : (second << 8 | first);
        result += unit <= 0xFF ? static_cast<char>(unit) : '?';
    }
    return result;
}

// The text to read: UTF-16 narrowed into wide, a UTF-8 byte order mark
// skipped.
Span prepared(const char* text, size_t textSize, std::string& wide) {
    if (textSize >= 2 &&
        (std::memcmp(text, "\xFF\xFE", 2) == 0 || std::memcmp(text, "\xFE\xFF", 2) == 0)) {
        wide = narrowed(text + 2, textSize - 2, text[0] == '\xFE');
        text = wide.data();
        textSize = wide.size();
    }
    Span all{text, text + textSize};
    if (textSize >= 3 && std::memcmp(text, "\xEF\xBB\xBF", 3) == 0) all.begin += 3;
    return all;
}

} // namespace

std::vector<ProfileLine> profileLines(const char* text, size_t textSize) {
    std::vector<ProfileLine> lines;
    if (!text) return lines;
    std::string wide;
    const Span all = prepared(text, textSize, wide);
    uint32_t number = 1;
    for (const char* p = all.begin; p < all.end;) {
        const char* lineEnd = p;
        while (lineEnd < all.end && *lineEnd != '\n' && *lineEnd != '\r')
            ++lineEnd;
        const Span line = trimmed(Span{p, lineEnd});
        const uint32_t lineNumber = number;
        // CR LF ends one line, as an editor shows it; the reader merely sees
        // an empty line between them.
        if (lineEnd < all.end) {
            if (*lineEnd == '\r' && lineEnd + 1 < all.end && lineEnd[1] == '\n') ++lineEnd;
            ++number;
        }
        p = lineEnd < all.end ? lineEnd + 1 : all.end;
        if (line.size() == 0) continue;

        ProfileLine out;
        out.number = lineNumber;
        if (line.begin[0] == '[') {
            const char* close = findLast(line, ']');
            out.kind = close ? ProfileLine::section : ProfileLine::unclosed;
            const Span name = close ? trimmed(Span{line.begin + 1, close}) : line;
            out.name.assign(name.begin, name.size());
        } else if (const char* equals = find(line, '=')) {
            out.kind = ProfileLine::key;
            const Span name = trimmed(Span{line.begin, equals});
            out.name.assign(name.begin, name.size());
            out.hasValue = true;
            const Span value = valueOf(Span{equals + 1, line.end});
            out.value.assign(value.begin, value.size());
        } else {
            out.kind = ProfileLine::key;
            out.name.assign(line.begin, line.size());
        }
        lines.push_back(std::move(out));
    }
    return lines;
}

namespace {

// The key lines of the first section named section (blanks around it and the
// case of its letters aside); the next section line ends it, even one that
// repeats the name.
std::vector<const ProfileLine*> sectionLines(const std::vector<ProfileLine>& lines,
                                             const char* section) {
    const Span wanted = trimmed(spanOf(section));
    const std::string_view name(wanted.begin, wanted.size());
    std::vector<const ProfileLine*> found;
    bool inSection = false;
    for (const ProfileLine& line : lines) {
        if (line.kind == ProfileLine::unclosed) continue;
        if (line.kind == ProfileLine::section) {
            if (inSection) break;
            inSection = equalsNoCase(line.name, name);
            continue;
        }
        if (inSection) found.push_back(&line);
    }
    return found;
}

} // namespace

uint32_t profileStringFromText(const char* text, size_t textSize, const char* section,
                               const char* key, const char* defaultValue, char* buffer,
                               uint32_t size) {
    if (!buffer || size == 0) return 0;
    if (!text || !section || !key) return copyDefault(defaultValue, buffer, size);
    const Span wantedKey = trimmed(spanOf(key));
    const std::string_view wanted(wantedKey.begin, wantedKey.size());
    const std::vector<ProfileLine> lines = profileLines(text, textSize);
    for (const ProfileLine* line : sectionLines(lines, section)) {
        if (!equalsNoCase(line->name, wanted)) continue;
        // A key without '=' is there without a value: the default, and a
        // later line of the same key is not seen.
        if (!line->hasValue) break;
        return copyOut(Span{line->value.data(), line->value.data() + line->value.size()}, buffer,
                       size);
    }
    return copyDefault(defaultValue, buffer, size);
}

std::vector<std::string> profileKeyNames(const char* text, size_t textSize, const char* section) {
    std::vector<std::string> names;
    if (!text || !section) return names;
    const std::vector<ProfileLine> lines = profileLines(text, textSize);
    for (const ProfileLine* line : sectionLines(lines, section))
        names.push_back(line->name);
    return names;
}
