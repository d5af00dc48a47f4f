#include "host/script_text.h"

#include <algorithm>
#include <charconv>
#include <cstdint>

#include "host/script_budgets.h"

namespace {

// What every text decoded for the current line and for the whole run may
// still take; the caller of a line resets the line's share.
size_t lineBudgetLeft = scriptBudgets().lineText;
size_t runBudgetLeft = scriptBudgets().runText;

bool isBlank(char c) {
    return c == ' ' || c == '\t';
}

bool isDigit(char c) {
    return c >= '0' && c <= '9';
}

int hexValue(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

// Length of the escape that starts at s[i] (a backslash), or throws.
size_t escapeLength(std::string_view s, size_t i) {
    if (i + 1 >= s.size()) throw ScriptError("lone backslash at the end of the text");
    char c = s[i + 1];
    if (c == 'x') {
        int high = i + 2 < s.size() ? hexValue(s[i + 2]) : -1;
        int low = i + 3 < s.size() ? hexValue(s[i + 3]) : -1;
        if (high < 0 || low < 0) throw ScriptError("\\x must be followed by two hex digits");
        return 4;
    }
    if (c == '\\' || c == '{' || c == '}' || c == '"') return 2;
    throw ScriptError(std::string("unknown escape \\") + escapedBytes({&c, 1}) +
                      " (use \\xNN, \\\\, \\{, \\} or \\\")");
}

char escapedByte(std::string_view s, size_t i) {
    if (s[i + 1] == 'x') return static_cast<char>(hexValue(s[i + 2]) * 16 + hexValue(s[i + 3]));
    return s[i + 1];
}

// A repeat group "{TEXT*N}" found in a text.
struct Group {
    size_t start = 0; // index of its "{"
    size_t end = 0;   // index just past its "}"
    size_t star = 0;  // index of the "*" before the count
    size_t count = 0;
};

// The repeat groups of one text, found in one pass: a "{" opens a group when
// the first "}" that no group inside it takes closes it, and the text between
// ends in "*" and a decimal count; any other brace is literal. One pass with a
// stack keeps the work linear however the braces nest or fail to close.
struct Groups {
    std::vector<Group> byStart; // sorted by start
    const Group* at(size_t i) const {
        auto it = std::lower_bound(byStart.begin(), byStart.end(), i,
                                   [](const Group& group, size_t at) { return group.start < at; });
        return it != byStart.end() && it->start == i ? &*it : nullptr;
    }
};

struct OpenBrace {
    size_t at;
    int depth; // deepest group nesting inside it so far
};

// The digits between the star and the closing brace, which the caller has
// seen to be digits only.
size_t countAfterStar(std::string_view s, size_t star, size_t end) {
    size_t count = 0;
    const auto read = std::from_chars(s.data() + star + 1, s.data() + end, count);
    if (read.ec != std::errc() || count > scriptBudgets().decodedText)
        throw ScriptError("repeat count too large in \"{...}\"");
    return count;
}

Groups findGroups(std::string_view s) {
    Groups groups;
    std::vector<OpenBrace> open;
    size_t lastStar = std::string_view::npos;
    size_t lastNonDigit = std::string_view::npos;
    // The count after one star is read once, however many braces it ends.
    size_t countedStar = std::string_view::npos, counted = 0;
    for (size_t i = 0; i < s.size();) {
        char c = s[i];
        if (c == '\\') {
            size_t length = escapeLength(s, i);
            for (size_t k = i; k < i + length; ++k)
                if (!isDigit(s[k])) lastNonDigit = k;
            i += length;
            continue;
        }
        if (c == '}') {
            // Each "{" left open ends here until one of them is a group.
            int inner = 0;
            while (!open.empty()) {
                OpenBrace brace = open.back();
                open.pop_back();
                inner = std::max(inner, brace.depth);
                bool isGroup = lastStar != std::string_view::npos && lastStar > brace.at &&
                               lastStar + 1 < i && lastNonDigit == lastStar;
                if (!isGroup) continue;
                if (countedStar != lastStar) {
                    counted = countAfterStar(s, lastStar, i);
                    countedStar = lastStar;
                }
                if (inner + 1 > maxRepeatNesting)
                    throw ScriptError("repeat groups nested more than " +
                                      std::to_string(maxRepeatNesting) + " deep");
                groups.byStart.push_back(Group{brace.at, i + 1, lastStar, counted});
                if (!open.empty()) open.back().depth = std::max(open.back().depth, inner + 1);
                inner = -1;
                break;
            }
        } else if (c == '{') {
            open.push_back({i, 0});
        } else if (c == '*') {
            lastStar = i;
        }
        if (!isDigit(c)) lastNonDigit = i;
        ++i;
    }
    std::sort(groups.byStart.begin(), groups.byStart.end(),
              [](const Group& a, const Group& b) { return a.start < b.start; });
    return groups;
}

void charge(size_t bytes) {
    if (bytes > lineBudgetLeft)
        throw ScriptError("the line's texts are longer than " +
                          budgetText(scriptBudgets().lineText) + " in all");
    if (bytes > runBudgetLeft)
        throw ScriptError("the script's texts are longer than " +
                          budgetText(scriptBudgets().runText) + " in all");
    lineBudgetLeft -= bytes;
    runBudgetLeft -= bytes;
}

void decodeInto(std::string_view s, size_t from, size_t to, const Groups& groups, bool quotes,
                std::string& out) {
    bool quoted = false;
    for (size_t i = from; i < to;) {
        char c = s[i];
        if (c == '\\') {
            if (out.size() >= scriptBudgets().decodedText)
                throw ScriptError("text longer than " + budgetText(scriptBudgets().decodedText));
            charge(1);
            out += escapedByte(s, i);
            i += escapeLength(s, i);
        } else if (const Group* group = c == '{' ? groups.at(i) : nullptr) {
            std::string body;
            decodeInto(s, i + 1, group->star, groups, false, body);
            if (!body.empty() &&
                group->count > (scriptBudgets().decodedText - out.size()) / body.size())
                throw ScriptError("repeated text longer than " +
                                  budgetText(scriptBudgets().decodedText));
            charge(body.size() * group->count);
            // Doubling what is already repeated: a few copies, not one per count.
            const size_t start = out.size(), total = body.size() * group->count;
            out.reserve(start + total);
            if (total > 0) out += body;
            while (out.size() - start < total) {
                const size_t have = out.size() - start;
                out.append(out, start, std::min(have, total - have));
            }
            i = group->end;
        } else if (quotes && c == '"') {
            quoted = !quoted;
            ++i;
        } else {
            if (out.size() >= scriptBudgets().decodedText)
                throw ScriptError("text longer than " + budgetText(scriptBudgets().decodedText));
            charge(1);
            out += c;
            ++i;
        }
    }
    if (quoted) throw ScriptError("unterminated quote");
}

// Walks the units of a text (a byte, an escape or a whole repeat group);
// visit(i, end, literal) returns true to stop at i.
template <typename Visit> size_t walkUnits(std::string_view s, Visit visit) {
    Groups groups = findGroups(s);
    for (size_t i = 0; i < s.size();) {
        size_t end = i + 1;
        bool literal = true;
        if (s[i] == '\\') {
            end = i + escapeLength(s, i);
            literal = false;
        } else if (const Group* group = s[i] == '{' ? groups.at(i) : nullptr) {
            end = group->end;
            literal = false;
        }
        if (visit(i, literal)) return i;
        i = end;
    }
    return std::string_view::npos;
}

} // namespace

void startLineBudget() {
    lineBudgetLeft = scriptBudgets().lineText;
}

void startRunBudget() {
    runBudgetLeft = scriptBudgets().runText;
    lineBudgetLeft = scriptBudgets().lineText;
}

std::string decodeText(std::string_view source, bool quotes) {
    std::string out;
    decodeInto(source, 0, source.size(), findGroups(source), quotes, out);
    return out;
}

std::vector<std::string_view> splitTokens(std::string_view source) {
    std::vector<std::string_view> tokens;
    bool quoted = false;
    size_t start = std::string_view::npos;
    walkUnits(source, [&](size_t i, bool literal) {
        char c = source[i];
        bool blank = literal && isBlank(c) && !quoted;
        if (literal && c == '"') quoted = !quoted;
        if (blank) {
            if (start != std::string_view::npos) tokens.push_back(source.substr(start, i - start));
            start = std::string_view::npos;
        } else if (start == std::string_view::npos) {
            start = i;
        }
        return false;
    });
    if (quoted) throw ScriptError("unterminated quote");
    if (start != std::string_view::npos) tokens.push_back(source.substr(start));
    return tokens;
}

size_t findBlank(std::string_view source) {
    return walkUnits(source, [&](size_t i, bool literal) { return literal && isBlank(source[i]); });
}

size_t findUnquoted(std::string_view source, char c) {
    bool quoted = false;
    return walkUnits(source, [&](size_t i, bool literal) {
        if (!literal) return false;
        if (source[i] == '"') {
            quoted = !quoted;
            return false;
        }
        return source[i] == c && !quoted;
    });
}

std::string_view trimBlanks(std::string_view text) {
    while (!text.empty() && isBlank(text.front()))
        text.remove_prefix(1);
    while (!text.empty() && isBlank(text.back()))
        text.remove_suffix(1);
    return text;
}
