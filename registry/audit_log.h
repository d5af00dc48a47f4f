// The operators' record of every change to the registry: one line per change,
// appended to the log file (hadrok.log) and flushed at once. Only the process
// that holds the registry writes it. Logging never fails an event: a log that
// can't be written is skipped, and the operator is told at the next
// connection, once for each spell of trouble. A line is always whole: after a
// write cut short, the next line starts on a line of its own.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/text.h"

extern const char auditLogFileName[];
constexpr long auditLogRotateBytes = 1L << 20;
constexpr int auditLogGenerations = 5;
// While the log cannot be rotated it grows on up to this, and then stops:
// a generation is never overwritten to make room.
constexpr long auditLogLimitBytes = 2 * auditLogRotateBytes;

// Where the log goes from now on (hadrok.log in the current directory until
// set); empty for a process that must write none, as one that does not hold
// the registry. Forgets the counts and the troubles of the log before.
void setAuditLogFile(std::string path);
const std::string& auditLogFile();

// Who made a change: a bot and a player, or the plug-in itself (handle 0,
// no player) for saves and loads.
struct AuditActor {
    uint32_t handle = 0;
    bool hasPlayer = false;
    std::string_view playerName; // the name's bytes as the host holds them
    uint32_t playerLevel = 0;
    bool enabled = true; // the acting bot's AuditLog setting
};

// A bot acting with no player (handle 0: the plug-in itself), for saves and loads.
inline AuditActor actorWithoutPlayer(uint32_t handle, bool enabled) {
    AuditActor actor;
    actor.handle = handle;
    actor.enabled = enabled;
    return actor;
}

constexpr int32_t noFreq = -1;

// Appends one line: local date and time, bot, player and level, command, freq
// and what changed. Names and texts in `change` must already be quoted with
// auditQuote.
void auditLog(const AuditActor& actor, const char* command, int32_t freq, std::string_view change);

// A wrong !fjoin password: the player's first in a minute is written in
// full, the rest of the minute counted and written as one line when it is
// over (refusal_counts.h).
void auditWrongPassword(const AuditActor& actor, int32_t freq);

// Writes the counts whose minute is over; called at every tick.
void auditLogTick();

// Writes every count now, at unload.
void endAuditLog();

// A problem with the log that the operator has not yet been told, in one
// line, or empty. A spell of trouble is given once; after the log has worked
// again, the next one is given again.
std::string auditLogProblem();

// A stored time as the log writes it: local YYYY-MM-DD HH:MM:SS.
Text auditTimeText(int64_t seconds);

// A name or text as it goes into the log: in double quotes, with every byte
// that could break or forge a line (controls, quotes, backslash, 128-255)
// written as \xNN.
Text auditQuote(std::string_view text);
