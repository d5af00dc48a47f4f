#include "platform/profile_reader.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>
#include <utility>
#include <vector>

using namespace std::string_literals;

namespace {

struct ProfileCase {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* defaultValue;
    uint32_t size;
    std::string expected;
};

// Runs one lookup on a heap copy of exactly textSize bytes, so that a read
// past the text is caught by the address sanitizer, and checks that nothing
// is written past size bytes of the buffer.
std::string lookup(const std::string& text, const char* section, const char* key,
                   const char* defaultValue, uint32_t size, uint32_t* length = nullptr) {
    std::unique_ptr<char[]> exact(new char[text.size() ? text.size() : 1]);
    std::memcpy(exact.get(), text.data(), text.size());
    char buffer[80];
    std::memset(buffer, '#', sizeof buffer);
    const uint32_t n =
        profileStringFromText(exact.get(), text.size(), section, key, defaultValue, buffer, size);
    for (size_t i = size; i < sizeof buffer; ++i)
        EXPECT_EQ(buffer[i], '#') << "written past the buffer at " << i;
    if (length) *length = n;
    if (size == 0) return "<untouched>";
    EXPECT_EQ(n, std::strlen(buffer)) << "length differs from the text";
    return std::string(buffer);
}

} // namespace

TEST(ProfileReader, FindsValuesLikeTheSystemReader) {
    const ProfileCase cases[] = {
        {"plain", "[Config]\nMaxOwnedFreqs=5\n", "Config", "MaxOwnedFreqs", "3", 16, "5"},
        {"names ignore case", "[cONFIG]\nmaxownedFREQS=5\n", "Config", "MaxOwnedFreqs", "3", 16,
         "5"},
        {"blanks around names and values", " \t[ \tConfig\t ] \n \tMaxOwnedFreqs \t= \t7 \t\n",
         "Config", "MaxOwnedFreqs", "3", 16, "7"},
        {"blanks around the wanted names", "[Config]\nK=5\n", " Config\t", "\tK ", "d", 16, "5"},
        {"blanks inside a value kept", "[Config]\nK=10 minutes\n", "Config", "K", "d", 16,
         "10 minutes"},
        {"later '=' belongs to the value", "[Config]\nK=a=b\n", "Config", "K", "d", 16, "a=b"},
        {"empty value is not the default", "[Config]\nK=\n", "Config", "K", "300", 16, ""},
        {"blank value is empty", "[Config]\nK=  \t\n", "Config", "K", "300", 16, ""},
        {"empty file", "", "Config", "K", "30", 16, "30"},
        {"blank lines skipped", "\n\n  \n[Config]\n\n\t\nK=5", "Config", "K", "d", 16, "5"},

        // Quotes: one matching pair around the whole value goes.
        {"double quotes", "[Config]\nK=\"a b\"\n", "Config", "K", "d", 16, "a b"},
        {"single quotes", "[Config]\nK='12'\n", "Config", "K", "d", 16, "12"},
        {"blanks inside quotes kept", "[Config]\nK=\" 5 \"\n", "Config", "K", "d", 16, " 5 "},
        {"blanks outside quotes removed", "[Config]\nK=  '5'  \n", "Config", "K", "d", 16, "5"},
        {"only one pair", "[Config]\nK=\"\"5\"\"\n", "Config", "K", "d", 16, "\"5\""},
        {"empty quotes", "[Config]\nK=\"\"\n", "Config", "K", "d", 16, ""},
        {"mismatched quotes kept", "[Config]\nK=\"5'\n", "Config", "K", "d", 16, "\"5'"},
        {"lone quote kept", "[Config]\nK=\"\n", "Config", "K", "d", 16, "\""},
        {"quote at one end kept", "[Config]\nK=5\"\n", "Config", "K", "d", 16, "5\""},

        // Comments.
        {"comment line", "[Config]\n;K=9\nK=4\n", "Config", "K", "d", 16, "4"},
        {"indented comment", "[Config]\n \t; K=9\nK=4\n", "Config", "K", "d", 16, "4"},
        {"commented section", ";[Config]\nK=9\n[Config]\nK=4\n", "Config", "K", "d", 16, "4"},
        {"no comments after a value", "[Config]\nAutoSaveDelay=300 ; five minutes\n", "Config",
         "AutoSaveDelay", "300", 32, "300 ; five minutes"},
        {"'#' is no comment mark", "[Config]\n#K=9\n", "Config", "K", "d", 16, "d"},
        {"comment is a key of its own", "[Config]\n;K=9\n", "Config", ";K", "d", 16, "9"},

        // Which section and which key.
        {"first key wins", "[Config]\nK=1\nK=2\n", "Config", "K", "d", 16, "1"},
        {"key of another section", "[Other]\nK=1\n[Config]\nJ=2\n", "Config", "K", "d", 16, "d"},
        {"key after the section ended", "[Config]\nJ=1\n[Other]\nK=2\n", "Config", "K", "d", 16,
         "d"},
        {"wanted section second", "[Other]\nK=1\n[Config]\nK=2\n", "Config", "K", "d", 16, "2"},
        {"first of duplicate sections only", "[Config]\nJ=1\n[config]\nK=2\n", "Config", "K", "d",
         16, "d"},
        {"duplicate section ignored", "[Config]\nK=1\n[Config]\nK=2\n", "Config", "K", "d", 16,
         "1"},
        {"key before any section", "K=1\n[Config]\nJ=2\n", "Config", "K", "d", 16, "d"},
        {"missing section", "[Other]\nK=1\n", "Config", "K", "d", 16, "d"},
        {"section name is whole", "[Config2]\nK=1\n", "Config", "K", "d", 16, "d"},
        {"key name is whole", "[Config]\nMaxOwnedFreqsX=1\nMaxOwned=2\nMaxOwnedFreqs=3\n", "Config",
         "MaxOwnedFreqs", "d", 16, "3"},
        {"line without '=' is a key without a value", "[Config]\nK\nK=5\n", "Config", "K", "d", 16,
         "d"},
        {"line without '=' of another key", "[Config]\nK 7\nK=5\n", "Config", "K", "d", 16, "5"},
        {"text after ']' ignored", "[Config] ; settings\nK=5\n", "Config", "K", "d", 16, "5"},
        {"name ends at the last ']'", "[Con]fig]\nK=5\n[Config] [x]\nK=6\n", "Con]fig", "K", "d",
         16, "5"},
        {"no section after a second ']'", "[Config] [x]\nK=6\n", "Config", "K", "d", 16, "d"},
        {"section line without ']' ignored", "[Config]\n[Other\nK=5\n", "Config", "K", "d", 16,
         "5"},
        {"unclosed section opens nothing", "[Config\nK=5\n", "Config", "K", "d", 16, "d"},
        {"empty section name", "[]\nK=1\n[Config]\nK=2\n", "Config", "K", "d", 16, "2"},

        // Line ends and odd bytes.
        {"CRLF", "[Config]\r\nK=5\r\nJ=6\r\n", "Config", "K", "d", 16, "5"},
        {"CRLF value has no CR", "[Config]\r\nK=\"5\"\r\n", "Config", "K", "d", 16, "5"},
        {"lone CR", "[Config]\rK=5\r", "Config", "K", "d", 16, "5"},
        {"last line without newline", "[Config]\nJ=1\nK=5", "Config", "K", "d", 16, "5"},
        {"section as last line", "[Config]", "Config", "K", "d", 16, "d"},
        {"byte order mark", "\xEF\xBB\xBF[Config]\nK=5\n", "Config", "K", "d", 16, "5"},
        {"NUL ends a value", "[Config]\nK=5\0junk\n"s, "Config", "K", "d", 16, "5"},
        {"NUL right after '='", "[Config]\nK=\0junk\n"s, "Config", "K", "d", 16, ""},
        {"NUL inside a section name", "[Con\0fig]\nK=5\n"s, "Config", "K", "d", 16, "d"},
        {"NUL inside a key name", "[Config]\nK\0=5\nK=6\n"s, "Config", "K", "d", 16, "6"},
        {"NUL lines before", "\0\0\n[Config]\n\0\nK=5\n"s, "Config", "K", "d", 16, "5"},
        {"other blanks", "[\vConfig\f]\n\x1aK\t=\v5\f\x1a\n", "Config", "K", "d", 16, "5"},
        {"no-break space is no blank",
         "[Config]\nK=\xA0"
         "5\n",
         "Config", "K", "d", 16,
         "\xA0"
         "5"},
        {"UTF-16",
         "\xFF\xFE[\0C\0]\0\r\0\n\0K\0=\0\xE4\0\x00\x4E"
         "5\0"s,
         "C", "K", "d", 16, "\xE4?5"},
        {"UTF-16 big endian, odd size",
         "\xFE\xFF\0[\0C\0]\0\n\0K\0=\0"
         "5\0"s,
         "C", "K", "d", 16, "5"},
        {"high bytes", "[Config]\nK=\xE4\xF6\xFF\n", "Config", "K", "d", 16, "\xE4\xF6\xFF"},

        // Cutting to the buffer.
        {"value cut", "[Config]\nK=1234567890123456789\n", "Config", "K", "d", 16,
         "123456789012345"},
        {"value just fits", "[Config]\nK=123456789012345\n", "Config", "K", "d", 16,
         "123456789012345"},
        {"quoted value cut", "[Config]\nK=\"123456\"\n", "Config", "K", "d", 4, "123"},
        {"one byte buffer", "[Config]\nK=5\n", "Config", "K", "d", 1, ""},
        {"default cut", "", "Config", "K", "12345", 3, "12"},
        {"default loses trailing spaces", "", "Config", "K", "30  ", 16, "30"},
        {"default keeps leading spaces", "", "Config", "K", " 30", 16, " 30"},
        {"default keeps its first space", "", "Config", "K", "   ", 16, " "},
        {"null default", "[Config]\n", "Config", "K", nullptr, 16, ""},
    };
    for (const ProfileCase& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(lookup(c.text, c.section, c.key, c.defaultValue, c.size), c.expected);
    }
}

