#include <gtest/gtest.h>

#include <cstring>
#include <regex>
#include <string>
#include <vector>

#include "fake_clock.h"
#include "fake_host.h"
#include "hadrok_version.h"

namespace {

Lines to(const std::string& who, const Lines& lines) {
    Lines out;
    for (const std::string& line : lines)
        out.push_back(who + ": " + line);
    return out;
}

std::string upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = char(c - 32);
    return text;
}

class Operators : public ::testing::Test {
  protected:
    void SetUp() override { resetClock(); }
    FakeHost host;

    FreqRecord* ownedBy(uint16_t freq, const char* name) {
        char field[20] = {};
        std::memcpy(field, name, std::strlen(name));
        return addFreq(host.registry, freq, field, 0);
    }
    std::vector<int> freqsLeft() {
        std::vector<int> out;
        for (FreqRecord* r = host.registry.freqs.first(); r; r = host.registry.freqs.next(r))
            out.push_back(r->freq);
        return out;
    }
};

TEST_F(Operators, FreqkillDeletesEveryFreqOfOneOwner) {
    PlayerRecord& op = host.addPlayer("Op", 1);
    ownedBy(100, "bob");
    ownedBy(200, "Alice");
    ownedBy(300, "BOB");
    ownedBy(400, "Bob");
    ownedBy(500, "bob ");
    addInvite(host.registry, 100, "Carl");
    const Lines deleted{"Op: All freqs owned by that used have been deleted"};

    // The name is used as delivered: the space is part of it.
    host.command(op, "freqkill", "bob ");
    EXPECT_EQ(host.take(), deleted);
    EXPECT_EQ(freqsLeft(), (std::vector<int>{100, 200, 300, 400}));
    host.command(op, "freqkill", " bob");
    EXPECT_EQ(host.take(), deleted);
    EXPECT_EQ(freqsLeft(), (std::vector<int>{100, 200, 300, 400}));

    // Nobody on the deleted freqs is told; their invitations stay.
    host.command(op, "freqkill", "BOB");
    EXPECT_EQ(host.take(), deleted);
    EXPECT_EQ(freqsLeft(), (std::vector<int>{200}));
    EXPECT_NE(findInvite(host.registry, 100, "Carl"), nullptr);

    host.command(op, "freqkill", "Nobody");
    EXPECT_EQ(host.take(), deleted);
    EXPECT_EQ(freqsLeft(), (std::vector<int>{200}));
}

TEST_F(Operators, FreqresetClearsFreqsAndInvites) {
    PlayerRecord& op = host.addPlayer("Op", 12);
    PlayerRecord& player = host.addPlayer("Player", 0);
    PlayerRecord& stranger = host.addPlayer("Stranger", 0);
    ownedBy(100, "Bob");
    ownedBy(200, "Alice");
    addInvite(host.registry, 100, "Carl");

    host.command(op, "freqreset", "whatever");
    EXPECT_EQ(host.take(), Lines{"Op: Freq database cleared"});
    EXPECT_EQ(host.registry.freqs.count(), 0u);
    EXPECT_EQ(host.registry.invites.count(), 0u);

    host.command(player, "freqs", "");
    host.changeFreq(stranger, 100);
    EXPECT_EQ(host.take(), Lines{"Player: There are no registered freqs"});

    // The registry works as before after a reset.
    PlayerRecord& bob = host.addPlayer("Bob");
    host.command(bob, "freg", "100:pw");
    EXPECT_EQ(host.take(), Lines{"Bob: Freq registered"});
}

TEST_F(Operators, AboutSaysWhoAnswers) {
    // The version the build was made with, its dots read as dots.
    const std::string version = std::regex_replace(HADROK_VERSION, std::regex(R"(\.)"), R"(\.)");
    const std::regex versionLine(
        R"("Hadrok" )" + version +
        R"( compiled on (Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) )"
        R"([ 1-3][0-9] [0-9]{4} [0-2][0-9]:[0-5][0-9]:[0-5][0-9])");
    for (uint32_t level : {0u, 1u, 12u}) {
        FakeHost h;
        PlayerRecord& p = h.addPlayer("P", level);
        h.command(p, "about", "ignored text");
        Lines sent = h.take();
        ASSERT_EQ(sent.size(), 3u) << level;
        ASSERT_EQ(sent[0].substr(0, 3), "P: ");
        EXPECT_TRUE(std::regex_match(sent[0].substr(3), versionLine)) << sent[0];
        EXPECT_EQ(sent[1], "P: DLL core version: 6.0");
        EXPECT_GT(sent[2].size(), 3u);
    }
}

// Every topic's lines, as a player reads them.
struct Topic {
    const char* word;
    Lines lines;
};

