// The commands, one row each. A row holds all that the dispatch and the help
// know of a command: who may run it, how its argument is read, which checks
// run before its handler, and its help, whose "Syntax:" line is made from the
// same argument form that the dispatch reads, so the two cannot disagree.
// The table's order is the dispatch order and the order of the help's lists.
#pragma once

#include <span>

#include "commands/dispatch.h"

enum class Access {
    Operators, // levels 1 to 12
    Everyone,  // levels 0 to 12
};

// How the argument is read before the handler runs; a malformed one is
// answered "Invalid syntax".
enum class ArgumentForm {
    Ignored,      // anything typed is ignored
    Whole,        // the whole argument as typed, which must not be empty
    FreqNumber,   // the whole argument is a freq number, nothing else
    StrictColon,  // "<freq>:<rest>", with something after the colon
    LenientColon, // "<freq>:<rest>", the rest may be empty
};

// What the typed freq must be before the handler runs; the first check that
// fails replies and ends the command.
enum class FreqCheck {
    None,            // the handler judges the number itself, if there is one
    Registered,      // a registered freq: "That freq is not registered"
    Owned,           // ... owned by the commanding player: "You are not the owner of that freq"
    OwnedOrOperator, // ... unless the commanding player is an operator
};

// The field of the freq that a row run by handleSetField (commands/set_field.cpp)
// sets.
enum class RecordField { None, FreqName, AllowedSquad, Welcome, Password };

// Which line of the help's command list names the command.
enum class ListLine { OperatorLine, AboutLine, PlayerLine };

struct CommandRow {
    const char* word; // as typed after "!", compared exactly
    Access level;
    ArgumentForm argument = ArgumentForm::Ignored;
    const char* argumentName = nullptr; // the whole argument, or what follows "<freq>:"
    FreqCheck check = FreqCheck::None;
    void (*handler)(const CommandContext&) = nullptr;
    RecordField sets = RecordField::None; // for handleSetField
    const char* help = nullptr;           // the lines after the syntax line, parted by '\n'
    void (*helpLast)(const CommandContext&) = nullptr; // a last help line made when asked
    Access topicLevel = level;                         // who may read the help topic
    ListLine listLine = ListLine::PlayerLine;
};

extern const std::span<const CommandRow> commandTable;

inline bool mayUse(Access access, uint32_t level) {
    return access == Access::Everyone ? level <= highestServedLevel : isOperator(level);
}

// The first row whose word is `word` and which `level` may run; null when none.
const CommandRow* findCommand(std::string_view word, uint32_t level);

// "Syntax: !<word>" and the argument as the row reads it.
Text syntaxLine(const CommandRow& row);
