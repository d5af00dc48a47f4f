#include <string>
#include <utility>

#include "registry/audit_log_rooms.h"

const char notRegularReason[] = "it is a symbolic link or not a regular file";

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

std::string cannotWrite(const AuditLog& log, const std::string& reason) {
    return "Audit log " + log.name + " cannot be written (" + reason + "); changes are not logged.";
}

std::string auditLogProblem(AuditLog& log) {
    if (log.name.empty()) return {};
    // A name that is there but is no plain file is told before anything is
    // logged, without creating the log.
    if (pathKindOf(log.folder, log.name.c_str()) == PathKind::other) {
        closeLogFile(log);
        noteTrouble(log, cannotWrite(log, notRegularReason));
    } else {
        lookAtAuditLogFile(log);
    }
    return std::exchange(log.trouble.pending, {});
}