const Topic topics[] = {
    {"about", {"!about", "Syntax: !about", "Displays info about bot"}},
    {"freg",
     {"!freg", "Syntax: !freg <freq>:<password>",
      "Registers a freq in your name. Only people who you invite or who know the password can "
      "join it",
      "You can also set it so only a certain squad can join it", "Freq must be at least 100",
      "You can register a maximum of 3 freqs"}},
    {"funreg",
     {"!funreg", "Syntax: !funreg <freq>", "Unregisters a freq that you own",
      "Only the owner or an operator can unregister a freq"}},
    {"freqs", {"!freqs", "Syntax: !freqs", "Displays all registered freqs and their details"}},
    {"fname", {"!fname", "Syntax: !fname <freq>:<name>", "Sets the name of the freq"}},
    {"fjoin", {"!fjoin", "Syntax: !fjoin <freq>:<password>", "Invites you to the specified freq"}},
    {"fkick", {"!fkick", "Syntax: !fkick <freq>:<player name>", "Kicks a player from your freq"}},
    {"fpass", {"!fpass", "Syntax: !fpass <freq>:<password>", "Changes the password of a freq"}},
    {"fsquad",
     {"!fsquad", "Syntax: !fsquad <freq>:<squad>",
      "Allows all members of a squad to join the freq"}},
    {"fgrant",
     {"!fgrant", "Syntax: !fgrant <freq>:<player name>",
      "Gives ownership of a freq to another player", "The other player must be in the arena"}},
    {"fwelc",
     {"!fwelc", "Syntax: !fwelc <freq>:<welcome message>",
      "Changed the message said when a player joins a freq",
      "Macros: %name%   - Name of the player", "        %fnum%   - Freq number",
      "        %fname%  - Freq name", "        %fsquad% - The squad allowed on the freq",
      "        %sq%     - Squad of the player", "        %points% - Points of player"}},
    {"finv",
     {"!finv", "Syntax: !finv <freq>:<player name>", "Invites a player to a freq",
      "The player must be in the arena"}},
    {"freqreset", {"!freqreset", "Syntax: !freqreset", "Clears the freq database"}},
};

const Lines freqkillTopic{"!freqkill", "Syntax: !freqkill <owner name>",
                          "Deletes all freqs owned by the player"};

TEST_F(Operators, HelpTopicsForEveryLevel) {
    PlayerRecord& player = host.addPlayer("Player", 0);
    PlayerRecord& op = host.addPlayer("Op", 1);
    PlayerRecord& owner = host.addPlayer("Owner", 12);
    for (const Topic& t : topics) {
        for (PlayerRecord* p : {&player, &op, &owner}) {
            std::string who(fieldOf(p->name));
            host.help(*p, t.word);
            EXPECT_EQ(host.take(), to(who, t.lines)) << who << " " << t.word;
            // Topics ignore the case of their letters.
            host.help(*p, upper(t.word).c_str());
            EXPECT_EQ(host.take(), to(who, t.lines)) << who << " " << upper(t.word);
        }
    }
    host.help(op, "FreqKill");
    host.help(owner, "freqkill");
    Lines both = to("Op", freqkillTopic);
    Lines ownerLines = to("Owner", freqkillTopic);
    both.insert(both.end(), ownerLines.begin(), ownerLines.end());
    EXPECT_EQ(host.take(), both);

    host.help(player, "freqkill");
    EXPECT_TRUE(host.take().empty());
}

TEST_F(Operators, HelpFregQuotesTheCurrentLimit) {
    PlayerRecord& p = host.addPlayer("P");
    struct Case {
        uint32_t limit;
        const char* line;
    } cases[] = {
        {3, "P: You can register a maximum of 3 freqs"},
        {0, "P: You can register a maximum of 0 freqs"},
        {250, "P: You can register a maximum of 250 freqs"},
        {4294967295u, "P: You can register a maximum of -1 freqs"},
    };
    for (const Case& c : cases) {
        host.bot.iniConfig.maxOwnedFreqs = c.limit;
        host.help(p, "FReg");
        Lines sent = host.take();
        ASSERT_EQ(sent.size(), 6u);
        EXPECT_EQ(sent[5], c.line);
    }
}

TEST_F(Operators, HelpCommandList) {
    const Lines everyone{
        "!about", "!freg !funreg !freqs !fname !fjoin !fkick !fpass !fsquad !fgrant !fwelc !finv",
        "Send !help <command> for details. Registering too many freqs for no reason will be "
        "punished!"};
    Lines operators{"!freqkill !freqreset"};
    operators.insert(operators.end(), everyone.begin(), everyone.end());
    struct Case {
        uint32_t level;
        const Lines& lines;
    } cases[] = {{0, everyone}, {1, operators}, {2, operators}, {12, operators}};
    for (const Case& c : cases) {
        FakeHost h;
        PlayerRecord& p = h.addPlayer("P", c.level);
        h.help(p, "");
        EXPECT_EQ(h.take(), to("P", c.lines)) << c.level;
    }
}

TEST_F(Operators, HelpSilences) {
    PlayerRecord& op = host.addPlayer("Op", 2);
    const char* unknown[] = {"!freg", "mod",   "smod", "sop",  "owner",  "all",    " freg", "freg ",
                             "fre",   "fregs", "help", "free", "\tfreg", "freg\n", "FREQS!"};
    for (const char* topic : unknown) {
        host.help(op, topic);
        EXPECT_TRUE(host.take().empty()) << "'" << topic << "'";
    }
    for (uint32_t level : {13u, 100u, 4294967295u}) {
        PlayerRecord& above = host.addPlayer("Above", level);
        for (const char* topic : {"", "freg", "about", "freqreset", "freqkill"}) {
            host.help(above, topic);
            EXPECT_TRUE(host.take().empty()) << level << " '" << topic << "'";
        }
    }
    // A topic of bytes that no word has.
    std::string high;
    for (int b = 1; b <= 255; ++b)
        high += char(b);
    host.help(op, high.c_str());
    host.help(op, std::string(1 << 20, 'f').c_str());
    EXPECT_TRUE(host.take().empty());
}

} // namespace
