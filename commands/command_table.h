// The command table: the single source of truth for dispatch and for help.
// Its order is the dispatch order and the order of the help's command lists.
#pragma once

#include <cstddef>

#include "commands/command_input.h"

enum class Access {
    Operators, // levels 1 to 12
    Everyone,  // levels 0 to 12
};

// Which line of the help's command list names the command.
enum class ListLine { OperatorLine, AboutLine, PlayerLine };

struct CommandEntry {
    const char* word;
    Access access;
    void (*handler)(const CommandContext&);
    ListLine listLine;
    Access helpAccess;
    const char* const* helpLines; // null-terminated
    void (*helpExtra)(const CommandContext&);
};

extern const CommandEntry commandTable[];
extern const size_t commandCount;

inline bool mayUse(Access access, uint32_t level) {
    return access == Access::Everyone ? level <= highestServedLevel : isOperator(level);
}
