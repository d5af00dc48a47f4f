// The operators' record of every change to the registry: one line per change,
// appended to hadrok.log in the current directory and flushed at once.
// Logging never fails an event: a log that can't be written is skipped,
// and the operator is told at the next connection.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "text/text.h"

extern const char auditLogFileName[];
constexpr long auditLogRotateBytes = 1L << 20;
constexpr int auditLogGenerations = 5;

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

// A problem with the log that the operator has not yet been told, in one
// line, or empty; each problem is given once.
std::string auditLogProblem();

// A stored time as the log writes it: local YYYY-MM-DD HH:MM:SS.
Text auditTimeText(int64_t seconds);

// A name or text as it goes into the log: in double quotes, with every byte
// that could break or forge a line (controls, quotes, backslash, 128-255)
// written as \xNN.
Text auditQuote(std::string_view text);
