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

void noteTrouble(AuditLog& log, std::string text) {
    AuditLogTrouble& trouble = log.trouble;
    if (trouble.inSpell && trouble.spellText == text) return;
    trouble.inSpell = true;
    trouble.spellText = text;
    trouble.pending = std::move(text);
}

void noteWorked(AuditLog& log) {
    AuditLogTrouble& trouble = log.trouble;
    trouble.inSpell = false;
    trouble.spellText.clear();
}

// The log's name as the operator is told it: its folder is the registry's,
// which he is told apart.
std::string shownName(const AuditLog& log) {
    const std::string& path = log.path;
    const size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

Text generationName(const AuditLog& log, int n) {
    Text name(log.path);
    name.append(".");
    name.append(int32_t(n));
    return name;
}

const char notRegularReason[] = "it is a symbolic link or not a regular file";

// Whether a line is one that a player's repeats may rotate out for good: a
// level-0 player's line of a kind he can repeat at will. Every other line
// (an operator's, a registration, an unregistration, a hand-over, the
// plug-in's and the registry tool's own) is kept in hadrok.log.kept when its
// generation goes. A name in a line has every quote written as \x22, so the
// first `" level=` ends it.
bool rotatesOut(std::string_view line) {
    const size_t level = line.find("\" level=");
    if (level == std::string_view::npos || line.find(" player=\"") == std::string_view::npos)
        return false;
    if (line.substr(level, 11) != "\" level=0 !") return false;
    const std::string_view command = line.substr(level + 10);
    for (size_t k = 0; k < repeatKinds; ++k) {
        if (RepeatKind(k) == RepeatKind::handOver) continue;
        const std::string_view word = repeatCommand(RepeatKind(k));
        if (command.starts_with(word) && command.size() > word.size() &&
            (command[word.size()] == ' ' || command[word.size()] == ':'))
            return true;
    }
    return false;
}

std::string keptName(const AuditLog& log) {
    return log.path + auditLogKeptSuffix;
}

bool readWhole(const std::string& path, std::string& bytes, std::string& reason) {
    ReadableFile file;
    const OpenResult opened = openRegularFile(path.c_str(), file);
    // Nothing there, or no file (a directory): no lines to read.
    if (opened == OpenResult::missing || opened == OpenResult::notRegular) return true;
    if (opened != OpenResult::opened) {
        reason = lastSystemError();
        return false;
    }
    // A generation is at most 2 MiB and the kept file 6: anything far
    // larger is not the log's, and is not read into memory.
    if (file.size > uint64_t(8 * auditLogKeptBytes)) {
        closeReadableFile(file);
        reason = "it is far larger than the log makes it";
        return false;
    }
    bytes.resize(size_t(file.size));
    const bool read = readExactly(file, bytes.data(), bytes.size());
    if (!read) reason = lastSystemError();
    closeReadableFile(file);
    return read;
}

// The kept file past its bound loses its oldest lines, down to the newest
// auditLogKeptBytes at least; a failure leaves it whole and growing.
void trimKept(const AuditLog& log) {
    std::string bytes, reason;
    if (!readWhole(keptName(log), bytes, reason) ||
        bytes.size() <= size_t(auditLogKeptBytes + auditLogRotateBytes))
        return;
    size_t from = bytes.size() - size_t(auditLogKeptBytes);
    // Back to the start of the line that reaches into the newest part.
    while (from > 0 && bytes[from - 1] != '\n')
        --from;
    const std::string path = keptName(log);
    SafeWrite write;
    write.path = path.c_str();
    write.data = bytes.data() + from;
    write.size = bytes.size() - from;
    writeFileSafely(write);
}

// Before the oldest generation goes, its lines that players' repeats may not
// push out are appended to hadrok.log.kept. False, with the reason, when
// they could not be: then the generation stays.
bool keepLines(AuditLog& log, std::string& reason) {
    const Text oldest = generationName(log, auditLogGenerations);
    // Kept already, by a rotation that then failed to remove it: not twice.
    const FileIdentity identity = fileIdentityOf(oldest.data);
    if (sameFile(identity, log.keptFrom)) return true;
    std::string bytes;
    if (!readWhole(oldest.data, bytes, reason)) return false;
    std::string kept;
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        const std::string_view line(bytes.data() + at, end - at);
        if (!line.empty() && !rotatesOut(line)) {
            kept.append(line);
            kept.push_back('\n');
        }
        at = end + 1;
    }
    if (kept.empty()) return true;
    AppendableFile file;
    const OpenResult opened = openForAppend(keptName(log).c_str(), file);
    if (opened != OpenResult::opened) {
        reason = opened == OpenResult::notRegular ? notRegularReason : lastSystemError();
        return false;
    }
    const bool appended = appendBytes(file, kept.data(), kept.size());
    if (!appended) reason = lastSystemError();
    const uint64_t size = file.size;
    closeAppendableFile(file);
    if (!appended) return false;
    log.keptFrom = identity;
    if (size > uint64_t(auditLogKeptBytes + auditLogRotateBytes)) trimKept(log);
    return true;
}

