// The checks every command shares, run over every row of the command table:
// who may use it, what its argument must look like, and what the typed freq
// must be before the command does anything. A row added to the table is
// checked here without a line of its own; the rows players know today are
// also held to the forms they have always had.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "commands/command_table.h"
#include "fake_clock.h"
#include "fake_host.h"
#include "registry/password_hash.h"

namespace {

enum class Colon { None, Strict, Lenient };

// What a player can tell of a command's shared checks.
struct Checks {
    bool operatorsOnly;
    Colon colon;
    FreqCheck freq;
};

struct Known {
    const char* word;
    Checks checks;
};

// The commands as players have always used them: a row that changes one of
// these changes what players see, and fails here.
const Known knownCommands[] = {
    {"freqkill", {true, Colon::None, FreqCheck::None}},
    {"freqreset", {true, Colon::None, FreqCheck::None}},
    {"about", {false, Colon::None, FreqCheck::None}},
    {"freg", {false, Colon::Strict, FreqCheck::None}},
    {"funreg", {false, Colon::None, FreqCheck::OwnedOrOperator}},
    {"freqs", {false, Colon::None, FreqCheck::None}},
    {"fname", {false, Colon::Strict, FreqCheck::Owned}},
    {"fjoin", {false, Colon::Strict, FreqCheck::Registered}},
    {"fkick", {false, Colon::Strict, FreqCheck::Owned}},
    {"fpass", {false, Colon::Strict, FreqCheck::Owned}},
    {"fsquad", {false, Colon::Lenient, FreqCheck::Owned}},
    {"fgrant", {false, Colon::Lenient, FreqCheck::Owned}},
    {"fwelc", {false, Colon::Lenient, FreqCheck::Owned}},
    {"finv", {false, Colon::Lenient, FreqCheck::Owned}},
};

// A new row is held to what it declares.
Checks checksOf(const CommandRow& row) {
    for (const Known& known : knownCommands)
        if (std::string(known.word) == row.word) return known.checks;
    Colon colon = row.argument == ArgumentForm::StrictColon    ? Colon::Strict
                  : row.argument == ArgumentForm::LenientColon ? Colon::Lenient
                                                               : Colon::None;
    return {row.level == Access::Operators, colon, row.check};
}

const char* const sharedFailures[] = {"Invalid syntax", "That freq is not registered",
                                      "You are not the owner of that freq"};

// Freq 100 owned by "Owner" (password "pw") with an invite pending, and a
// few players around it; every probe starts from this.
struct Arena {
    FakeHost host;
    PlayerRecord& owner;
    PlayerRecord& bob = host.addPlayer("Bob", 0, "", 100);
    PlayerRecord& op = host.addPlayer("Op", 5, "", 100);

    explicit Arena(uint32_t ownerLevel = 0) : owner(host.addPlayer("Owner", ownerLevel)) {
        resetClock();
        FreqRecord* r = addFreq(host.registry, 100, owner.name, hashPassword("pw", 2));
        setTextField(r->freqName, "Reds");
        setTextField(r->allowedSquad, "Sq");
        setTextField(r->welcome, "Hi");
        r->lastUsed = 7;
        addInvite(host.registry, 100, "Carl");
    }

    // Every byte of every record and invite, in order.
    std::string registryBytes() {
        std::string bytes;
        for (FreqRecord* r = host.registry.freqs.first(); r; r = host.registry.freqs.next(r))
            bytes.append(reinterpret_cast<const char*>(r), sizeof *r);
        for (FreqInvite* i = host.registry.invites.first(); i; i = host.registry.invites.next(i))
            bytes.append(reinterpret_cast<const char*>(i), sizeof *i);
        return bytes;
    }

