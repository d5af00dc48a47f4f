#include "host/script_text.h"

#include <cstdint>

namespace {

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// One unit of source text: a literal byte, an escape or a repeat group.
struct Unit {
    enum Kind { Literal, Escape, Repeat } kind = Literal;
    size_t end = 0;        // index just past the unit
    char byte = 0;         // Literal, Escape
    std::string_view body; // Repeat: the text to repeat, still encoded
    size_t count = 0;      // Repeat
};

Unit byteUnit(Unit::Kind kind, size_t end, char byte) {
    Unit unit;
    unit.kind = kind;
    unit.end = end;
    unit.byte = byte;
    return unit;
}

Unit readUnit(std::string_view s, size_t i);

// A "{" opens a repeat group only when a matching "}" follows and the group
// ends in "*" and a decimal count; otherwise the caller treats it as literal.
bool readRepeat(std::string_view s, size_t i, Unit& unit) {
    size_t j = i + 1;
    while (j < s.size() && s[j] != '}') {
        if (s[j] == '\\' || s[j] == '{') {
            j = readUnit(s, j).end;
        } else {
            ++j;
        }
    }
    if (j >= s.size()) return false;
    std::string_view inner = s.substr(i + 1, j - i - 1);
    size_t star = inner.rfind('*');
    if (star == std::string_view::npos || star + 1 == inner.size()) return false;
    size_t count = 0;
    for (size_t k = star + 1; k < inner.size(); ++k) {
        char c = inner[k];
        if (c < '0' || c > '9') return false;
        count = count * 10 + static_cast<size_t>(c - '0');
        if (count > maxDecodedText) throw ScriptError("repeat count too large in \"{...}\"");
    }
    unit.kind = Unit::Repeat;
    unit.end = j + 1;
    unit.body = inner.substr(0, star);
    unit.count = count;
    return true;
}

Unit readUnit(std::string_view s, size_t i) {
    Unit unit = byteUnit(Unit::Literal, i + 1, s[i]);
    if (s[i] == '\\') {
        if (i + 1 >= s.size()) throw ScriptError("lone backslash at the end of the text");
        char c = s[i + 1];
        if (c == 'x') {
            int high = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
            int low = i + 3 < s.size() ? hexValue(s[i + 3]) : -1;
            if (high < 0 || low < 0) throw ScriptError("\\x must be followed by two hex digits");
            unit = byteUnit(Unit::Escape, i + 4, static_cast<char>(high * 16 + low));
        } else if (c == '\\' || c == '{' || c == '}' || c == '"') {
            unit = byteUnit(Unit::Escape, i + 2, c);
        } else {
            throw ScriptError(std::string("unknown escape \\") + escapedBytes({&c, 1}) +
                              " (use \\xNN, \\\\, \\{, \\} or \\\")");
        }
    } else if (s[i] == '{') {
        readRepeat(s, i, unit);
    }
    return unit;
}

void decodeInto(std::string_view s, bool quotes, std::string& out) {
    bool quoted = false;
    for (size_t i = 0; i < s.size();) {
        Unit unit = readUnit(s, i);
        if (unit.kind == Unit::Repeat) {
            std::string body;
            decodeInto(unit.body, false, body);
            if (!body.empty() && unit.count > (maxDecodedText - out.size()) / body.size())
                throw ScriptError("repeated text longer than 64 MiB");
            out.reserve(out.size() + body.size() * unit.count);
            for (size_t k = 0; k < unit.count; ++k)
                out += body;
        } else if (unit.kind == Unit::Literal && quotes && unit.byte == '"') {
            quoted = !quoted;
        } else {
            if (out.size() >= maxDecodedText) throw ScriptError("text longer than 64 MiB");
            out += unit.byte;
        }
        i = unit.end;
    }
    if (quoted) throw ScriptError("unterminated quote");
}

} // namespace

std::string decodeText(std::string_view source, bool quotes) {
    std::string out;
    decodeInto(source, quotes, out);
    return out;
}

std::vector<std::string_view> splitTokens(std::string_view source) {
    std::vector<std::string_view> tokens;
    bool quoted = false;
    size_t start = std::string_view::npos;
    for (size_t i = 0; i < source.size();) {
        Unit unit = readUnit(source, i);
        bool blank = unit.kind == Unit::Literal && isBlank(unit.byte) && !quoted;
        if (unit.kind == Unit::Literal && unit.byte == '"') quoted = !quoted;
        if (blank) {
            if (start != std::string_view::npos) tokens.push_back(source.substr(start, i - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = i;
        }
        i = unit.end;
    }
    if (quoted) throw ScriptError("unterminated quote");
    if (start != std::string_view::npos) tokens.push_back(source.substr(start));
    return tokens;
}

size_t findBlank(std::string_view source) {
    for (size_t i = 0; i < source.size();) {
        Unit unit = readUnit(source, i);
        if (unit.kind == Unit::Literal && isBlank(unit.byte)) return i;
        i = unit.end;
    }
    return std::string_view::npos;
}

size_t findUnquoted(std::string_view source, char c) {
    bool quoted = false;
    for (size_t i = 0; i < source.size();) {
        Unit unit = readUnit(source, i);
        if (unit.kind == Unit::Literal) {
            if (unit.byte == '"') {
                quoted = !quoted;
            } else if (unit.byte == c && !quoted) {
                return i;
            }
        }
        i = unit.end;
    }
    return std::string_view::npos;
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}
