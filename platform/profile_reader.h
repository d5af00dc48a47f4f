// A portable reader of profile (ini) text, behaving like the system's profile
// reader: names compared ignoring case, blanks around names and values
// removed, one pair of matching quotes removed, first match wins, value cut
// to the buffer. profile_reader.cpp lists the details.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

uint32_t profileStringFromText(const char* text, size_t textSize, const char* section,
                               const char* key, const char* defaultValue, char* buffer,
                               uint32_t size);

// One line of a profile text as the reader above splits it, so that a tool
// can show the operator what becomes of each line. Blank lines are left out.
struct ProfileLine {
    enum Kind { section, key, unclosed } kind = key; // unclosed: '[' without ']'
    uint32_t number = 0;                             // counted from 1; CR LF ends one line
    std::string name;                                // of the section or the key, trimmed
    bool hasValue = false;                           // a key line with '='
    std::string value; // as the reader gives it, before any buffer cuts it
};

// The one parser of profile text: the two functions above and below read
// through it.
std::vector<ProfileLine> profileLines(const char* text, size_t textSize);

// The names of the key lines in the first section named section, in the
// file's order, comment-like names (";K") included; none for a null text.
std::vector<std::string> profileKeyNames(const char* text, size_t textSize, const char* section);
