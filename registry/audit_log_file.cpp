#include <string>
#include <utility>

#include "platform/platform.h"
#include "registry/audit_log_rooms.h"

bool openLogFile(AuditLog& log, OpenResult& opened) {
    opened = OpenResult::opened;
    AuditLogFile& file = log.file;
    if (file.open.handle >= 0) return true;
    opened = openForAppend(log.folder, log.name.c_str(), file.open);
    log.lookedAtTick = tickCount();
    if (opened != OpenResult::opened) return false;
    // An empty file may be one just made: its name is not durable until the
    // folder is flushed.
    if (file.open.size == 0) file.namesUnflushed = true;
    return true;
}

void closeLogFile(AuditLog& log) {
    AuditLogFile& file = log.file;
    if (file.open.handle < 0) return;
    if (!file.linesUnflushed || flushAppendableFile(file.open)) {
        closeAppendableFile(file.open);
        file.linesUnflushed = false;
        return;
    }
    noteTrouble(log, "Audit log " + log.name + " could not be flushed to disk (" +
                         lastSystemError() + "); its last lines may not survive a power cut.");
    // Held on, so that the next flush tries them again; one such file at
    // most: an older one gets a last try and is let go.
    if (file.left.handle >= 0) {
        flushAppendableFile(file.left);
        closeAppendableFile(file.left);
    }
    file.left = file.open;
    file.open = {};
    file.linesUnflushed = false;
}

bool flushAuditLog(AuditLog& log) {
    AuditLogFile& file = log.file;
    std::string reason;
    if (file.left.handle >= 0) {
        if (flushAppendableFile(file.left))
            closeAppendableFile(file.left);
        else
            reason = lastSystemError();
    }
    if (file.open.handle >= 0 && file.linesUnflushed) {
        if (flushAppendableFile(file.open))
            file.linesUnflushed = false;
        else if (reason.empty())
            reason = lastSystemError();
    }
    // The file's name, once its lines are durable: a file made, or moved by
    // a rotation, is found after a power cut only once its folder is flushed.
    if (file.namesUnflushed && reason.empty()) {
        if (flushFolder(log.folder))
            file.namesUnflushed = false;
        else
            reason = lastSystemError();
    }
    if (reason.empty()) return true;
    noteTrouble(log, "Audit log " + log.name + " could not be flushed to disk (" + reason +
                         "); its last lines may not survive a power cut.");
    return false;
}

void lookAtAuditLogFile(AuditLog& log) {
    AppendableFile& open = log.file.open;
    if (open.handle < 0) return;
    log.lookedAtTick = tickCount();
    FileStamp stamp;
    if (!fileStampOf(log.folder, log.name.c_str(), stamp) || stamp.volume != open.volume ||
        stamp.identity != open.index) {
        // Moved, removed or replaced: the next line goes where the name
        // leads, in the same folder.
        closeLogFile(log);
        return;
    }
    open.size = stamp.size;
}

AuditLog::~AuditLog() {
    // Its lines get a last flush; its folder may be closed by now, so that
    // is left to whoever held the folder.
    if (file.left.handle >= 0) flushAppendableFile(file.left);
    if (file.open.handle >= 0 && file.linesUnflushed) flushAppendableFile(file.open);
    closeAppendableFile(file.open);
    closeAppendableFile(file.left);
}

void setAuditLogFile(AuditLog& log, const Folder& folder, std::string name) {
    // The lines of the log before are made durable before it is let go;
    // lines that could not be stay held (file.left) for the next flush, and
    // the operator is still told.
    const bool flushed = flushAuditLog(log);
    closeLogFile(log);
    log.file.namesUnflushed = false;
    log.folder = folder;
    log.name = std::move(name);
    const std::string untold = flushed ? std::string() : log.trouble.pending;
    log.trouble = {};
    log.trouble.pending = untold;
    log.cut = {};
    log.counts = {};
}
