#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_host.h"
#include "registry/password_hash.h"

namespace {

bool startsWith(const std::string& text, const std::string& prefix) {
    return text.compare(0, prefix.size(), prefix) == 0;
}

TEST(CommandLevels, WordsMatchExactlyOrNotAtAll) {
    const char* words[] = {"FREG",  "Freg",  "freqS", "ABOUT", "freg ",      " freg",     "fre",
                           "fregs", "!freg", "help",  "",      "freqkill\t", "FREQRESET", "mod"};
    for (const char* word : words) {
        FakeHost host;
        PlayerRecord& op = host.addPlayer("Op", 5);
        addFreq(host.registry, 100, op.name, hashPassword("pw", 2));
        host.command(op, word, "100:pw");
        EXPECT_TRUE(host.take().empty()) << "'" << word << "'";
        EXPECT_EQ(host.registry.freqs.count(), 1u) << "'" << word << "'";
    }
}

TEST(CommandLevels, MissingRecordsAndFieldsAreHandledQuietly) {
    FakeHost host;
    PlayerRecord& bob = host.addPlayer("Bob", 1);
    addFreq(host.registry, 100, bob.name, hashPassword("pw", 2));

    CommandRecord record{};
    record.word = "freqreset";
    record.argument = "";
    handleCommand(host.bot, host.registry, nullptr, &record);
    handleCommand(host.bot, host.registry, &bob, nullptr);
    handleHelp(host.bot, host.registry, nullptr, &record);
    handleHelp(host.bot, host.registry, &bob, nullptr);
    record.word = nullptr;
    handleCommand(host.bot, host.registry, &bob, &record);
    EXPECT_TRUE(host.take().empty());
    EXPECT_EQ(host.registry.freqs.count(), 1u);

    // A missing argument reads as an empty one.
    record.argument = nullptr;
    record.word = "freg";
    handleCommand(host.bot, host.registry, &bob, &record);
    EXPECT_EQ(host.take(), Lines{"Bob: Invalid syntax"});
    record.word = "freqs";
    handleCommand(host.bot, host.registry, &bob, &record);
    ASSERT_EQ(host.take().size(), 1u);
    handleHelp(host.bot, host.registry, &bob, &record);
    EXPECT_EQ(host.take().size(), 4u);
}

struct SplitCase {
    const char* argument;
    ColonRule rule;
    bool ok;
    int32_t freq;
    const char* rest;
};

TEST(SplitFreqArgument, Table) {
    using enum ColonRule;
    const SplitCase cases[] = {
        {"100:pw", Strict, true, 100, "pw"},
        {"100:pw", Lenient, true, 100, "pw"},
        {"", Strict, false, 0, ""},
        {"", Lenient, false, 0, ""},
        {"100", Lenient, false, 0, ""},
        {"100 pw", Lenient, false, 0, ""},
        // A colon at the very end: only the lenient form takes it.
        {"100:", Strict, false, 0, ""},
        {"100:", Lenient, true, 100, ""},
        // Spaces after it make it not the last character.
        {"100:   ", Strict, true, 100, ""},
        {"100 : ", Strict, true, 100, ""},
        {" 100 :Red Team", Strict, true, 100, "Red Team"},
        {"100:  Red Team  ", Strict, true, 100, "Red Team"},
        {"1x0:abc", Strict, false, 0, ""},
        {"10 0:abc", Strict, false, 0, ""},
        {":abc", Strict, false, 0, ""},
        {":abc", Lenient, false, 0, ""},
        {" : ", Lenient, false, 0, ""},
        {"a:b:c", Lenient, false, 0, ""},
        {"100:b:c", Strict, true, 100, "b:c"},
        {"100::", Strict, true, 100, ":"},
        {"100:Hi %name%: welcome", Lenient, true, 100, "Hi %name%: welcome"},
        // Only spaces are trimmed.
        {"\t100:x", Strict, false, 0, ""},
        {"100\t:x", Strict, false, 0, ""},
        {"100:\tx\t", Strict, true, 100, "\tx\t"},
        {"-5:x", Strict, true, -5, "x"},
        {"-0:x", Strict, true, 0, "x"},
        {"007:x", Strict, true, 7, "x"},
        {"+5:x", Strict, false, 0, ""},
        {"-:x", Strict, false, 0, ""},
        {"--5:x", Strict, false, 0, ""},
        {"- 5:x", Strict, false, 0, ""},
        // Numbers wrap in 32 bits.
        {"4294967396:x", Strict, true, 100, "x"},
        {"2147483648:x", Strict, true, int32_t(0x80000000u), "x"},
        {"99999999999:x", Strict, true, 1215752191, "x"},
        {"-4294967295:x", Strict, true, 1, "x"},
    };
    for (const SplitCase& c : cases) {
        FreqArgument result;
        bool ok = splitFreqArgument(c.argument, c.rule, result);
        const char* rule = c.rule == Strict ? "strict" : "lenient";
        ASSERT_EQ(ok, c.ok) << "'" << c.argument << "' " << rule;
        if (!ok) continue;
        EXPECT_EQ(result.freq, c.freq) << "'" << c.argument << "'";
        EXPECT_EQ(std::string(result.rest.view()), c.rest) << "'" << c.argument << "'";
        EXPECT_EQ(result.rest.data[result.rest.length], 0) << "'" << c.argument << "'";
    }
}

// Whether the freq typed is outside 32 bits, so that its wrapped value is
// not what the player meant.
TEST(SplitFreqArgument, TellsAFreqOutside32Bits) {
    const struct {
        const char* argument;
        bool wrapped;
    } cases[] = {
        {"2147483647:x", false},
        {"2147483648:x", true},
        {"-2147483648:x", false},
        {"-2147483649:x", true},
        {"4294967396:x", true},
        {"00000000000000000000000100:x", false},
        {"-0:x", false},
        {"18446744073709551615:x", true},
        {"99999999999999999999999:x", true},
        {"-99999999999999999999999:x", true},
    };
    for (const auto& c : cases) {
        FreqArgument result;
        ASSERT_TRUE(splitFreqArgument(c.argument, ColonRule::Strict, result)) << c.argument;
        EXPECT_EQ(result.wrapped, c.wrapped) << c.argument;
    }
}

TEST(SplitFreqArgument, RestIsCutAt32000Characters) {
    std::string argument = "100:" + std::string(40000, 'p');
    FreqArgument result;
    ASSERT_TRUE(splitFreqArgument(argument.c_str(), ColonRule::Strict, result));
    EXPECT_EQ(result.rest.length, 32000u);
}

// The rest is cut first and trimmed after, so spaces inside the first 32000
// characters count against the cut, and the cut may end in spaces to trim.
TEST(SplitFreqArgument, RestIsCutBeforeItIsTrimmed) {
    const struct {
        std::string rest;
        std::string expected;
    } cases[] = {
        {std::string(5, ' ') + std::string(40000, 'p'), std::string(31995, 'p')},
        {std::string(31998, 'p') + "   q", std::string(31998, 'p')},
        {std::string(32000, ' ') + "p", ""},
    };
    for (const auto& c : cases) {
        std::string argument = "100:" + c.rest;
        FreqArgument result;
        ASSERT_TRUE(splitFreqArgument(argument.c_str(), ColonRule::Lenient, result));
        EXPECT_EQ(std::string(result.rest.view()), c.expected) << c.rest.size();
        EXPECT_EQ(result.rest.data[result.rest.length], 0);
    }
}

TEST(FindPlayerByName, IgnoresAsciiCaseOnlyAndWantsTheWholeName) {
    FakeHost host;
    PlayerRecord& bob = host.addPlayer("Bob");
    PlayerRecord& eric = host.addPlayer("\xC4ric");
    EXPECT_EQ(findPlayerByName(host.bot, "bOB"), &bob);
    EXPECT_EQ(findPlayerByName(host.bot, "Bob"), &bob);
    EXPECT_EQ(findPlayerByName(host.bot, "\xC4RIC"), &eric);
    EXPECT_EQ(findPlayerByName(host.bot, "\xE4ric"), nullptr);
    EXPECT_EQ(findPlayerByName(host.bot, "Bo"), nullptr);
    EXPECT_EQ(findPlayerByName(host.bot, "Bob "), nullptr);
    EXPECT_EQ(findPlayerByName(host.bot, ""), nullptr);
}

TEST(FindPlayerByName, FirstFromTheHeadOfTheList) {
    FakeHost host;
    host.addPlayer("bob");
    // The fake host puts each new player at the head of its list.
    PlayerRecord& head = host.addPlayer("BOB");
    EXPECT_EQ(findPlayerByName(host.bot, "Bob"), &head);
}

TEST(FindPlayerByName, NobodyBeforeTheHostGaveAList) {
    FakeHost host;
    host.addPlayer("Bob");
    host.bot.playerList = nullptr;
    EXPECT_EQ(findPlayerByName(host.bot, "Bob"), nullptr);

    FakeHost empty;
    EXPECT_EQ(findPlayerByName(empty.bot, "Bob"), nullptr);
}

TEST(FindPlayerByName, TwentyByteNameIsReadWithinItsField) {
    FakeHost host;
    // The name fills its field, so the squad's bytes follow it directly.
    PlayerRecord& full = host.addPlayer("ABCDEFGHIJKLMNOPQRST", 0, "Z");
    EXPECT_EQ(findPlayerByName(host.bot, "abcdefghijklmnopqrst"), &full);
    EXPECT_EQ(findPlayerByName(host.bot, "ABCDEFGHIJKLMNOPQRSTZ"), nullptr);
    EXPECT_EQ(findPlayerByName(host.bot, "ABCDEFGHIJKLMNOPQRS"), nullptr);
}

// What players can type that no command expects: each command answers it with
// one of its usual replies (or not at all, as for an unknown word), and never
// reads outside what was given.
class BadInput : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    FakeHost host;
    PlayerRecord& op = host.addPlayer("Op", 1);
    PlayerRecord& bob = host.addPlayer("Bob", 0, "", 100);
    FreqRecord* r = addFreq(host.registry, 100, op.name, hashPassword("pw", 2));
};