    // The replies, without the "Name: " in front.
    Lines run(const PlayerRecord& who, const char* word, const std::string& argument) {
        host.take();
        host.command(who, word, argument.c_str());
        Lines replies;
        const std::string to = std::string(fieldOf(who.name)) + ": ";
        for (const std::string& line : host.take())
            replies.push_back(line.compare(0, to.size(), to) == 0 ? line.substr(to.size()) : line);
        return replies;
    }
};

bool holds(const Lines& lines, const char* line) {
    for (const std::string& l : lines)
        if (l == line) return true;
    return false;
}

// An argument that passes every shared check when the owner of 100 types it.
std::string validArgument(const CommandRow& row, const Checks& checks) {
    if (checks.colon != Colon::None) return "100:x";
    if (checks.freq != FreqCheck::None || row.argument == ArgumentForm::FreqNumber) return "100";
    return row.argument == ArgumentForm::Whole ? "Nobody" : "";
}

// The argument form as the command's help shows it: " <freq>:<...>",
// " <freq>", " <...>" or nothing.
std::string shownForm(const CommandRow& row) {
    Arena arena(1);
    arena.host.help(arena.owner, row.word);
    Lines topic = arena.host.take();
    const std::string syntax = "Owner: Syntax: !" + std::string(row.word);
    if (topic.size() < 2 || topic[1].compare(0, syntax.size(), syntax) != 0) return "(no syntax)";
    return topic[1].substr(syntax.size());
}

std::string described(const CommandRow& row, const std::string& argument) {
    return "!" + std::string(row.word) + " '" + argument + "'";
}

// Levels 0 to 12 may use the player commands, 1 to 12 the operator commands,
// and nobody above 12 gets anything at all.
TEST(CommandRows, EachLevelIsAnsweredOrIgnored) {
    const uint32_t levels[] = {0, 1, 2, 5, 12, 13, 100, 4294967295u};
    for (const CommandRow& row : commandTable) {
        const Checks checks = checksOf(row);
        const std::string argument = validArgument(row, checks);
        for (uint32_t level : levels) {
            Arena arena(level);
            const std::string before = arena.registryBytes();
            const Lines replies = arena.run(arena.owner, row.word, argument);
            const bool allowed = level <= 12 && (level >= 1 || !checks.operatorsOnly);
            if (!allowed) {
                EXPECT_EQ(replies, Lines{}) << described(row, argument) << " level " << level;
                EXPECT_EQ(arena.registryBytes(), before) << row.word << " level " << level;
                continue;
            }
            EXPECT_FALSE(replies.empty()) << described(row, argument) << " level " << level;
            for (const char* failure : sharedFailures)
                EXPECT_FALSE(holds(replies, failure))
                    << described(row, argument) << " level " << level << ": " << failure;
        }
    }
}

// An argument that breaks the form the help shows is answered "Invalid
// syntax" and changes nothing, ahead of the freq's checks: the one typing is
// an operator who owns nothing, and the freqs typed are not registered.
TEST(CommandRows, ArgumentsOutsideTheShownFormAreInvalidSyntax) {
    const std::vector<std::string> notAFreqNumber = {"",     "1x",  "100 ", " 100", "100:", "100:x",
                                                     "+100", "--5", "-",    "1e2",  "10 0", "abc"};
    const std::vector<std::string> notFreqColonRest = {"",
                                                       "100",
                                                       "100 x",
                                                       "555 x",
                                                       ":x",
                                                       "x:y",
                                                       "1 0:y",
                                                       " : ",
                                                       "a:b:c",
                                                       "1x0:abc",
                                                       "-:x",
                                                       "+5:x",
                                                       "--5:x",
                                                       "- 5:x",
                                                       "\t100:x",
                                                       "100\t:x",
                                                       "\x01"
                                                       "100:x",
                                                       "\xb9\xb2\xb3:x"};
    for (const CommandRow& row : commandTable) {
        const Checks checks = checksOf(row);
        const std::string form = shownForm(row);
        std::vector<std::string> broken;
        if (checks.colon != Colon::None) {
            EXPECT_EQ(form.compare(0, 9, " <freq>:<"), 0) << row.word << form;
            broken = notFreqColonRest;
            if (checks.colon == Colon::Strict) broken.push_back("555:");
        } else if (form == " <freq>") {
            broken = notAFreqNumber;
        } else if (!form.empty()) {
            EXPECT_EQ(form.compare(0, 2, " <"), 0) << row.word << form;
            broken = {""};
        }
        for (const std::string& argument : broken) {
            Arena arena;
            const std::string before = arena.registryBytes();
            EXPECT_EQ(arena.run(arena.op, row.word, argument), Lines{"Invalid syntax"})
                << described(row, argument);
            EXPECT_EQ(arena.registryBytes(), before) << described(row, argument);
        }
        if (form.empty()) {
            // A command shown without an argument takes any.
            Arena arena;
            EXPECT_FALSE(holds(arena.run(arena.op, row.word, "1x:y z"), "Invalid syntax"))
                << row.word;
        }
    }
}

// What the colon forms accept: a rest of spaces passes the strict form, the
// lenient one also takes nothing at all after the colon, and later colons
// and the spaces around the number are the command's own business.
TEST(CommandRows, ColonFormsAcceptWhatTheyShould) {
    const std::vector<std::string> accepted = {"100:   ", " 100 : x ", "100:a:b", "0100:x",
                                               "4294967396:x"};
    for (const CommandRow& row : commandTable) {
        const Checks checks = checksOf(row);
        if (checks.colon == Colon::None) continue;
        std::vector<std::string> arguments = accepted;
        if (checks.colon == Colon::Lenient) arguments.push_back("100:");
        for (const std::string& argument : arguments) {
            Arena arena;
            EXPECT_FALSE(holds(arena.run(arena.owner, row.word, argument), "Invalid syntax"))
                << described(row, argument);
        }
    }
}

// A typed freq that must be registered and is not: "That freq is not
// registered", even from an operator, and nothing changes. Numbers are
// looked up by their low 16 bits, so 65636 finds freq 100.
TEST(CommandRows, UnregisteredFreqsAreRefused) {
    for (const CommandRow& row : commandTable) {
        const Checks checks = checksOf(row);
        const bool colon = checks.colon != Colon::None;
        for (const char* freq : {"555", "-100", "99999999999"}) {
            const std::string argument = std::string(freq) + (colon ? ":x" : "");
            Arena arena;
            const std::string before = arena.registryBytes();
            const Lines replies = arena.run(arena.owner, row.word, argument);
            if (checks.freq == FreqCheck::None) {
                EXPECT_FALSE(holds(replies, "That freq is not registered"))
                    << described(row, argument);
                continue;
            }
            EXPECT_EQ(replies, Lines{"That freq is not registered"}) << described(row, argument);
            EXPECT_EQ(arena.registryBytes(), before) << described(row, argument);
            EXPECT_EQ(arena.run(arena.op, row.word, argument), Lines{"That freq is not registered"})
                << described(row, argument);
        }
        if (checks.freq != FreqCheck::None) {
            const std::string wrapped = colon ? "65636:x" : "65636";
            Arena arena;
            EXPECT_FALSE(
                holds(arena.run(arena.owner, row.word, wrapped), "That freq is not registered"))
                << described(row, wrapped);
        }
    }
}

// Who passes the owner test: the owner, by his name in any ASCII case; an
// operator only where the command lets operators act on any freq.
TEST(CommandRows, OnlyTheOwnerPassesTheOwnerTest) {
    const char* notOwner = "You are not the owner of that freq";
    for (const CommandRow& row : commandTable) {
        const Checks checks = checksOf(row);
        const std::string argument = validArgument(row, checks);
        if (checks.operatorsOnly) continue;
        const bool owned =
            checks.freq == FreqCheck::Owned || checks.freq == FreqCheck::OwnedOrOperator;

        Arena arena;
        const std::string before = arena.registryBytes();
        const Lines bob = arena.run(arena.bob, row.word, argument);
        if (owned) {
            EXPECT_EQ(bob, Lines{notOwner}) << described(row, argument);
            EXPECT_EQ(arena.registryBytes(), before) << described(row, argument);
        } else {
            EXPECT_FALSE(holds(bob, notOwner)) << described(row, argument);
        }

        Arena withOperator;
        const std::string untouched = withOperator.registryBytes();
        const Lines op = withOperator.run(withOperator.op, row.word, argument);
        if (checks.freq == FreqCheck::Owned) {
            EXPECT_EQ(op, Lines{notOwner}) << described(row, argument) << " by an operator";
            EXPECT_EQ(withOperator.registryBytes(), untouched) << described(row, argument);
        } else {
            EXPECT_FALSE(holds(op, notOwner)) << described(row, argument) << " by an operator";
        }

        Arena otherCase;
        PlayerRecord& sameName = otherCase.host.addPlayer("oWNER");
        const Lines same = otherCase.run(sameName, row.word, argument);
        EXPECT_FALSE(same.empty()) << described(row, argument);
        EXPECT_FALSE(holds(same, notOwner)) << described(row, argument) << " as oWNER";
    }
}

// The commands players know are all still in the table.
TEST(CommandRows, EveryKnownCommandHasARow) {
    for (const Known& known : knownCommands) {
        bool found = false;
        for (const CommandRow& row : commandTable)
            found = found || std::string(row.word) == known.word;
        EXPECT_TRUE(found) << known.word;
    }
}

} // namespace
