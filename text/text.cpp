#include "text/text.h"

#include <cstring>
#include <new>
#include <stdexcept>

#include "text/ascii.h"
#include "text/number.h"

namespace {

// Every change allocates exactly length + 1 bytes; the caller fills the
// characters and the terminating 0 is written here.
char* allocateBuffer(uint64_t newLength) {
    // One byte is kept for the 0, so the largest length is one less than the
    // field can count; anything beyond would wrap the size.
    if (newLength >= 0xFFFFFFFFull) throw std::length_error("text too long");
    char* buffer = new char[static_cast<size_t>(newLength) + 1];
    buffer[newLength] = 0;
    return buffer;
}

void copyBytes(char* to, const char* from, uint32_t count) {
    if (count != 0) std::memcpy(to, from, count);
}

} // namespace

Text::Text() : data(allocateBuffer(0)), length(0) {}

Text::Text(const char* string) : Text(string, textLength(string)) {}

Text::Text(const char* characters, uint32_t count) : data(nullptr), length(0) {
    if (characters == nullptr) count = 0;
    data = allocateBuffer(count);
    copyBytes(data, characters, count);
    length = count;
}

Text::Text(std::string_view characters) : data(nullptr), length(0) {
    data = allocateBuffer(characters.size());
    copyBytes(data, characters.data(), static_cast<uint32_t>(characters.size()));
    length = static_cast<uint32_t>(characters.size());
}

Text::Text(const Text& other) : Text(other.data, other.length) {}

Text::Text(Text&& other) noexcept : data(other.data), length(other.length) {
    other.data = nullptr;
    other.length = 0;
}

Text::Text(int32_t number) : Text(numberToText(static_cast<uint32_t>(number), 10, 0, true)) {}

Text::~Text() {
    delete[] data;
    data = nullptr;
    length = 0;
}

Text& Text::operator=(const Text& other) {
    assign(other);
    return *this;
}

Text& Text::operator=(Text&& other) noexcept {
    if (this != &other) {
        delete[] data;
        data = other.data;
        length = other.length;
        other.data = nullptr;
        other.length = 0;
    }
    return *this;
}

void Text::take(char* buffer, uint32_t newLength) {
    delete[] data;
    data = buffer;
    length = newLength;
}

// The copy is made before the old buffer goes, so a text may be assigned from
// its own characters too.
void Text::assign(const char* characters, uint32_t count) {
    if (characters == nullptr) count = 0;
    char* buffer = allocateBuffer(count);
    copyBytes(buffer, characters, count);
    take(buffer, count);
}

void Text::assign(const char* string) {
    assign(string, textLength(string));
}

void Text::assign(const Text& other) {
    assign(other.data, other.length);
}

void Text::assign(int32_t number) {
    *this = Text(number);
}

// The source is read before the old buffer is released, so appending a text's
// own characters works.
void Text::append(const char* characters, uint32_t count) {
    if (characters == nullptr) count = 0;
    uint64_t newLength = uint64_t(length) + count;
    char* buffer = allocateBuffer(newLength);
    copyBytes(buffer, data, length);
    copyBytes(buffer + length, characters, count);
    take(buffer, static_cast<uint32_t>(newLength));
}

void Text::append(const char* string) {
    append(string, textLength(string));
}

void Text::append(const Text& other) {
    append(other.data, other.length);
}

void Text::append(std::string_view characters) {
    if (characters.size() >= 0xFFFFFFFFull) throw std::length_error("text too long");
    append(characters.data(), static_cast<uint32_t>(characters.size()));
}

void Text::append(int32_t number) {
    append(Text(number));
}

void Text::prepend(const char* characters, uint32_t count) {
    if (characters == nullptr) count = 0;
    uint64_t newLength = uint64_t(length) + count;
    char* buffer = allocateBuffer(newLength);
    copyBytes(buffer, characters, count);
    copyBytes(buffer + count, data, length);
    take(buffer, static_cast<uint32_t>(newLength));
}

uint32_t Text::findChar(char c) const {
    for (uint32_t i = 0; i < length; ++i)
        if (data[i] == c) return i;
    return notFound;
}

Text Text::left(uint32_t n) const {
    return Text(data, n < length ? n : length);
}

Text Text::right(uint32_t n) const {
    uint32_t count = n < length ? n : length;
    return Text(data + (length - count), count);
}

Text Text::mid(uint32_t start, uint32_t count) const {
    if (start >= length) return Text();
    uint32_t available = length - start;
    return Text(data + start, count < available ? count : available);
}

Text Text::trim() const {
    return Text(trimSpaces(view()));
}

Text Text::fit(uint32_t width) const {
    if (length >= width) return left(width);
    // The result first: it allocates too, and the buffer must not be left
    // unowned should that fail.
    Text result;
    char* buffer = allocateBuffer(width);
    copyBytes(buffer, data, length);
    std::memset(buffer + length, ' ', width - length);
    result.take(buffer, width);
    return result;
}

Text Text::splitAt(char delimiter) {
    uint32_t i = findChar(delimiter);
    if (i == notFound) return trim();
    const std::string_view whole = view();
    Text field(trimSpaces(whole.substr(0, i)));
    *this = Text(trimSpaces(whole.substr(i + 1, longestRemainder)));
    return field;
}

std::string_view trimSpaces(std::string_view characters) {
    const size_t first = characters.find_first_not_of(' ');
    if (first == std::string_view::npos) return {};
    return characters.substr(first, characters.find_last_not_of(' ') - first + 1);
}

bool Text::equalsNoCase(const char* string) const {
    return ::equalsNoCase(string, data);
}

int32_t Text::toInt() const {
    return textToNumber(data, 10);
}