TEST(ProfileReader, ReturnsLengthOfWhatItCopied) {
    uint32_t length = 99;
    EXPECT_EQ(lookup("[Config]\nK=1234567\n", "Config", "K", "d", 5, &length), "1234");
    EXPECT_EQ(length, 4u);
    EXPECT_EQ(lookup("", "Config", "K", "300", 16, &length), "300");
    EXPECT_EQ(length, 3u);
}

TEST(ProfileReader, ZeroSizedBufferIsLeftAlone) {
    uint32_t length = 99;
    EXPECT_EQ(lookup("[Config]\nK=5\n", "Config", "K", "d", 0, &length), "<untouched>");
    EXPECT_EQ(length, 0u);
    EXPECT_EQ(profileStringFromText("[Config]\nK=5\n", 13, "Config", "K", "d", nullptr, 16), 0u);
}

TEST(ProfileReader, MissingArgumentsGiveTheDefault) {
    char buffer[16];
    EXPECT_EQ(profileStringFromText(nullptr, 0, "Config", "K", "30", buffer, sizeof buffer), 2u);
    EXPECT_STREQ(buffer, "30");
    EXPECT_EQ(profileStringFromText("[Config]\nK=5\n", 13, nullptr, "K", "30", buffer, 16), 2u);
    EXPECT_STREQ(buffer, "30");
    EXPECT_EQ(profileStringFromText("[Config]\nK=5\n", 13, "Config", nullptr, "30", buffer, 16),
              2u);
    EXPECT_STREQ(buffer, "30");
}

