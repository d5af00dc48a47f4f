#include "tools/teams_text.h"

#include <ctime>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/last_used.h"
#include "text/date_time.h"

std::string ownerKey(std::string_view owner) {
    std::string key(owner);
    for (char& c : key)
        c = static_cast<char>(lowerAscii(static_cast<unsigned char>(c)));
    return key;
}

std::string latin1ToUtf8(std::string_view bytes) {
    std::string result;
    result.reserve(bytes.size());
    for (char c : bytes) {
        auto byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            result += c;
        } else {
            result += static_cast<char>(0xC0 | byte >> 6);
            result += static_cast<char>(0x80 | (byte & 0x3F));
        }
    }
    return result;
}

std::optional<std::string> utf8ToLatin1(std::string_view text, uint32_t& offending) {
    constexpr uint32_t notUtf8 = 0xFFFFFFFFu;
    std::string result;
    result.reserve(text.size());
    size_t i = 0;
    while (i < text.size()) {
        auto lead = static_cast<unsigned char>(text[i]);
        if (lead < 0x80) {
            result += static_cast<char>(lead);
            ++i;
            continue;
        }
        size_t length = lead >= 0xF0 ? 4 : lead >= 0xE0 ? 3 : lead >= 0xC0 ? 2 : 0;
        if (length == 0 || lead >= 0xF8 || i + length > text.size()) {
            offending = notUtf8;
            return std::nullopt;
        }
        uint32_t codePoint = lead & (0x7F >> length);
        for (size_t k = 1; k < length; ++k) {
            auto next = static_cast<unsigned char>(text[i + k]);
            if ((next & 0xC0) != 0x80) {
                offending = notUtf8;
                return std::nullopt;
            }
            codePoint = codePoint << 6 | (next & 0x3F);
        }
        // An overlong form of a smaller code point is not UTF-8 either.
        constexpr uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
        if (codePoint < smallest[length]) {
            offending = notUtf8;
            return std::nullopt;
        }
        if (codePoint > 0xFF) {
            offending = codePoint;
            return std::nullopt;
        }
        result += static_cast<char>(codePoint);
        i += length;
    }
    return result;
}

std::string lastUsedText(int32_t stored, int64_t now) {
    std::tm storage{};
    const std::optional<int64_t> lastUsed = lastUsedAt(stored, now);
    const std::tm* local = lastUsed && localTimeOf(*lastUsed, storage) ? &storage : nullptr;
    return fmt::format("{} {}", dateText(local).view(), timeText(local).view());
}

std::string recordLabel(size_t index, std::optional<int64_t> freq) {
    if (!freq) return fmt::format("record {} (freq unknown)", index);
    return fmt::format("record {} (freq {})", index, *freq);
}

std::string agoText(int64_t secondsBeforeNow) {
    int64_t span = secondsBeforeNow < 0 ? -secondsBeforeNow : secondsBeforeNow;
    std::string amount = span >= 86400  ? fmt::format("{}d", span / 86400)
                         : span >= 3600 ? fmt::format("{}h", span / 3600)
                         : span >= 60   ? fmt::format("{}m", span / 60)
                                        : fmt::format("{}s", span);
    return secondsBeforeNow < 0 ? "in " + amount : amount + " ago";
}
