// One registered freq: a fixed 284-byte record whose memory layout is also its
// image in the registry file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "text/ascii.h"

struct FreqRecord {
    uint16_t freq;
    char owner[20]; // copied whole from a player's name field; may lack a zero
    char welcome[200];
    uint8_t padding[2];
    uint32_t passwordHash;
    char allowedSquad[20];
    char freqName[32];
    int32_t lastUsed; // seconds since 1970, UTC; below zero: no time known (unstampedTime)
};

// The lastUsed of a freq registered while the clock gave no time: unknown,
// so no sweep expires it before its first admission stamps it.
constexpr int32_t unstampedTime = -1;

static_assert(sizeof(FreqRecord) == 284);
static_assert(offsetof(FreqRecord, freq) == 0);
static_assert(offsetof(FreqRecord, owner) == 2);
static_assert(offsetof(FreqRecord, welcome) == 22);
static_assert(offsetof(FreqRecord, padding) == 222);
static_assert(offsetof(FreqRecord, passwordHash) == 224);
static_assert(offsetof(FreqRecord, allowedSquad) == 228);
static_assert(offsetof(FreqRecord, freqName) == 248);
static_assert(offsetof(FreqRecord, lastUsed) == 280);

constexpr size_t freqRecordSize = sizeof(FreqRecord);

// Freqs below this are the game's public ones: none can be registered.
constexpr uint16_t lowestRegistrableFreq = 100;

// A pending admission of one player to one freq; in memory only.
struct FreqInvite {
    char playerName[20]; // at most 19 characters, zero-filled
    uint32_t issuedAt;   // tick counter when made
    uint16_t freq;
};

// Sets a text field: clears it whole, then copies at most width - 1 bytes, so
// overlong text is cut and the field always keeps a terminating zero.
template <size_t Width> void setTextField(char (&field)[Width], std::string_view text) {
    size_t n = text.size() < Width - 1 ? text.size() : Width - 1;
    for (size_t i = 0; i < Width; ++i)
        field[i] = i < n ? text[i] : 0;
}

// The text of a record's field, never reaching beyond its width.
template <size_t Width> std::string_view fieldOf(const char (&field)[Width]) {
    return fieldText(field, Width);
}