TEST_F(BadInput, OneMegabyteArguments) {
    const std::string big(1 << 20, 'x');
    const std::string bigRest = "100:" + big;
    struct Case {
        const char* word;
        const std::string& argument;
        Lines expected;
    } cases[] = {
        {"freg", big, {"Op: Invalid syntax"}},
        {"funreg", big, {"Op: Invalid syntax"}},
        {"fname", bigRest, {"Op: Freq name changed"}},
        {"fsquad", bigRest, {"Op: Allowed squad changed"}},
        {"fwelc", bigRest, {"Op: Freq welcome message changed"}},
        {"fjoin", bigRest, {"Op: Invalid password"}},
        {"finv", bigRest, {"Op: The other player must be in the arena"}},
        {"fkick", bigRest, {"Op: Player not found"}},
        {"fgrant", bigRest, {"Op: The other player must be in the arena"}},
        {"freqkill", big, {"Op: All freqs owned by that used have been deleted"}},
        {"fjoin", big, {"Op: Invalid syntax"}},
    };
    for (const Case& c : cases) {
        host.command(op, c.word, c.argument.c_str());
        EXPECT_EQ(host.take(), c.expected) << c.word;
    }
    EXPECT_EQ(fieldOf(r->freqName), big.substr(0, 31));
    EXPECT_EQ(fieldOf(r->allowedSquad), big.substr(0, 19));
    EXPECT_EQ(fieldOf(r->welcome), big.substr(0, 199));
    EXPECT_EQ(host.registry.freqs.count(), 1u);

    host.help(op, big.c_str());
    host.command(op, "freqs", big.c_str());
    Lines sent = host.take();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_TRUE(startsWith(sent[0], "Op: 100  [Op]")) << sent[0];

    // A password is hashed from the same bounded rest on every command.
    host.command(op, "fpass", bigRest.c_str());
    host.command(bob, "fjoin", bigRest.c_str());
    EXPECT_EQ(
        host.take(),
        (Lines{"Op: Freq password changed",
               "Bob: You have 30 seconds to join the freq. After that you must !fjoin again"}));
}

