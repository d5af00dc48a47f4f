// The text forms of the simulator's script language: escapes, repeats and
// quotes on the way in, and one-line escaped text on the way out.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "text/ascii.h"

// A malformed script line; the message says what is wrong with it.
struct ScriptError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// How deep repeat groups may nest inside one another.
constexpr int maxRepeatNesting = 32;

// Budgets: every decoded text counts against the current line's and the
// run's; a text that would exceed either is a ScriptError.
void startRunBudget();
void startLineBudget();

// Decodes a script text:
//   \xNN      the byte NN (two hex digits)      \\  a backslash
//   \{ \} \"  a literal brace or quote
//   {TEXT*N}  TEXT repeated N times, e.g. {A*1000000}; a brace that does not
//             open such a group is literal
// With quotes set, unescaped double quotes group blanks into one token and are
// removed; otherwise they are literal.
std::string decodeText(std::string_view source, bool quotes);

// Splits source at blanks outside quotes, escapes and repeat groups. Each
// token is a view into source, still encoded.
std::vector<std::string_view> splitTokens(std::string_view source);

// Index of the first blank in source that is outside escapes and repeat
// groups (quotes are not special), or npos.
size_t findBlank(std::string_view source);

// Index of the first unescaped, unquoted occurrence of the character c.
size_t findUnquoted(std::string_view source, char c);

// Drops blanks (spaces and tabs) at both ends.
std::string_view trimBlanks(std::string_view text);
