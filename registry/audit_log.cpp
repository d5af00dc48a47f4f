#include "registry/audit_log.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
#include "registry/audit_log_rooms.h"
#include "registry/refusal_counts.h"
#include "text/ascii.h"
#include "text/date_time.h"
#include "text/number.h"

const char auditLogFileName[] = "hadrok.log";

Text auditTimeText(int64_t seconds) {
    std::tm local{};
    if (!localTimeOf(seconds, local)) return Text("(no time)");
    return Text(std::string_view(stampText(local, "%Y-%m-%d %H:%M:%S")));
}

namespace {

// Appends one whole line (ending in a newline) to the log. The file stays
// open: a line is one write, unless the log is due to rotate.
void writeLine(AuditLog& log, const Text& line) {
    if (log.name.empty()) return;
    std::string rotationTrouble;
    OpenResult opened = OpenResult::opened;
    openLogFile(log, opened);
    if (opened == OpenResult::opened && log.mayRotate &&
        log.file.open.size >= uint64_t(auditLogRotateBytes)) {
        std::string reason;
        if (!rotateLog(log, reason))
            rotationTrouble = "Audit log " + log.name + " could not be rotated (" + reason +
                              "); it grows on to at most " +
                              std::to_string(auditLogLimitBytes >> 20) + " MiB.";
        openLogFile(log, opened);
        if (opened == OpenResult::opened && !rotationTrouble.empty() &&
            log.file.open.size + line.length + 1 > uint64_t(auditLogLimitBytes)) {
            closeLogFile(log);
            noteTrouble(log, "Audit log " + log.name + " is full and could not be rotated (" +
                                 reason + "); no more lines are written to it.");
            return;
        }
    }
    if (opened != OpenResult::opened) {
        noteTrouble(log, cannotWrite(log, opened == OpenResult::notRegular ? notRegularReason
                                                                           : lastSystemError()));
        return;
    }
    // Part of a line left by a write cut short is ended where it stops. A
    // file shorter than where the cut began is another file: nothing to end.
    AuditLogCutTail& cut = log.cut;
    const uint64_t size = log.file.open.size;
    if (cut.possible && size < cut.cutSize) cut = {};
    const bool endCutTail = cut.possible && size > cut.cutSize;
    Text whole;
    if (endCutTail) {
        whole.assign("\n");
        whole.append(line);
    }
    const Text& bytes = endCutTail ? whole : line;
    if (!appendBytes(log.file.open, bytes.data, bytes.length)) {
        const std::string reason = lastSystemError();
        // Where the file last ended with a whole line, kept through a spell.
        if (!cut.possible) cut = {true, size};
        // Part of the line may be there: unflushed like a whole one. How
        // much was written is not known: the next line opens it afresh.
        log.file.linesUnflushed = true;
        closeLogFile(log);
        noteTrouble(log, cannotWrite(log, reason));
        return;
    }
    cut = {};
    log.file.linesUnflushed = true;
    if (rotationTrouble.empty())
        noteWorked(log);
    else
        noteTrouble(log, rotationTrouble);
}

// The wall time for a line; -1, which reads "(no time)", when there is none.
int64_t wallNow() {
    int64_t now = -1;
    return wallClock(now) ? now : -1;
}

// What was done, after who did it: " command freq=F: change" and the end.
void appendWhat(Text& line, const char* command, int32_t freq, std::string_view change) {
    line.append(" ");
    line.append(command);
    if (freq != noFreq) {
        line.append(" freq=");
        line.append(freq);
    }
    line.append(": ");
    line.append(change);
    line.append(textLineEnd);
}

Text lineOf(uint32_t handle, bool hasPlayer, std::string_view playerName, uint32_t playerLevel,
            const char* command, int32_t freq, std::string_view change) {
    Text line = auditTimeText(wallNow());
    line.append(" bot=");
    line.append(decimalText(handle));
    if (hasPlayer) {
        line.append(" player=");
        line.append(auditQuote(playerName));
        line.append(" level=");
        line.append(decimalText(playerLevel));
    }
    appendWhat(line, command, freq, change);
    return line;
}

void writeCounts(AuditLog& log, bool all) {
    if (!anyCounts(log.counts)) return;
    std::vector<CountLine> due;
    takeDueCounts(log.counts, tickCount(), wallNow(), all, due);
    for (const CountLine& c : due)
        writeLine(log, lineOf(c.handle, c.hasPlayer, c.name, c.level, c.command, c.freq,
                              c.change.view()));
}

} // namespace

Text auditQuote(std::string_view text) {
    // A backslash stays as it is, so that a Windows path reads, and is
    // found, as typed; only one before an "x", which would read as the
    // start of an escape, is written \x5C. So "\x" and two hex digits is
    // always an escape, and every other backslash is itself.
    std::string quoted = "\"";
    size_t from = 0;
    for (size_t at = 0; at <= text.size(); ++at) {
        if (at < text.size() &&
            !(text[at] == '\\' && (at + 1 == text.size() || text[at + 1] != 'x')))
            continue;
        quoted += escapedBytes(text.substr(from, at - from),
                               {.quoteAsHex = true, .backslashAsHex = true});
        if (at < text.size()) quoted += '\\';
        from = at + 1;
    }
    quoted += '"';
    return Text(std::string_view(quoted));
}

void auditLog(AuditLog& log, const AuditActor& actor, const char* command, int32_t freq,
              std::string_view change) {
    if (log.name.empty()) return;
    // Counts whose minute is over come first, so that the lines stay in order.
    writeCounts(log, false);
    if (!actor.enabled) return;
    writeLine(log, lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel,
                          command, freq, change));
}

void auditToolLine(AuditLog& log, std::string_view userName, const char* command, int32_t freq,
                   std::string_view change) {
    if (log.name.empty()) return;
    Text line = auditTimeText(wallNow());
    line.append(" tool=\"hadrok teams\" user=");
    line.append(auditQuote(userName));
    appendWhat(line, command, freq, change);
    writeLine(log, line);
}

void auditWrongPassword(AuditLog& log, const AuditActor& actor, int32_t freq) {
    if (log.name.empty()) return;
    writeCounts(log, false);
    if (!actor.enabled) return;
    if (countRefusal(log.counts, actor.handle, actor.playerName, actor.playerLevel, freq,
                     tickCount(), wallNow()) == RefusalCounted::writeInFull)
        writeLine(log, lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel,
                              "!fjoin", freq, "wrong password"));
}

void auditRepeat(AuditLog& log, const AuditActor& actor, RepeatKind kind, int32_t freq,
                 std::string_view change, std::string_view last) {
    if (log.name.empty()) return;
    writeCounts(log, false);
    if (!actor.enabled) return;
    // An operator's lines are his actions, always written in full.
    const bool counted =
        actor.hasPlayer && actor.playerLevel == 0 &&
        countRepeat(log.counts, kind, actor.handle, actor.playerName, actor.playerLevel, freq, last,
                    tickCount(), wallNow()) == RefusalCounted::counted;
    if (!counted)
        writeLine(log, lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel,
                              repeatCommand(kind), freq, change));
}

void auditLogTick(AuditLog& log) {
    writeCounts(log, false);
    if (log.file.open.handle >= 0 && uint32_t(tickCount() - log.lookedAtTick) >= 1000)
        lookAtAuditLogFile(log);
}

void endAuditLog(AuditLog& log) {
    writeCounts(log, true);
}
