// Number conversion: the only way numbers are written or read in the plug-in.
#pragma once

#include <cstdint>

#include "text/text.h"

bool isNumeric(const char* string);
Text numberToText(uint32_t value, uint32_t radix, uint16_t width, bool isSigned);
int32_t textToNumber(const char* string, uint32_t radix);

// An unsigned value in decimal, unpadded: how counts, handles and freqs are shown.
inline Text decimalText(uint32_t value) {
    return numberToText(value, 10, 0, false);
}
