// The CSV form of a registry, for spreadsheets: one line per record. It is
// not read back; the JSON form is the one that round-trips.
#pragma once

#include <string>
#include <vector>

#include "registry/freq_record.h"

// A header line, then per record: freq, owner, welcome, allowedSquad,
// freqName, passwordHash, lastUsed, lastUsedLocal, padding. Text fields hold
// the same bytes as in the JSON form, written with escapedBytes and quoted,
// and a first byte that would make a spreadsheet run the cell as a formula
// (=, +, - or @) written as \xNN too; padding is its two bytes in hex.
std::string registryToCsv(const std::vector<FreqRecord>& records, int64_t now);
