#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"
#include "registry/audit_log_rooms.h"

namespace {

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
    return log.name + auditLogKeptSuffix;
}

bool readWhole(const AuditLog& log, const std::string& name, std::string& bytes,
               std::string& reason) {
    bytes.clear();
    ReadableFile file;
    const OpenResult opened = openRegularFile(log.folder, name.c_str(), file);
    // Nothing there, or no file (a directory): no lines to read.
    if (opened == OpenResult::missing || opened == OpenResult::notRegular) return true;
    if (opened != OpenResult::opened) {
        reason = lastSystemError();
        return false;
    }
    // A generation is at most 2 MiB and the kept file 7: anything far
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

// How much of `lines` the kept file ends with already: a rotation cut short
// after it kept them (whole or in part) but before the generation was gone
// must not keep them twice. Only a part that starts a line counts.
size_t alreadyKept(std::string_view kept, std::string_view lines) {
    const size_t from = kept.size() > lines.size() ? kept.size() - lines.size() : 0;
    for (size_t at = from; at < kept.size(); ++at) {
        if (at > 0 && kept[at - 1] != '\n') continue;
        const std::string_view tail = kept.substr(at);
        if (lines.substr(0, tail.size()) == tail) return tail.size();
    }
    return 0;
}

// A level-0 player's line: his registrations and unregistrations are kept,
// but he may not use them to push out anyone else's.
bool isPlayersLine(std::string_view line) {
    const size_t level = line.find("\" level=");
    return level != std::string_view::npos && line.find(" player=\"") != std::string_view::npos &&
           line.substr(level, 10) == "\" level=0 ";
}

// The kept file past its bound is cut back to at least its newest
// auditLogKeptBytes: the oldest players' lines go first, so that what players
// do never pushes out an operator's, the plug-in's or a tool's line; only
// when those alone pass the bound do the oldest of them go. The lines from
// `newest` on, just kept, stay whole, so that the file still ends with them
// (alreadyKept). A failure leaves it whole and growing.
void trimKept(const AuditLog& log, const std::string& bytes, size_t newest) {
    if (bytes.size() <= size_t(auditLogKeptBytes + auditLogRotateBytes)) return;
    struct Line {
        size_t at, size;
        bool player, gone;
    };
    std::vector<Line> lines;
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find('\n', at);
        end = end == std::string::npos ? bytes.size() : end + 1;
        lines.push_back({at, end - at, isPlayersLine({bytes.data() + at, end - at}), false});
        at = end;
    }
    size_t left = bytes.size();
    for (Line& line : lines)
        if (line.player && line.at < newest && left - line.size >= size_t(auditLogKeptBytes)) {
            line.gone = true;
            left -= line.size;
        }
    for (Line& line : lines) {
        if (line.gone) continue;
        if (line.at >= newest || left - line.size < size_t(auditLogKeptBytes)) break;
        line.gone = true;
        left -= line.size;
    }
    std::string kept;
    kept.reserve(left);
    for (const Line& line : lines)
        if (!line.gone) kept.append(bytes, line.at, line.size);
    const std::string name = keptName(log);
    SafeWrite write;
    write.folder = &log.folder;
    write.path = name.c_str();
    write.data = kept.data();
    write.size = kept.size();
    writeFileSafely(write);
}

} // namespace

bool keepLines(AuditLog& log, std::string& reason) {
    std::string bytes;
    if (!readWhole(log, generationName(log, auditLogGenerations), bytes, reason)) return false;
    std::string lines;
    for (size_t at = 0; at < bytes.size();) {
        size_t end = bytes.find('\n', at);
        if (end == std::string::npos) end = bytes.size();
        const std::string_view line(bytes.data() + at, end - at);
        if (!line.empty() && !rotatesOut(line)) {
            lines.append(line);
            lines.push_back('\n');
        }
        at = end + 1;
    }
    if (lines.empty()) return true;
    std::string kept;
    if (!readWhole(log, keptName(log), kept, reason)) return false;
    const size_t done = alreadyKept(kept, lines);
    const size_t newest = kept.size();
    std::string more;
    // A line cut short by a crash is ended first, where it stops.
    if (done == 0 && !kept.empty() && kept.back() != '\n') more = "\n";
    more.append(lines, done);
    if (!more.empty()) {
        AppendableFile file;
        const std::string name = keptName(log);
        const OpenResult opened = openForAppend(log.folder, name.c_str(), file);
        if (opened != OpenResult::opened) {
            reason = opened == OpenResult::notRegular ? notRegularReason : lastSystemError();
            return false;
        }
        const bool made = file.size == 0;
        // Durable, name and all, before the generation they come from goes.
        const bool appended = appendBytes(file, more.data(), more.size()) &&
                              flushAppendableFile(file) && (!made || flushFolder(log.folder));
        if (!appended) reason = lastSystemError();
        closeAppendableFile(file);
        if (!appended) return false;
        kept.append(more);
    }
    trimKept(log, kept, done > 0 ? newest - done : newest);
    return true;
}
