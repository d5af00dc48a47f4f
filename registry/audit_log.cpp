#include "registry/audit_log.h"

#include <string>
#include <utility>
#include <vector>

#include "platform/platform.h"
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

// What went wrong with the log, kept until the operator has been told. The
// log is written from every command, which has no one to tell but the
// player, so the problem waits for the next connection. A spell lasts until
// a line is written with nothing wrong; the same trouble within it is told
// once.
struct LogTrouble {
    bool inSpell = false;
    std::string spellText;
    std::string pending;
};

// A write cut short may have left part of a line at the end of the file,
// which was cutSize bytes long, ending with a whole line, before it: the next
// line ends that part first.
struct CutTail {
    bool possible = false;
    uint64_t cutSize = 0;
};

// Function-local, so that it is made before the plug-in's own state uses it
// at load and ended after it at unload.
struct LogState {
    std::string path = auditLogFileName;
    LogTrouble trouble;
    CutTail cut;
    RefusalCounts counts;
};
LogState& logState() {
    static LogState state;
    return state;
}
const std::string& logPath() {
    return logState().path;
}

void noteTrouble(std::string text) {
    LogTrouble& trouble = logState().trouble;
    if (trouble.inSpell && trouble.spellText == text) return;
    trouble.inSpell = true;
    trouble.spellText = text;
    trouble.pending = std::move(text);
}

void noteWorked() {
    LogTrouble& trouble = logState().trouble;
    trouble.inSpell = false;
    trouble.spellText.clear();
}

// The log's name as the operator is told it: its folder is the registry's,
// which he is told apart.
std::string shownName() {
    const std::string& path = logPath();
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Text generationName(int n) {
    Text name(logPath());
    name.append(".");
    name.append(int32_t(n));
    return name;
}

// hadrok.log becomes hadrok.log.1, .1 becomes .2 and so on; the oldest goes
// only when every generation is there. Each step moves a name to a free one,
// never over another, and a failed step ends the rotation: what has moved
// stays in order, and the next try goes on from the first free name.
bool rotate(std::string& reason) {
    int free = 1;
    while (free <= auditLogGenerations &&
           pathKindOf(generationName(free).data) != PathKind::missing)
        ++free;
    if (free > auditLogGenerations) {
        if (!removePath(generationName(auditLogGenerations).data)) {
            reason = lastSystemError();
            return false;
        }
        free = auditLogGenerations;
    }
    for (int n = free - 1; n >= 1; --n)
        if (moveNoReplace(generationName(n).data, generationName(n + 1).data) !=
            MoveResult::moved) {
            reason = lastSystemError();
            return false;
        }
    if (moveNoReplace(logPath().c_str(), generationName(1).data) == MoveResult::moved) return true;
    reason = lastSystemError();
    return false;
}

const char notRegularReason[] = "it is a symbolic link or not a regular file";

std::string cannotWrite(const std::string& reason) {
    return "Audit log " + shownName() + " cannot be written (" + reason +
           "); changes are not logged.";
}

// Appends one whole line (ending in a newline) to the log.
void writeLine(const Text& line) {
    if (logPath().empty()) return;
    std::string rotationTrouble;
    AppendableFile file;
    OpenResult opened = openForAppend(logPath().c_str(), file);
    if (opened == OpenResult::opened && file.size >= uint64_t(auditLogRotateBytes)) {
        closeAppendableFile(file);
        std::string reason;
        if (!rotate(reason))
            rotationTrouble = "Audit log " + shownName() + " could not be rotated (" + reason +
                              "); it grows on to at most " +
                              std::to_string(auditLogLimitBytes >> 20) + " MiB.";
        opened = openForAppend(logPath().c_str(), file);
        if (opened == OpenResult::opened && !rotationTrouble.empty() &&
            file.size + line.length + 1 > uint64_t(auditLogLimitBytes)) {
            closeAppendableFile(file);
            noteTrouble("Audit log " + shownName() + " is full and could not be rotated (" +
                        reason + "); no more lines are written to it.");
            return;
        }
    }
    if (opened != OpenResult::opened) {
        noteTrouble(
            cannotWrite(opened == OpenResult::notRegular ? notRegularReason : lastSystemError()));
        return;
    }
    // Part of a line left by a write cut short is ended where it stops. A
    // file shorter than where the cut began is another file: nothing to end.
    CutTail& cut = logState().cut;
    if (cut.possible && file.size < cut.cutSize) cut = {};
    const bool endCutTail = cut.possible && file.size > cut.cutSize;
    Text whole;
    if (endCutTail) {
        whole.assign("\n");
        whole.append(line);
    }
    const Text& bytes = endCutTail ? whole : line;
    if (!appendBytes(file, bytes.data, bytes.length)) {
        const std::string reason = lastSystemError();
        // Where the file last ended with a whole line, kept through a spell.
        if (!cut.possible) cut = {true, file.size};
        closeAppendableFile(file);
        noteTrouble(cannotWrite(reason));
        return;
    }
    cut = {};
    closeAppendableFile(file);
    if (rotationTrouble.empty())
        noteWorked();
    else
        noteTrouble(rotationTrouble);
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
    line.append("\n");
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

void writeCounts(bool all) {
    if (!anyCounts(logState().counts)) return;
    std::vector<CountLine> due;
    takeDueCounts(logState().counts, tickCount(), wallNow(), all, due);
    for (const CountLine& c : due)
        writeLine(
            lineOf(c.handle, c.hasPlayer, c.name, c.level, "!fjoin", noFreq, c.change.view()));
}

} // namespace

void setAuditLogFile(std::string path) {
    LogState& log = logState();
    log.path = std::move(path);
    log.trouble = {};
    log.cut = {};
    log.counts = {};
}

const std::string& auditLogFile() {
    return logPath();
}

Text auditQuote(std::string_view text) {
    const std::string quoted =
        escapedBytes(text, {.inQuotes = true, .quoteAsHex = true, .backslashAsHex = true});
    return Text(std::string_view(quoted));
}

void auditLog(const AuditActor& actor, const char* command, int32_t freq, std::string_view change) {
    if (logPath().empty()) return;
    // Counts whose minute is over come first, so that the lines stay in order.
    writeCounts(false);
    if (!actor.enabled) return;
    writeLine(lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel, command,
                     freq, change));
}

void auditToolLine(std::string_view userName, const char* command, int32_t freq,
                   std::string_view change) {
    if (logPath().empty()) return;
    Text line = auditTimeText(wallNow());
    line.append(" tool=\"hadrok teams\" user=");
    line.append(auditQuote(userName));
    appendWhat(line, command, freq, change);
    writeLine(line);
}

void auditWrongPassword(const AuditActor& actor, int32_t freq) {
    if (logPath().empty()) return;
    writeCounts(false);
    if (!actor.enabled) return;
    if (countRefusal(logState().counts, actor.handle, actor.playerName, actor.playerLevel, freq,
                     tickCount(), wallNow()) == RefusalCounted::writeInFull)
        writeLine(lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel,
                         "!fjoin", freq, "wrong password"));
}

void auditLogTick() {
    writeCounts(false);
}

void endAuditLog() {
    writeCounts(true);
}

std::string auditLogProblem() {
    if (logPath().empty()) return {};
    // A name that is there but is no plain file is told before anything is
    // logged, without creating the log.
    if (pathKindOf(logPath().c_str()) == PathKind::other)
        noteTrouble(cannotWrite(notRegularReason));
    return std::exchange(logState().trouble.pending, {});
}
