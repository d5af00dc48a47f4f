// The audit log's rooms share these; nothing outside audit_log*.cpp includes
// this file.
#pragma once

#include <string>

#include "registry/audit_log.h"

// The trouble notices (audit_log_trouble.cpp): the same trouble within a
// spell is told once; a line written with nothing wrong ends the spell.
void noteTrouble(AuditLog& log, std::string text);
void noteWorked(AuditLog& log);
std::string cannotWrite(const AuditLog& log, const std::string& reason);
extern const char notRegularReason[];

// The file (audit_log_file.cpp). openLogFile opens it when it is not open;
// closeLogFile flushes its lines first, and holds on to a file whose flush
// failed.
bool openLogFile(AuditLog& log, OpenResult& opened);
void closeLogFile(AuditLog& log);

// hadrok.log.N
std::string generationName(const AuditLog& log, int n);

// The rotation (audit_log_rotation.cpp): hadrok.log becomes .1 and so on;
// false, with the reason, when it could not go all the way.
bool rotateLog(AuditLog& log, std::string& reason);

// The kept lines (audit_log_kept.cpp): before the oldest generation goes,
// its lines that players' repeats may not push out are in hadrok.log.kept,
// flushed; false, with the reason, when they could not be.
bool keepLines(AuditLog& log, std::string& reason);
