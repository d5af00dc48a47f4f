#include "registry/audit_log.h"

#include <string>

#include "platform/platform.h"
#include "text/ascii.h"
#include "text/number.h"

const char auditLogFileName[] = "hadrok.log";

namespace {

void appendNumber(Text& line, int32_t value, uint16_t width) {
    line.append(numberToText(uint32_t(value), 10, width, true));
}

} // namespace

Text auditTimeText(int64_t seconds) {
    Text stamp;
    std::tm local{};
    if (!localTimeOf(seconds, local)) return Text("(no time)");
    appendNumber(stamp, local.tm_year + 1900, 4);
    stamp.append("-");
    appendNumber(stamp, local.tm_mon + 1, 2);
    stamp.append("-");
    appendNumber(stamp, local.tm_mday, 2);
    stamp.append(" ");
    appendNumber(stamp, local.tm_hour, 2);
    stamp.append(":");
    appendNumber(stamp, local.tm_min, 2);
    stamp.append(":");
    appendNumber(stamp, local.tm_sec, 2);
    return stamp;
}

namespace {

Text generationName(int n) {
    Text name(auditLogFileName);
    name.append(".");
    appendNumber(name, n, 0);
    return name;
}

// What went wrong with the log, kept until the operator has been told. The
// log is written from every command, which has no one to tell but the
// player, so the problem waits for the next connection.
struct LogProblem {
    std::string pending;
    std::string told;
};
LogProblem problem;

void noteProblem(std::string text) {
    problem.pending = std::move(text);
}

// hadrok.log becomes hadrok.log.1, .1 becomes .2 and so on; the oldest goes.
// Renaming moves a name and never follows a link. False, with the reason,
// when hadrok.log itself could not be moved out of the way.
bool rotate(std::string& reason) {
    removePath(generationName(auditLogGenerations).data);
    for (int n = auditLogGenerations - 1; n >= 1; --n)
        renamePath(generationName(n).data, generationName(n + 1).data);
    if (renamePath(auditLogFileName, generationName(1).data)) return true;
    reason = lastSystemError();
    return false;
}

const char notRegularReason[] = "it is a symbolic link or not a regular file";

} // namespace

Text auditQuote(std::string_view text) {
    static const char hex[] = "0123456789ABCDEF";
    Text quoted("\"");
    for (unsigned char c : text) {
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char escape[4] = {'\\', 'x', hex[c >> 4], hex[c & 15]};
            quoted.append(escape, 4);
        } else {
            quoted.append(reinterpret_cast<const char*>(&c), 1);
        }
    }
    quoted.append("\"");
    return quoted;
}

void auditLog(const AuditActor& actor, const char* command, int32_t freq, std::string_view change) {
    if (!actor.enabled) return;
    int64_t now = -1;
    Text line = auditTimeText(wallClock(now) ? now : -1);
    line.append(" bot=");
    line.append(numberToText(actor.handle, 10, 0, false));
    if (actor.hasPlayer) {
        line.append(" player=");
        line.append(auditQuote(actor.playerName));
        line.append(" level=");
        line.append(numberToText(actor.playerLevel, 10, 0, false));
    }
    line.append(" ");
    line.append(command);
    if (freq != noFreq) {
        line.append(" freq=");
        appendNumber(line, freq, 0);
    }
    line.append(": ");
    line.append(change);
    line.append("\n");

    AppendableFile file;
    OpenResult opened = openForAppend(auditLogFileName, file);
    if (opened == OpenResult::opened && file.size >= uint64_t(auditLogRotateBytes)) {
        closeAppendableFile(file);
        std::string reason;
        if (!rotate(reason)) {
            // The log stops growing here rather than fill the disk.
            noteProblem(std::string("Audit log ") + auditLogFileName +
                        " is full and could not be rotated (" + reason +
                        "); no more lines are written to it.");
            return;
        }
        opened = openForAppend(auditLogFileName, file);
    }
    if (opened != OpenResult::opened) {
        noteProblem(std::string("Audit log ") + auditLogFileName + " cannot be written (" +
                    (opened == OpenResult::notRegular ? notRegularReason : lastSystemError()) +
                    "); changes are not logged.");
        return;
    }
    if (!appendBytes(file, line.data, line.length))
        noteProblem(std::string("Audit log ") + auditLogFileName + " cannot be written (" +
                    lastSystemError() + "); changes are not logged.");
    closeAppendableFile(file);
}

std::string auditLogProblem() {
    // A name that is there but is no plain file is told before anything is
    // logged, without creating the log.
    if (pathKindOf(auditLogFileName) == PathKind::other)
        noteProblem(std::string("Audit log ") + auditLogFileName + " cannot be written (" +
                    notRegularReason + "); changes are not logged.");
    if (problem.pending.empty() || problem.pending == problem.told) return {};
    problem.told = problem.pending;
    return problem.told;
}