// hadrok.log becomes hadrok.log.1, .1 becomes .2 and so on; the oldest goes
// only when every generation is there, and only once its lines that must stay
// are in hadrok.log.kept. Each step moves a name to a free one,
// never over another, and a failed step ends the rotation: what has moved
// stays in order, and the next try goes on from the first free name.
bool rotate(AuditLog& log, std::string& reason) {
    int free = 1;
    while (free <= auditLogGenerations &&
           pathKindOf(generationName(log, free).data) != PathKind::missing)
        ++free;
    if (free > auditLogGenerations) {
        if (!keepLines(log, reason)) return false;
        if (!removePath(generationName(log, auditLogGenerations).data)) {
            reason = lastSystemError();
            return false;
        }
        log.keptFrom = {}; // gone: its number may name another file later
        free = auditLogGenerations;
    }
    for (int n = free - 1; n >= 1; --n)
        if (moveNoReplace(generationName(log, n).data, generationName(log, n + 1).data) !=
            MoveResult::moved) {
            reason = lastSystemError();
            return false;
        }
    if (moveNoReplace(log.path.c_str(), generationName(log, 1).data) == MoveResult::moved)
        return true;
    reason = lastSystemError();
    return false;
}

std::string cannotWrite(const AuditLog& log, const std::string& reason) {
    return "Audit log " + shownName(log) + " cannot be written (" + reason +
           "); changes are not logged.";
}

void closeFile(AuditLog& log) {
    closeAppendableFile(log.file);
}

// The log file, opened when it is not open yet; false, with the trouble
// noted, when it cannot be.
bool openFile(AuditLog& log, OpenResult& opened) {
    opened = OpenResult::opened;
    if (log.file.handle >= 0) return true;
    opened = openForAppend(log.path.c_str(), log.file);
    log.lookedAtTick = tickCount();
    return opened == OpenResult::opened;
}

