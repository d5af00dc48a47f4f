#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "text/ascii.h"
#include "text/date_time.h"
#include "text/encoding.h"
#include "text/number.h"
#include "text/replace.h"
#include "text/text.h"
#include "time_zone_guard.h"

using namespace std::string_literals;

namespace {

// Every live Text must hold a buffer that ends in a 0 right after its length.
::testing::AssertionResult wellFormed(const Text& t) {
    if (t.data == nullptr) return ::testing::AssertionFailure() << "data is null";
    if (t.data[t.length] != 0)
        return ::testing::AssertionFailure() << "no 0 after " << t.length << " characters";
    return ::testing::AssertionSuccess();
}

std::string str(const Text& t) {
    return std::string(t.view());
}

// ---------------------------------------------------------------- Text basics

TEST(TextTest, EmptyTextStillOwnsATerminatedBuffer) {
    Text t;
    EXPECT_TRUE(wellFormed(t));
    EXPECT_EQ(t.length, 0u);
    EXPECT_TRUE(t.empty());
    EXPECT_STREQ(t.data, "");
}

TEST(TextTest, ConstructionCopiesExactlyTheGivenBytes) {
    const char source[] = "abcdef";
    Text counted(source, 3);
    EXPECT_TRUE(wellFormed(counted));
    EXPECT_EQ(str(counted), "abc");
    EXPECT_NE(counted.data, source);

    // A count may take in a 0 byte; the length still says how much is there.
    Text withZero("a\0b", 3);
    EXPECT_EQ(withZero.length, 3u);
    EXPECT_EQ(withZero.view(), std::string_view("a\0b", 3));

    Text fromView(std::string_view("xyz"));
    EXPECT_EQ(str(fromView), "xyz");

    const char* missing = nullptr;
    Text fromNull(missing);
    EXPECT_TRUE(wellFormed(fromNull));
    EXPECT_EQ(fromNull.length, 0u);
}

TEST(TextTest, CopiesNeverShareTheBuffer) {
    Text a("name");
    Text b(a);
    Text c;
    c = a;
    EXPECT_NE(a.data, b.data);
    EXPECT_NE(a.data, c.data);
    b.data[0] = 'N';
    c.append("!");
    EXPECT_EQ(str(a), "name");
    EXPECT_EQ(str(b), "Name");
    EXPECT_EQ(str(c), "name!");
}

TEST(TextTest, CopyAssignToSelfKeepsTheText) {
    Text a("same");
    Text& alias = a;
    a = alias;
    EXPECT_TRUE(wellFormed(a));
    EXPECT_EQ(str(a), "same");
    a.assign(alias);
    EXPECT_EQ(str(a), "same");
}

TEST(TextTest, MoveTakesTheBufferAndLeavesAReusableSource) {
    Text a("moved");
    const char* buffer = a.data;
    Text b(std::move(a));
    EXPECT_EQ(b.data, buffer);
    EXPECT_EQ(str(b), "moved");
    EXPECT_EQ(a.length, 0u);
    EXPECT_EQ(a.view(), "");

    // A moved-from text can be copied, appended to and assigned again.
    Text copy(a);
    EXPECT_TRUE(wellFormed(copy));
    EXPECT_EQ(copy.length, 0u);
    a.append("again");
    EXPECT_EQ(str(a), "again");

    Text c("old");
    c = std::move(b);
    EXPECT_EQ(str(c), "moved");
    Text& alias = c;
    c = std::move(alias);
    EXPECT_EQ(str(c), "moved");
}

TEST(TextTest, AssignReplacesTheCharacters) {
    Text t("something long");
    t.assign("ab");
    EXPECT_TRUE(wellFormed(t));
    EXPECT_EQ(str(t), "ab");
    t.assign("xyz123", 3);
    EXPECT_EQ(str(t), "xyz");
    t.assign(Text("copy"));
    EXPECT_EQ(str(t), "copy");
    t.assign(-42);
    EXPECT_EQ(str(t), "-42");
    t.assign("");
    EXPECT_TRUE(wellFormed(t));
    EXPECT_TRUE(t.empty());
}

TEST(TextTest, AppendAndPrependBuildExactlySizedTexts) {
    Text t("mid");
    t.append("dle");
    t.prepend("[", 1);
    t.append("]!!", 0);
    t.append(std::string_view("]"));
    t.append(Text(" x"));
    EXPECT_TRUE(wellFormed(t));
    EXPECT_EQ(str(t), "[middle] x");
    EXPECT_EQ(t.length, 10u);
}

TEST(TextTest, AppendOfANumberWritesSignedDecimal) {
    struct Case {
        int32_t number;
        const char* expected;
    };
    const Case cases[] = {
        {0, "n=0"},
        {7, "n=7"},
        {-5, "n=-5"},
        {300, "n=300"},
        {2147483647, "n=2147483647"},
        {-2147483647 - 1, "n=-2147483648"},
    };
    for (const Case& c : cases) {
        Text t("n=");
        t.append(c.number);
        EXPECT_EQ(str(t), c.expected);
        EXPECT_EQ(str(Text(c.number)), std::string(c.expected).substr(2));
    }
}

// The source is read before the old buffer is let go; ASan catches a
// use-after-free here if that order is ever reversed.
TEST(TextTest, AppendAndPrependFromOwnCharacters) {
    Text t("abc");
    t.append(t);
    EXPECT_EQ(str(t), "abcabc");
    t.append(t.data + 1, 2);
    EXPECT_EQ(str(t), "abcabcbc");
    t.prepend(t.data + 6, 2);
    EXPECT_EQ(str(t), "bcabcabcbc");
    t.append(t.data);
    EXPECT_EQ(str(t), "bcabcabcbcbcabcabcbc");
    t.assign(t.data + 2, 3);
    EXPECT_EQ(str(t), "abc");
    EXPECT_TRUE(wellFormed(t));
}

// ------------------------------------------------- findChar, left, right, mid

TEST(TextTest, FindCharGivesFirstIndexOrAllOnes) {
    EXPECT_EQ(Text().findChar(':'), notFound);
    EXPECT_EQ(Text("abc").findChar(':'), notFound);
    EXPECT_EQ(Text("a:b:c").findChar(':'), 1u);
    EXPECT_EQ(Text(":").findChar(':'), 0u);
    EXPECT_EQ(notFound, static_cast<uint32_t>(-1));
}

TEST(TextTest, CutsClampToTheText) {
    struct Case {
        const char* name;
        Text (*cut)(const Text&);
        const char* expected;
    };
    const Case cases[] = {
        {"left 10", [](const Text& t) { return t.left(10); }, "abc"},
        {"left 2", [](const Text& t) { return t.left(2); }, "ab"},
        {"left 0", [](const Text& t) { return t.left(0); }, ""},
        {"right 2", [](const Text& t) { return t.right(2); }, "bc"},
        {"right 10", [](const Text& t) { return t.right(10); }, "abc"},
        {"right 0", [](const Text& t) { return t.right(0); }, ""},
        {"mid 5,2", [](const Text& t) { return t.mid(5, 2); }, ""},
        {"mid 3,1", [](const Text& t) { return t.mid(3, 1); }, ""},
        {"mid 1,100", [](const Text& t) { return t.mid(1, 100); }, "bc"},
        {"mid 1,1", [](const Text& t) { return t.mid(1, 1); }, "b"},
        {"mid 0,max", [](const Text& t) { return t.mid(0, 0xFFFFFFFFu); }, "abc"},
        {"mid max,max", [](const Text& t) { return t.mid(0xFFFFFFFFu, 0xFFFFFFFFu); }, ""},
    };
    const Text source("abc");
    for (const Case& c : cases) {
        Text result = c.cut(source);
        EXPECT_TRUE(wellFormed(result)) << c.name;
        EXPECT_EQ(str(result), c.expected) << c.name;
    }
    EXPECT_EQ(str(source), "abc");
}

// ------------------------------------------------------------ trims and fit

TEST(TextTest, TrimRemovesSpacesOnly) {
    struct Case {
        const char* source;
        const char* both;
    };
    const Case cases[] = {
        {"", ""},        {"   ", ""},  {"  a b  ", "a b"}, {"\tx ", "\tx"},
        {" x\t", "x\t"}, {"\n", "\n"}, {"plain", "plain"},
    };
    for (const Case& c : cases) {
        Text t(c.source);
        Text b = t.trim();
        EXPECT_TRUE(wellFormed(b)) << '"' << c.source << '"';
        EXPECT_EQ(str(b), c.both) << '"' << c.source << '"';
        EXPECT_EQ(str(t), c.source);
    }
}

TEST(TextTest, FitGivesExactlyTheWidth) {
    struct Case {
        const char* source;
        uint32_t width;
        const char* expected;
    };
    const Case cases[] = {
        {"12", 5, "12   "}, {"abcdefg", 5, "abcde"}, {"abcde", 5, "abcde"},
        {"abc", 0, ""},     {"", 3, "   "},          {"", 0, ""},
        {"x", 1, "x"},
    };
    for (const Case& c : cases) {
        Text result = Text(c.source).fit(c.width);
        EXPECT_TRUE(wellFormed(result));
        EXPECT_EQ(str(result), c.expected) << c.source << " to " << c.width;
    }
    // Wider than any fixed run of spaces would allow.
    Text wide = Text("a").fit(300);
    EXPECT_EQ(wide.length, 300u);
    EXPECT_EQ(str(wide), "a" + std::string(299, ' '));
}

// ------------------------------------------------------------------ splitAt

TEST(TextTest, SplitAtReturnsTrimmedFieldAndKeepsTrimmedRest) {
    struct Case {
        const char* source;
        const char* field;
        const char* rest;
    };
    const Case cases[] = {
        {"123 : Blue Team", "123", "Blue Team"},
        {"123", "123", "123"},
        {" 123 ", "123", " 123 "}, // no delimiter: the text stays as it was
        {":", "", ""},
        {"a:b:c", "a", "b:c"},
        {"", "", ""},
        {"1234:", "1234", ""},
        {":pass", "", "pass"},
        {"\t1:\tx ", "\t1", "\tx"},
    };
    for (const Case& c : cases) {
        Text t(c.source);
        Text field = t.splitAt(':');
        EXPECT_TRUE(wellFormed(field) && wellFormed(t)) << c.source;
        EXPECT_EQ(str(field), c.field) << c.source;
        EXPECT_EQ(str(t), c.rest) << c.source;
    }
}

TEST(TextTest, SplitAtKeepsAtMost32000CharactersAfterTheDelimiter) {
    Text t("1:");
    t.append(std::string(32005, 'x'));
    Text field = t.splitAt(':');
    EXPECT_EQ(str(field), "1");
    EXPECT_EQ(t.length, 32000u);
}

TEST(TextTest, SplitAtOnlyTheFirstDelimiterRepeatedly) {
    Text t("a:b:c");
    EXPECT_EQ(str(t.splitAt(':')), "a");
    EXPECT_EQ(str(t.splitAt(':')), "b");
    EXPECT_EQ(str(t), "c");
    EXPECT_EQ(str(t.splitAt(':')), "c");
    EXPECT_EQ(str(t), "c");
}

// ------------------------------------------------------------ equalsNoCase

TEST(AsciiTest, EqualsNoCaseFoldsOnlyAsciiLetters) {
    struct Case {
        std::string a;
        std::string b;
        bool equal;
    };
    const Case cases[] = {
        {"Bob", "bOB", true},    {"Bob", "Bob ", false}, {"Bob ", "Bob", false},
        {"", "", true},          {"", "a", false},       {"A-Z[", "a-z[", true},
        {"@", "`", false}, // one below A and one below a
        {"[", "{", false}, // one past Z and one past z: 32 apart but not letters
        {"\xC4", "\xE4", false}, {"\xE4", "\xE4", true}, {"\xC9t\xE9", "\xC9T\xE9", true},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(equalsNoCase(c.a.c_str(), c.b.c_str()), c.equal) << c.a << " / " << c.b;
        EXPECT_EQ(equalsNoCase(std::string_view(c.a), std::string_view(c.b)), c.equal)
            << c.a << " / " << c.b;
        EXPECT_EQ(Text(c.a).equalsNoCase(c.b.c_str()), c.equal) << c.a << " / " << c.b;
    }
}

TEST(AsciiTest, EqualsNoCaseOnViewsComparesTheWholeView) {
    // A fixed field without a 0 is compared over its full width and no further.
    const char field[4] = {'B', 'O', 'B', 'X'};
    EXPECT_TRUE(equalsNoCase(fieldText(field, 3), std::string_view("bob")));
    EXPECT_FALSE(equalsNoCase(fieldText(field, 4), std::string_view("bob")));
    EXPECT_FALSE(equalsNoCase(std::string_view("a\0b", 3), std::string_view("a\0c", 3)));
    EXPECT_TRUE(equalsNoCase(std::string_view("a\0B", 3), std::string_view("A\0b", 3)));
}

TEST(AsciiTest, LowerAsciiAndTextLength) {
    // A to Z only: the bytes next to them, lower case, and letters above 127 stay.
    const struct {
        unsigned char from, to;
    } cases[] = {{'A', 'a'}, {'M', 'm'},   {'Z', 'z'},   {'a', 'a'},   {'z', 'z'},
                 {'@', '@'}, {'[', '['},   {'`', '`'},   {'{', '{'},   {'0', '0'},
                 {0, 0},     {0xC4, 0xC4}, {0xC1, 0xC1}, {0xDA, 0xDA}, {0xFF, 0xFF}};
    for (const auto& c : cases)
        EXPECT_EQ(lowerAscii(c.from), c.to) << int(c.from);
    EXPECT_EQ(textLength(""), 0u);
    EXPECT_EQ(textLength("abc"), 3u);
    EXPECT_EQ(textLength("ab\0cd"), 2u);
    EXPECT_EQ(textLength(nullptr), 0u);
}

// ---------------------------------------------------------------- isNumeric

TEST(NumberTest, IsNumeric) {
    struct Case {
        const char* text;
        bool numeric;
    };
    const Case cases[] = {
        {"", false},    {"-", false},   {"+1", false}, {"12a", false}, {" 12", false},
        {"12 ", false}, {"--1", false}, {"1-", false}, {"-a", false},  {"0x1", false},
        {"0", true},    {"-0", true},   {"007", true}, {"-12", true},  {"4294967297", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(isNumeric(c.text), c.numeric) << '"' << c.text << '"';
    EXPECT_FALSE(isNumeric(nullptr));
}

// ------------------------------------------------------------- numberToText

TEST(NumberTest, NumberToText) {
    struct Case {
        uint32_t value;
        uint32_t radix;
        uint16_t width;
        bool isSigned;
        const char* expected;
    };
    const Case cases[] = {
        {0, 10, 0, false, "0"},
        {0, 10, 1, false, "0"},
        {0, 10, 3, false, "000"},
        {0, 10, 3, true, "000"},
        {7, 10, 0, false, "7"},
        {static_cast<uint32_t>(-5), 10, 3, true, "-005"},
        {static_cast<uint32_t>(-5), 10, 0, false, "4294967291"},
        {static_cast<uint32_t>(-1), 10, 0, false, "4294967295"},
        {static_cast<uint32_t>(-1), 10, 0, true, "-1"},
        {0x80000000u, 10, 0, true, "-2147483648"},
        {0x80000000u, 10, 0, false, "2147483648"},
        {0x7FFFFFFFu, 10, 0, true, "2147483647"},
        {255, 16, 0, false, "ff"},
        {255, 16, 4, false, "00ff"},
        {31, 32, 0, false, "v"},
        {35, 32, 0, false, "13"},
        {5, 2, 0, false, "101"},
        {0xFFFFFFFFu, 2, 0, false, "11111111111111111111111111111111"},
        {0xFFFFFFFFu, 32, 0, false, "3vvvvvv"},
        {12345, 10, 3, false, "12345"},
        {12345, 10, 5, false, "12345"},
        {12345, 10, 6, false, "012345"},
        {static_cast<uint32_t>(-12345), 10, 3, true, "-12345"},
        {1, 10, 32, false, "00000000000000000000000000000001"},
    };
    for (const Case& c : cases) {
        Text t = numberToText(c.value, c.radix, c.width, c.isSigned);
        EXPECT_TRUE(wellFormed(t));
        EXPECT_EQ(str(t), c.expected)
            << c.value << " radix " << c.radix << " width " << c.width << " signed " << c.isSigned;
    }
}

TEST(NumberTest, NumberToTextClampsRadixAndWidth) {
    // Radix 0 and 1 would divide by zero or never end; above 32 would read
    // past the digit alphabet.
    EXPECT_EQ(str(numberToText(5, 0, 0, false)), "101");
    EXPECT_EQ(str(numberToText(5, 1, 0, false)), "101");
    EXPECT_EQ(str(numberToText(1024, 33, 0, false)), "100");
    EXPECT_EQ(str(numberToText(1024, 0xFFFFFFFFu, 0, false)), "100");
    // The padding never goes past the 32 zeros there are.
    EXPECT_EQ(numberToText(1, 10, 33, false).length, 32u);
    EXPECT_EQ(numberToText(0, 10, 65535, false).length, 32u);
    EXPECT_EQ(numberToText(static_cast<uint32_t>(-1), 10, 65535, true).length, 33u);
}

// ------------------------------------------------------------- textToNumber

TEST(NumberTest, TextToNumber) {
    struct Case {
        const char* text;
        uint32_t radix;
        int32_t expected;
    };
    const Case cases[] = {
        {"", 10, 0},
        {"-", 10, 0},
        {"-12", 10, -12},
        {"007", 10, 7},
        {"-0", 10, 0},
        {"FF", 16, 255},
        {"ff", 16, 255},
        {"Ff", 16, 255},
        {"v", 32, 31},
        {"13", 32, 35},
        {"101", 2, 5},
        {"2147483647", 10, 2147483647},
        {"2147483648", 10, -2147483647 - 1},
        {"-2147483648", 10, -2147483647 - 1},
        {"4294967295", 10, -1},
        {"4294967297", 10, 1},
        {"-4294967297", 10, -1},
        {"99999999999999999999", 10, static_cast<int32_t>(0x630FFFFFu)},
        // Nothing is validated: non-digits count as c - 87.
        {"g", 10, 16},
        {"G", 10, 16},
        {" ", 10, 32 - 87},
        {"1 ", 10, 10 + 32 - 87},
        {"\xFF", 10, -1 - 87}, // read as signed 8-bit
        {"\x80", 10, -128 - 87},
        {"--1", 10, 419}, // the second "-" is a digit worth 45 - 87 = -42: -(1 - 420)
    };
    for (const Case& c : cases)
        EXPECT_EQ(textToNumber(c.text, c.radix), c.expected)
            << '"' << c.text << "\" radix " << c.radix;
    EXPECT_EQ(textToNumber(nullptr, 10), 0);
    EXPECT_EQ(Text("-123").toInt(), -123);
    EXPECT_EQ(Text("").toInt(), 0);
}

TEST(NumberTest, TextToNumberUndoesNumberToText) {
    const uint32_t values[] = {0u,          1u,          9u,         10u,         255u,
                               1000u,       65535u,      123456789u, 0x7FFFFFFFu, 0x80000000u,
                               0x80000001u, 0xFFFFFFFEu, 0xFFFFFFFFu};
    for (uint32_t radix = 2; radix <= 32; ++radix)
        for (uint32_t v : values)
            for (bool isSigned : {false, true}) {
                Text t = numberToText(v, radix, 0, isSigned);
                EXPECT_EQ(static_cast<uint32_t>(textToNumber(t.data, radix)), v)
                    << str(t) << " radix " << radix;
            }
}

// ------------------------------------------------------------------ replaceAll

TEST(ReplaceTest, ReplaceAll) {
    struct Case {
        const char* source;
        const char* token;
        const char* replacement;
        const char* expected;
    };
    const Case cases[] = {
        {"Hi %name%!", "%name%", "Bob", "Hi Bob!"},
        {"%NAME%", "%name%", "Bob", "%NAME%"},
        {"%nam%name%", "%name%", "X", "%namX"},
        {"%a%%a%", "%a%", "x%a%", "x%a%x%a%"}, // inserted tokens are not searched again
        {"aaa", "aa", "X", "Xa"},              // no overlap, left to right
        {"aaaa", "aa", "a", "aa"},
        {"%name%", "%name%", "", ""},
        {"", "%name%", "Bob", ""},
        {"no macros", "%name%", "Bob", "no macros"},
        {"%fnum%%fnum%", "%fnum%", "1234", "12341234"},
        {"x", "", "Y", "x"}, // an empty token leaves the source as it is
    };
    for (const Case& c : cases) {
        Text result = replaceAll(c.source, c.token, c.replacement);
        EXPECT_TRUE(wellFormed(result));
        EXPECT_EQ(str(result), c.expected) << c.source << " / " << c.token;
    }
}

TEST(ReplaceTest, LaterCallSeesTextInsertedByEarlierOne) {
    // One macro's value may contain another macro; the next call replaces it.
    Text first = replaceAll("Hi %name%", "%name%", "%fnum%");
    Text second = replaceAll(first.data, "%fnum%", "1234");
    EXPECT_EQ(str(second), "Hi 1234");
}

// ------------------------------------------------------- dateText, timeText

std::tm brokenDown(int day, int month, int yearsSince1900, int hour, int minute, int second) {
    std::tm t{};
    t.tm_mday = day;
    t.tm_mon = month;
    t.tm_year = yearsSince1900;
    t.tm_hour = hour;
    t.tm_min = minute;
    t.tm_sec = second;
    return t;
}

TEST(DateTimeTest, Forms) {
    struct Case {
        std::tm t;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {brokenDown(5, 2, 102, 9, 5, 7), "5.03.2002", "9:05:07"},
        {brokenDown(23, 6, 102, 19, 49, 30), "23.07.2002", "19:49:30"},
        {brokenDown(1, 11, 99, 0, 0, 0), "1.12.1999", "0:00:00"},
        {brokenDown(31, 8, 70, 23, 59, 59), "31.09.1970", "23:59:59"},
        {brokenDown(10, 9, 200, 10, 10, 10), "10.10.2100", "10:10:10"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(str(dateText(&c.t)), c.date);
        EXPECT_EQ(str(timeText(&c.t)), c.time);
    }
}

TEST(DateTimeTest, NoBrokenDownTimeGivesFailureTexts) {
    EXPECT_EQ(str(dateText(nullptr)), "(INVALID DATE)");
    EXPECT_EQ(str(timeText(nullptr)), "(INVALID TIME)");
}

TEST(DateTimeTest, OutOfRangeFieldsAreWrittenAsSignedNumbers) {
    std::tm t = brokenDown(-1, -1, -1901, -3, -4, -5);
    EXPECT_EQ(str(dateText(&t)), "-1.00.-1");
    EXPECT_EQ(str(timeText(&t)), "-3:0-4:0-5");
}

// A stored time is shown in the host's local time zone, whatever the zone's
// offset; a stored time before 1970 has no local time at all.
TEST(DateTimeTest, StoredTimesInTheLocalTimeZone) {
    struct Case {
        const char* zone;
        int64_t stored;
        const char* date;
        const char* time;
    };
    const Case cases[] = {
        {"UTC", 0, "1.01.1970", "0:00:00"},
        {"<+01>-1", 0, "1.01.1970", "1:00:00"},       // one hour east of UTC
        {"<-0530>5:30", 0, "31.12.1969", "18:30:00"}, // west: still the old year
        {"<-0530>5:30", 1767225600, "31.12.2025", "18:30:00"},
        {"UTC", 2147483647, "19.01.2038", "3:14:07"},
    };
    for (const Case& c : cases) {
        TimeZoneGuard zone(c.zone);
        std::tm local{};
        ASSERT_TRUE(localTimeOf(c.stored, local)) << c.zone << " " << c.stored;
        EXPECT_EQ(str(dateText(&local)), c.date) << c.zone << " " << c.stored;
        EXPECT_EQ(str(timeText(&local)), c.time) << c.zone << " " << c.stored;
    }
    std::tm none{};
    EXPECT_FALSE(localTimeOf(-1, none));
    EXPECT_FALSE(localTimeOf(INT32_MIN, none));
}

} // namespace

// The transcripts, the registry tools and the audit log all show bytes this
// way, and a reader must be able to tell every byte back; in quotes, a quote
// inside must not read as the end where the reader relies on that.
TEST(TextTest, EscapedBytesKeepsEveryByteTellable) {
    const Escaping plain{};
    const Escaping quotes{.inQuotes = true};
    const Escaping diffQuotes{.inQuotes = true, .quoteAsHex = true};
    const Escaping auditQuotes{.inQuotes = true, .quoteAsHex = true, .backslashAsHex = true};
    struct Case {
        std::string_view bytes;
        Escaping how;
        const char* shown;
    } cases[] = {
        {"", plain, ""},
        {"Plain text ~!", plain, "Plain text ~!"},
        {"a\\b", plain, "a\\\\b"},
        {"\\x41", plain, "\\\\x41"}, // typed escape text stays apart from an escaped byte
        {std::string_view("\0\t\n\x1F", 4), plain, "\\x00\\x09\\x0A\\x1F"},
        {"\x7F\x80\xE9\xFF", plain, "\\x7F\\x80\\xE9\\xFF"},
        {"", quotes, "\"\""},
        {"say \"hi\"\\\x1B", quotes, "\"say \"hi\"\\\\\\x1B\""},
        {"say \"hi\"\\\x1B", diffQuotes, "\"say \\x22hi\\x22\\\\\\x1B\""},
        {"say \"hi\"\\\x1B", auditQuotes, "\"say \\x22hi\\x22\\x5C\\x1B\""},
        {"\xFF~ ", auditQuotes, "\"\\xFF~ \""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(escapedBytes(c.bytes, c.how), c.shown) << c.shown;
}

TEST(EncodingTest, TellsUtf16AndLegacyCodePagesFromUtf8) {
    const struct {
        std::string bytes;
        TextEncoding encoding;
    } cases[] = {
        {"", TextEncoding::utf8},
        {"plain ASCII\r\n", TextEncoding::utf8},
        {"\xEF\xBB\xBFZo\xC3\xAB \xE2\x82\xAC \xF0\x9F\x98\x80", TextEncoding::utf8},
        {"cut at the end \xE2\x82", TextEncoding::legacy},
        {"\xFF\xFE"s, TextEncoding::utf16},
        {"\xFE\xFF\0a"s, TextEncoding::utf16},
        {"c\0o\0n\0n\0e\0c\0t\0 \0001\0"s, TextEncoding::utf16},
        {"one stray zero \0 in a line of text"s, TextEncoding::utf8},
        {"Ren\xE9", TextEncoding::legacy},
        {"Ren\xE9 and more", TextEncoding::legacy},
        {"overlong \xC0\xAF", TextEncoding::legacy},
        {"surrogate \xED\xA0\x80", TextEncoding::legacy},
        {"above U+10FFFF \xF4\x90\x80\x80", TextEncoding::legacy},
        {"lone continuation \x80", TextEncoding::legacy},
    };
    for (const auto& c : cases)
        EXPECT_EQ(guessEncoding(c.bytes), c.encoding) << testing::PrintToString(c.bytes);
    EXPECT_EQ(saveAsUtf8Advice("x.txt", TextEncoding::utf8), "");
    EXPECT_EQ(saveAsUtf8Advice("x.txt", TextEncoding::utf16),
              "x.txt is saved as UTF-16 (\"Unicode\"); save it as UTF-8 (in Notepad: File, Save "
              "As, Encoding: UTF-8)");
}
