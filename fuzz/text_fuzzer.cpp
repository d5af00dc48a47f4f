// The text functions against their definitions. Input: a 32-bit value, a
// padding width, a fit width, a delimiter, then source, token and replacement
// separated by zero bytes.
#include <cstring>
#include <string>
#include <string_view>

#include "fuzz/fuzz_support.h"
#include "text/number.h"
#include "text/replace.h"
#include "text/text.h"

namespace {

std::string trimmed(std::string s) {
    s.erase(0, std::min(s.find_first_not_of(' '), s.size()));
    s.erase(s.find_last_not_of(' ') + 1);
    return s;
}

void checkNumber(uint32_t value, uint16_t width) {
    for (uint32_t radix = 2; radix <= 32; ++radix)
        for (bool isSigned : {false, true}) {
            Text text = numberToText(value, radix, width, isSigned);
            std::string s(text.view());
            bool negative = isSigned && int32_t(value) < 0;
            std::string digits = s.substr(negative ? 1 : 0);
            FUZZ_CHECK(s.size() == text.length && text.data[text.length] == 0);
            FUZZ_CHECK(!negative || s[0] == '-');
            FUZZ_CHECK(digits.size() >= std::max<size_t>(width, 1));
            FUZZ_CHECK(digits.size() == std::max<size_t>(width, 1) || digits[0] != '0');
            const char alphabet[] = "0123456789abcdefghijklmnopqrstuv";
            for (char c : digits)
                FUZZ_CHECK(c != 0 && std::strchr(alphabet, c) &&
                           uint32_t(std::strchr(alphabet, c) - alphabet) < radix);
            FUZZ_CHECK(uint32_t(textToNumber(text.data, radix)) == value);
            for (char& c : s) // digits read back ignoring case
                c = char(std::toupper(uint8_t(c)));
            FUZZ_CHECK(uint32_t(textToNumber(s.c_str(), radix)) == value);
            if (radix == 10) {
                uint32_t magnitude = negative ? 0u - value : value;
                std::string reference = std::to_string(magnitude);
                reference.insert(0, width > reference.size() ? width - reference.size() : 0, '0');
                FUZZ_CHECK((negative ? "-" : "") + reference == text.view());
                FUZZ_CHECK(isNumeric(text.data));
            }
        }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 7) return 0;
    uint32_t value;
    std::memcpy(&value, data, 4);
    checkNumber(value, data[4] % 33); // widths beyond the 32 of the zero run are not used

    std::string_view rest(reinterpret_cast<const char*>(data + 7), size - 7);
    std::string source(rest.substr(0, rest.find('\0')));
    rest.remove_prefix(std::min(rest.size(), source.size() + 1));
    std::string token(rest.substr(0, rest.find('\0')));
    rest.remove_prefix(std::min(rest.size(), token.size() + 1));
    std::string replacement(rest.substr(0, rest.find('\0')));

    if (!token.empty()) {
        std::string reference;
        size_t read = 0;
        for (size_t p; (p = source.find(token, read)) != std::string::npos; read = p + token.size())
            reference += source.substr(read, p - read) + replacement;
        reference += source.substr(read);
        FUZZ_CHECK(replaceAll(source.c_str(), token.c_str(), replacement.c_str()).view() ==
                   reference);
    }

    Text text(source.c_str());
    uint32_t fitWidth = data[5] * 2u;
    Text fitted = text.fit(fitWidth);
    FUZZ_CHECK(fitted.length == fitWidth && fitted.data[fitWidth] == 0);
    std::string expected = source.substr(0, fitWidth);
    FUZZ_CHECK(fitted.view() == expected + std::string(fitWidth - expected.size(), ' '));

    char delimiter = char(data[6]);
    Text field = text.splitAt(delimiter);
    size_t at = source.find(delimiter);
    if (at == std::string::npos) {
        FUZZ_CHECK(field.view() == trimmed(source) && text.view() == source);
    } else {
        FUZZ_CHECK(field.view() == trimmed(source.substr(0, at)));
        FUZZ_CHECK(text.view() == trimmed(source.substr(at + 1, 32000)));
    }
    return 0;
}
