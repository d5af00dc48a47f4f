// How the teams tools show and carry the bytes of a record's text fields.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "text/ascii.h"

// The owner as the plug-in compares owners: A to Z folded, every other byte
// as it is.
std::string ownerKey(std::string_view owner);

// Everything a field holds: its whole width less the trailing zero bytes. Bytes
// after the first zero stay, so nothing the field holds is lost.
template <size_t Width> std::string_view storedBytes(const char (&field)[Width]) {
    size_t n = Width;
    while (n > 0 && field[n - 1] == 0)
        --n;
    return {field, n};
}

// True when the field has a zero byte within its width.
template <size_t Width> bool hasTerminator(const char (&field)[Width]) {
    for (size_t i = 0; i < Width; ++i)
        if (field[i] == 0) return true;
    return false;
}

// Bytes as the code points U+0000 to U+00FF of the same values, in UTF-8.
std::string latin1ToUtf8(std::string_view bytes);

// UTF-8 text back to one byte per code point. None when the text holds a code
// point above U+00FF (given in offending) or is not UTF-8 (offending is then
// 0xFFFFFFFF).
std::optional<std::string> utf8ToLatin1(std::string_view text, uint32_t& offending);

// A stored time as the plug-in's operator listing shows it: D.MM.YYYY H:MM:SS of
// one local-time conversion, or its failure texts for a negative time.
std::string lastUsedText(int32_t stored, int64_t now);

// How the tools name a record in what they report: "record N (freq F)", or
// "record N (freq unknown)" while its freq is not known.
std::string recordLabel(size_t index, std::optional<int64_t> freq);

// A span of seconds before now, coarsely: "3d ago", "5h ago", "12m ago",
// "40s ago"; a time ahead of now reads "in 2d".
std::string agoText(int64_t secondsBeforeNow);
