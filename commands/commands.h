// The command handlers, one file each: !<word> is handle<Word> in
// commands/<word>.cpp, except the four that set one field of an owned freq
// (!fname, !fsquad, !fwelc, !fpass): they share handleSetField in
// commands/set_field.cpp, and their rows say which field. The dispatch has
// already run the checks of the command's row (commands/command_table.cpp):
// the argument is read into context.typed, and context.record is the
// registered freq when the row checks one.
#pragma once

#include "commands/dispatch.h"

void handleAbout(const CommandContext& context);
void handleFreg(const CommandContext& context);
void handleFunreg(const CommandContext& context);
void handleFreqs(const CommandContext& context);
void handleFjoin(const CommandContext& context);
void handleFkick(const CommandContext& context);
void handleFgrant(const CommandContext& context);
void handleFinv(const CommandContext& context);
void handleFreqkill(const CommandContext& context);
void handleFreqreset(const CommandContext& context);
void handleSetField(const CommandContext& context);

// The freg topic's last line quotes the live limit.
void helpFregLimit(const CommandContext& context);
