// The plug-in's own text: an owned, zero-terminated buffer of exactly
// length + 1 bytes, with no spare capacity. Every change allocates anew.
#pragma once

#include <cstdint>
#include <string_view>

class Text {
  public:
    char* data;
    uint32_t length;

    Text();
    Text(const char* string);
    Text(const char* characters, uint32_t count);
    Text(std::string_view characters);
    Text(const Text& other);
    Text(Text&& other) noexcept;
    explicit Text(int32_t number);
    ~Text();

    Text& operator=(const Text& other);
    Text& operator=(Text&& other) noexcept;

    void assign(const char* characters, uint32_t count);
    void assign(const char* string);
    void assign(const Text& other);
    void assign(int32_t number);

    void append(const char* characters, uint32_t count);
    void append(const char* string);
    void append(const Text& other);
    void append(std::string_view characters);
    void append(int32_t number);

    void prepend(const char* characters, uint32_t count);

    uint32_t findChar(char c) const;
    Text left(uint32_t n) const;
    Text right(uint32_t n) const;
    Text mid(uint32_t start, uint32_t count) const;
    Text trim() const;
    Text fit(uint32_t width) const;
    Text splitAt(char delimiter);
    bool equalsNoCase(const char* string) const;
    int32_t toInt() const;

    std::string_view view() const { return {data ? data : "", length}; }
    bool empty() const { return length == 0; }

  private:
    void take(char* buffer, uint32_t newLength);
};

constexpr uint32_t notFound = 0xFFFFFFFFu;

// The most that splitAt keeps after the delimiter; a command's parameter
// after its colon is cut to the same length.
constexpr uint32_t longestRemainder = 32000;

// The characters without the spaces at both ends. Only the space itself is
// trimmed: a tab is part of the text.
std::string_view trimSpaces(std::string_view characters);
