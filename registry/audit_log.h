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

#include "platform/platform.h"
#include "registry/refusal_counts.h"
#include "text/text.h"

extern const char auditLogFileName[];
constexpr long auditLogRotateBytes = 1L << 20;
constexpr int auditLogGenerations = 5;
// While the log cannot be rotated it grows on up to this, and then stops:
// a generation is never overwritten to make room.
constexpr long auditLogLimitBytes = 2 * auditLogRotateBytes;
// Where the lines that players' repeats may not push out (an operator's, a
// registration, an unregistration, a hand-over, the plug-in's and the
// tool's own) go when the oldest generation is removed; it keeps at least
// the newest auditLogKeptBytes of them, as many as the generations hold, and
// past that a level-0 player's go first, so that no player's flood pushes
// out another's line.
constexpr char auditLogKeptSuffix[] = ".kept";
constexpr long auditLogKeptBytes = (auditLogGenerations + 1) * auditLogRotateBytes;

// What went wrong with the log, kept until the operator has been told. The
// log is written from every command, which has no one to tell but the
// player, so the problem waits for the next connection. A spell lasts until
// a line is written with nothing wrong; the same trouble within it is told
// once.
struct AuditLogTrouble {
    bool inSpell = false;
    std::string spellText;
    std::string pending;
};

// A write cut short may have left part of a line at the end of the file,
// which was cutSize bytes long, ending with a whole line, before it: the next
// line ends that part first.
struct AuditLogCutTail {
    bool possible = false;
    uint64_t cutSize = 0;
};

// The log's file as it is held: open between lines, so that a line costs one
// write. A line written is unflushed until a flush makes it durable, and no
// close forgets it: a file whose flush fails at its close is held on in
// `left` until a later flush gets through. `namesUnflushed` says the file
// was made, or the generations moved, since the folder was last flushed, so
// that the name of a durable line is durable too.
struct AuditLogFile {
    AppendableFile open;         // open while handle >= 0
    bool linesUnflushed = false; // lines written to `open` since its last flush
    AppendableFile left;         // closed off, its lines not yet flushed
    bool namesUnflushed = false;
};

// One log's state: where it goes, its troubles, a cut line to end, the
// counts of repeated lines, and its file. The plug-in keeps one in its
// process state; a tool makes one for the line it writes. The file is
// flushed and closed when it ends.
struct AuditLog {
    // The log is the file `name` in `folder`, which is held by another (the
    // store, or a tool) and reached through its handle, so that it is always
    // the folder the registry and its lock are in, whatever becomes of the
    // folder's name. Until set: hadrok.log in the current directory. An empty
    // name: a process that must write none, as one that does not hold the
    // registry.
    Folder folder;
    std::string name = auditLogFileName;
    AuditLogTrouble trouble;
    AuditLogCutTail cut;
    RefusalCounts counts;
    AuditLogFile file;
    uint32_t lookedAtTick = 0; // when the name was last checked to lead to the file
    // False for a tool that writes a line without the registry's lock: the
    // lock's holder, a host perhaps, rotates; the tool only appends.
    bool mayRotate = true;

    AuditLog() = default;
    AuditLog(const AuditLog&) = delete;
    AuditLog& operator=(const AuditLog&) = delete;
    ~AuditLog();
};

// Where the log goes from now on (an empty name: nowhere); the lines of the
// log before are flushed first, and its counts and troubles forgotten. The
// folder must stay open while the log is set to it.
void setAuditLogFile(AuditLog& log, const Folder& folder, std::string name);

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
void auditLog(AuditLog& log, const AuditActor& actor, const char* command, int32_t freq,
              std::string_view change);

// One line of the registry tool, run by the system user userName, in the
// same form, whole and rotated like the plug-in's own.
void auditToolLine(AuditLog& log, std::string_view userName, const char* command, int32_t freq,
                   std::string_view change);

// A wrong !fjoin password: the player's first in a minute is written in
// full, the rest of the minute counted and written as one line when it is
// over (refusal_counts.h).
void auditWrongPassword(AuditLog& log, const AuditActor& actor, int32_t freq);

// A line that a level-0 player can repeat at will: his first few of the
// kind in a minute are written in full (`change`, as auditLog would), the
// rest counted into one line when the minute is over. `last` is what it set,
// named in that line. An operator's are always written in full.
void auditRepeat(AuditLog& log, const AuditActor& actor, RepeatKind kind, int32_t freq,
                 std::string_view change, std::string_view last = {});

// Writes the counts whose minute is over; called at every tick. About once a
// second it also looks whether the log's name still leads to the file held
// open (moved or replaced from outside: the next line opens it anew).
void auditLogTick(AuditLog& log);

// The same look at once, and the size the file has now, for a file that may
// have been changed from outside.
void lookAtAuditLogFile(AuditLog& log);

// Flushes the lines written so far to the disk, and the folder when the
// file is new or was rotated, before a save of the registry that they
// describe: a power cut never keeps a change without its line. A failure is
// a trouble told like the others. True when every line written is durable.
bool flushAuditLog(AuditLog& log);

// Writes every count now, at unload.
void endAuditLog(AuditLog& log);

// A problem with the log that the operator has not yet been told, in one
// line, or empty. A spell of trouble is given once; after the log has worked
// again, the next one is given again.
std::string auditLogProblem(AuditLog& log);

// A stored time as the log writes it: local YYYY-MM-DD HH:MM:SS.
Text auditTimeText(int64_t seconds);

// A name or text as it goes into the log: in double quotes, with every byte
// that could break or forge a line (controls, quotes, 128-255) written as
// \xNN; a backslash as itself, unless an "x" follows it (then \x5C).
Text auditQuote(std::string_view text);