TEST(ProfileReader, StopsAtTextSizeWhereverTheTextIsCut) {
    // Every cut of a file, including those inside a name, a value, a quote or
    // a CRLF, is read within its size and gives a terminated answer.
    const std::string file = "\xEF\xBB\xBF; settings\r\n[Other]\r\nK=1\r\n[ Config ]\r\n"
                             "J\r\nK = \"123\"\r\n[Config]\r\nK=2";
    for (size_t cut = 0; cut <= file.size(); ++cut) {
        SCOPED_TRACE(cut);
        const std::string got = lookup(file.substr(0, cut), "Config", "K", "d", 16);
        EXPECT_TRUE(got == "d" || got == "" || got == "\"" || got == "1" || got == "12" ||
                    got == "\"1" || got == "\"12" || got == "\"123" || got == "123")
            << got;
    }
    EXPECT_EQ(lookup(file, "Config", "K", "d", 16), "123");
    EXPECT_EQ(lookup(file, "Other", "K", "d", 16), "1");
}

// The listing that "config check" shows must be the reader's own view: the
// value it lists for the first line of a key in the first section of a name
// is what a lookup returns.
TEST(ProfileLines, AgreeWithTheLookup) {
    const std::string texts[] = {
        "[Config]\nA=1\nb = \"two\" \nA=3\n",
        "\xEF\xBB\xBF[Config]\r\nA='x'\r\n[Other]\r\nA=9\r\n[config]\r\nB=8\r\n",
        "A=0\n[ Config ]\n C = spaced value \t\n;D=5\nNoEquals\nNoEquals=1\n",
        "\xFF\xFE[\0C\0]\0\n\0A\0=\0\xE9\0\n\0"s,
        "[Config]\nA=x\0y\n[Config\nB=2\n"s,
    };
    for (const std::string& text : texts) {
        std::string section;
        bool searched = false, inFirst = false;
        std::vector<std::string> seen;
        for (const ProfileLine& line : profileLines(text.data(), text.size())) {
            if (line.kind == ProfileLine::section) {
                inFirst = !searched;
                searched = true;
                section = line.name;
                continue;
            }
            if (line.kind != ProfileLine::key || !inFirst) continue;
            if (std::find(seen.begin(), seen.end(), line.name) != seen.end()) continue;
            seen.push_back(line.name);
            if (!line.hasValue) continue; // the lookup gives the default and looks no further
            EXPECT_EQ(lookup(text, section.c_str(), line.name.c_str(), "<default>", 80), line.value)
                << "key " << line.name << " of " << testing::PrintToString(text);
        }
        EXPECT_FALSE(seen.empty()) << testing::PrintToString(text);
    }
}

TEST(ProfileLines, NumbersLinesAsAnEditorDoes) {
    const std::string text = "[A]\r\nk=1\rj\n\n  [B \nx = \"q\"";
    const std::vector<ProfileLine> lines = profileLines(text.data(), text.size());
    ASSERT_EQ(lines.size(), 5u);
    EXPECT_EQ(lines[0].kind, ProfileLine::section);
    EXPECT_EQ(lines[0].name, "A");
    EXPECT_EQ((std::pair{lines[1].number, lines[1].value}), (std::pair{2u, "1"s}));
    EXPECT_EQ(lines[2].number, 3u);
    EXPECT_FALSE(lines[2].hasValue);
    EXPECT_EQ(lines[3].kind, ProfileLine::unclosed);
    EXPECT_EQ((std::pair{lines[3].number, lines[3].name}), (std::pair{5u, "[B"s}));
    EXPECT_EQ((std::pair{lines[4].number, lines[4].value}), (std::pair{6u, "q"s}));
    EXPECT_TRUE(profileLines(nullptr, 5).empty());
}
