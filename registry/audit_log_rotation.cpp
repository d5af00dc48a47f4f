#include <string>

#include "platform/platform.h"
#include "registry/audit_log_rooms.h"

std::string generationName(const AuditLog& log, int n) {
    return log.name + "." + std::to_string(n);
}

// hadrok.log becomes hadrok.log.1, .1 becomes .2 and so on; the oldest goes
// only when every generation is there, and only once its lines that must stay
// are in hadrok.log.kept, flushed. Each step moves a name to a free one,
// never over another, and a failed step ends the rotation: what has moved
// stays in order, and the next try goes on from the first free name. The
// log's own lines are flushed before it is moved (closeLogFile), and the
// moves are flushed with the next line's.
bool rotateLog(AuditLog& log, std::string& reason) {
    closeLogFile(log);
    int free = 1;
    while (free <= auditLogGenerations &&
           pathKindOf(log.folder, generationName(log, free).c_str()) != PathKind::missing)
        ++free;
    if (free > auditLogGenerations) {
        if (!keepLines(log, reason)) return false;
        if (!removePath(log.folder, generationName(log, auditLogGenerations).c_str())) {
            reason = lastSystemError();
            return false;
        }
        free = auditLogGenerations;
    }
    log.file.namesUnflushed = true;
    for (int n = free - 1; n >= 1; --n)
        if (moveNoReplace(log.folder, generationName(log, n).c_str(),
                          generationName(log, n + 1).c_str()) != MoveResult::moved) {
            reason = lastSystemError();
            return false;
        }
    if (moveNoReplace(log.folder, log.name.c_str(), generationName(log, 1).c_str()) ==
        MoveResult::moved)
        return true;
    reason = lastSystemError();
    return false;
}
