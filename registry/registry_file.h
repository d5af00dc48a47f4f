// The registry file "Zandrel.teams": a plain sequence of 284-byte record
// images, each scrambled word by word with a constant key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "registry/freq_registry.h"

extern const char registryFileName[];
constexpr uint32_t recordKey = 0x2B7D4E19u;

// XORs each of the 71 little-endian words of one record image with the key;
// the same call scrambles and unscrambles.
void scrambleRecord(unsigned char* image);

// The file image of the registry's records in list order.
std::string registryImage(FreqRegistry& registry);

// Appends the records of a file image to the registry; false, with nothing
// added, when the size is not a multiple of the record size.
bool addRecordsFromImage(FreqRegistry& registry, const unsigned char* image, size_t size);

// Loads the file into an empty registry. A missing file gives an empty
// registry; a damaged one is kept aside untouched (see FreqRegistry) and also
// gives an empty registry, with the result false.
bool loadRegistry(FreqRegistry& registry);

// Replaces the file with the registry's records, crash-safely: either the old
// or the new file survives. False when the save failed (the old file stays).
bool saveRegistry(FreqRegistry& registry);