TEST_F(BadInput, HighAndControlBytesAreKeptAsTyped) {
    std::string high = "100:";
    for (int b = 128; b <= 255; ++b)
        high += char(b);
    host.command(op, "fname", high.c_str());
    EXPECT_EQ(fieldOf(r->freqName), high.substr(4, 31));

    const std::string control = "100:\x01\x07\x1b[0m\x7f";
    host.command(op, "fwelc", control.c_str());
    EXPECT_EQ(fieldOf(r->welcome), control.substr(4));
    EXPECT_EQ(host.take(), (Lines{"Op: Freq name changed", "Op: Freq welcome message changed"}));

    // The freq text accepts nothing but digits, whatever the byte.
    const char* notNumbers[] = {"\xb9\xb2\xb3:x", "100\x7f:x",
                                "\x01"
                                "100:x"};
    for (const char* argument : notNumbers) {
        host.command(op, "fname", argument);
        EXPECT_EQ(host.take(), Lines{"Op: Invalid syntax"}) << argument;
    }
    EXPECT_EQ(fieldOf(r->freqName), high.substr(4, 31));
}

TEST_F(BadInput, OddNumbers) {
    struct Case {
        const char* word;
        const char* argument;
        const char* reply;
    } cases[] = {
        {"fname", "-5:x", "Op: That freq is not registered"},
        {"fname", "99999999999:x", "Op: That freq is not registered"},
        {"funreg", "-5", "Op: That freq is not registered"},
        {"funreg", "99999999999", "Op: That freq is not registered"},
        {"funreg", "--5", "Op: Invalid syntax"},
        {"funreg", "+100", "Op: Invalid syntax"},
        // Freq numbers are looked up by their low 16 bits.
        {"fname", "4294967396:Wrapped", "Op: Freq name changed"},
    };
    for (const Case& c : cases) {
        host.command(op, c.word, c.argument);
        EXPECT_EQ(host.take(), Lines{c.reply}) << c.word << " " << c.argument;
    }
    EXPECT_EQ(fieldOf(r->freqName), "Wrapped");
    EXPECT_EQ(host.registry.freqs.count(), 1u);
}

} // namespace
