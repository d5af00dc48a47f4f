#include "text/number.h"

#include "text/ascii.h"

namespace {

const char digitAlphabet[] = "0123456789abcdefghijklmnopqrstuv";
const char zeroRun[] = "00000000000000000000000000000000";
const char sign[] = "-";

// Nobody passes a radix outside 2 to 32; taking the nearest bound keeps a
// stray one from dividing by zero, looping forever or reading past the
// alphabet.
uint32_t clampRadix(uint32_t radix) {
    if (radix < 2) return 2;
    if (radix > 32) return 32;
    return radix;
}

} // namespace

bool isNumeric(const char* string) {
    if (string == nullptr || string[0] == 0) return false;
    if (string[0] == '-') ++string;
    if (string[0] == 0) return false;
    for (; *string != 0; ++string)
        if (*string < '0' || *string > '9') return false;
    return true;
}

Text numberToText(uint32_t value, uint32_t radix, uint16_t width, bool isSigned) {
    radix = clampRadix(radix);
    // The zero run is the padding, so it bounds the width.
    uint32_t padWidth = width > 32 ? 32 : width;

    if (value == 0) return Text(zeroRun, padWidth > 1 ? padWidth : 1);

    bool negative = isSigned && (value & 0x80000000u) != 0;
    uint32_t magnitude = negative ? 0u - value : value;

    // Digits are laid down from the back: 32 binary digits at most.
    char digits[32];
    uint32_t start = sizeof digits;
    while (magnitude != 0) {
        digits[--start] = digitAlphabet[magnitude % radix];
        magnitude /= radix;
    }
    uint32_t count = sizeof digits - start;

    Text result(digits + start, count);
    if (padWidth > count) result.prepend(zeroRun, padWidth - count);
    if (negative) result.prepend(sign, 1);
    return result;
}

// Read from the last byte with a growing place value, all in unsigned 32-bit
// arithmetic so that overlong or non-digit input wraps instead of overflowing.
int32_t textToNumber(const char* string, uint32_t radix) {
    if (string == nullptr) return 0;
    radix = clampRadix(radix);
    bool negative = string[0] == '-';
    if (negative) ++string;

    uint32_t end = textLength(string);
    uint32_t sum = 0;
    uint32_t place = 1;
    while (end > 0) {
        --end;
        int8_t c = static_cast<int8_t>(lowerAscii(static_cast<unsigned char>(string[end])));
        uint32_t digit =
            static_cast<uint32_t>(static_cast<int32_t>(c)) - ((c >= '0' && c <= '9') ? 48u : 87u);
        sum += digit * place;
        place *= radix;
    }
    if (negative) sum = 0u - sum;
    return static_cast<int32_t>(sum);
}
