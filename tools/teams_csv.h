// The CSV form of a registry, for spreadsheets: one line per record, read
// back exactly by import.
#pragma once

#include <string>
#include <vector>

#include "registry/freq_record.h"

// A header line, then per record: freq, owner, welcome, allowedSquad,
// freqName, passwordHash, lastUsed, lastUsedLocal, padding, as RFC 4180 has
// it: lines ending in CR LF, every text cell quoted with its quotes doubled.
// Text fields hold the same bytes as in the JSON form, written with
// escapedBytes; padding is its two bytes in hex. A text cell that a
// spreadsheet would run as a formula or take for a number (losing its
// leading zeros) starts with an apostrophe, which import removes. The last
// use is read in the era of now. delimiter: ',' or ';' (for a spreadsheet
// whose locale lists with ';').
std::string registryToCsv(const std::vector<FreqRecord>& records, int64_t now,
                          char delimiter = ',');

// The records of a CSV export, byte for byte. An earlier form (lines ending
// in LF alone, no apostrophes, a formula's first byte as \xNN) is read too.
// Throws ToolFailure naming the line and the column of what is not as
// export writes it.
std::vector<FreqRecord> registryFromCsv(const std::string& text);