// Appends one whole line (ending in a newline) to the log. The file stays
// open: a line is one write, unless the log is due to rotate.
void writeLine(AuditLog& log, const Text& line) {
    if (log.path.empty()) return;
    std::string rotationTrouble;
    OpenResult opened = OpenResult::opened;
    openFile(log, opened);
    if (opened == OpenResult::opened && log.mayRotate &&
        log.file.size >= uint64_t(auditLogRotateBytes)) {
        closeFile(log);
        std::string reason;
        if (!rotate(log, reason))
            rotationTrouble = "Audit log " + shownName(log) + " could not be rotated (" + reason +
                              "); it grows on to at most " +
                              std::to_string(auditLogLimitBytes >> 20) + " MiB.";
        openFile(log, opened);
        if (opened == OpenResult::opened && !rotationTrouble.empty() &&
            log.file.size + line.length + 1 > uint64_t(auditLogLimitBytes)) {
            closeFile(log);
            noteTrouble(log, "Audit log " + shownName(log) + " is full and could not be rotated (" +
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
    const uint64_t size = log.file.size;
    if (cut.possible && size < cut.cutSize) cut = {};
    const bool endCutTail = cut.possible && size > cut.cutSize;
    Text whole;
    if (endCutTail) {
        whole.assign("\n");
        whole.append(line);
    }
    const Text& bytes = endCutTail ? whole : line;
    if (!appendBytes(log.file, bytes.data, bytes.length)) {
        const std::string reason = lastSystemError();
        // Where the file last ended with a whole line, kept through a spell.
        if (!cut.possible) cut = {true, size};
        // How much was written is not known: the next line opens it afresh.
        closeFile(log);
        noteTrouble(log, cannotWrite(log, reason));
        return;
    }
    cut = {};
    log.unflushed = true;
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

AuditLog::~AuditLog() {
    closeAppendableFile(file);
}

void setAuditLogFile(AuditLog& log, std::string path) {
    closeFile(log);
    log.unflushed = false;
    log.path = std::move(path);
    log.trouble = {};
    log.cut = {};
    log.counts = {};
}

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
    if (log.path.empty()) return;
    // Counts whose minute is over come first, so that the lines stay in order.
    writeCounts(log, false);
    if (!actor.enabled) return;
    writeLine(log, lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel,
                          command, freq, change));
}

void auditToolLine(AuditLog& log, std::string_view userName, const char* command, int32_t freq,
                   std::string_view change) {
    if (log.path.empty()) return;
    Text line = auditTimeText(wallNow());
    line.append(" tool=\"hadrok teams\" user=");
    line.append(auditQuote(userName));
    appendWhat(line, command, freq, change);
    writeLine(log, line);
}

void auditWrongPassword(AuditLog& log, const AuditActor& actor, int32_t freq) {
    if (log.path.empty()) return;
    writeCounts(log, false);
    if (!actor.enabled) return;
    if (countRefusal(log.counts, actor.handle, actor.playerName, actor.playerLevel, freq,
                     tickCount(), wallNow()) == RefusalCounted::writeInFull)
        writeLine(log, lineOf(actor.handle, actor.hasPlayer, actor.playerName, actor.playerLevel,
                              "!fjoin", freq, "wrong password"));
}

void auditRepeat(AuditLog& log, const AuditActor& actor, RepeatKind kind, int32_t freq,
                 std::string_view change, std::string_view last) {
    if (log.path.empty()) return;
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

void lookAtAuditLogFile(AuditLog& log) {
    if (log.file.handle < 0) return;
    log.lookedAtTick = tickCount();
    const FileIdentity named = fileIdentityOf(log.path.c_str());
    FileStamp stamp;
    if (!named.known || named.device != log.file.volume || named.index != log.file.index ||
        !fileStampOf(log.path.c_str(), stamp)) {
        // Moved, removed or replaced: the next line goes where the name leads.
        closeFile(log);
        return;
    }
    log.file.size = stamp.size;
}

void flushAuditLog(AuditLog& log) {
    if (log.file.handle < 0 || !log.unflushed) return;
    if (!flushAppendableFile(log.file)) {
        noteTrouble(log, "Audit log " + shownName(log) + " could not be flushed to disk (" +
                             lastSystemError() + "); its last lines may not survive a power cut.");
        return;
    }
    log.unflushed = false;
}

void auditLogTick(AuditLog& log) {
    writeCounts(log, false);
    if (log.file.handle >= 0 && uint32_t(tickCount() - log.lookedAtTick) >= 1000)
        lookAtAuditLogFile(log);
}

void endAuditLog(AuditLog& log) {
    writeCounts(log, true);
}

std::string auditLogProblem(AuditLog& log) {
    if (log.path.empty()) return {};
    // A name that is there but is no plain file is told before anything is
    // logged, without creating the log.
    if (pathKindOf(log.path.c_str()) == PathKind::other) {
        closeFile(log);
        noteTrouble(log, cannotWrite(log, notRegularReason));
    } else {
        lookAtAuditLogFile(log);
    }
    return std::exchange(log.trouble.pending, {});
}
