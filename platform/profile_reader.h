// A portable reader of profile (ini) text, behaving like the system's profile
// reader: names compared ignoring case, blanks around names and values
// removed, one pair of matching quotes removed, first match wins, value cut
// to the buffer. profile_reader.cpp lists the details.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t profileStringFromText(const char* text, size_t textSize, const char* section,
                               const char* key, const char* defaultValue, char* buffer,
                               uint32_t size);
