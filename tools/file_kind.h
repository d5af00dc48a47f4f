// What kind of file a tool was given, told from its name and first bytes, so
// that a file given to the wrong command gets the command that reads it
// rather than advice meant for another kind.
#pragma once

#include <string>

enum class FileKind {
    registry,        // whole 284-byte records (or none)
    damagedRegistry, // records, but a size that is not a whole number of them
    sideFile,        // Zandrel.teams.unsaved.*: one run's changes, to be merged
    jsonExport,      // the JSON form of export
    csvExport,       // the CSV form of export
    settings,        // freqs.ini
    auditLog,        // hadrok.log and its generations
    lockFile,        // Zandrel.teams.lock
};

// The kind of the file at path whose bytes (or first bytes) are given. Text
// is told by its own signs (a JSON document, the export's CSV header, a log
// line's date, an INI section or key); anything else is records, as the
// plug-in would take it.
FileKind fileKindOf(const std::string& path, const std::string& bytes);

// True when the bytes are text: no byte below 32 but tab, CR and LF. A
// record never is, since its zero bytes are scrambled into control bytes.
bool looksLikeText(const std::string& bytes);

// True for the kinds that hold records the plug-in reads.
bool holdsRecords(FileKind kind);

// What the file is, for a sentence: "a settings file (freqs.ini)".
std::string fileKindWords(FileKind kind);

// The command that fits a file of this kind, named with path, and what it
// does: "hadrok config check freqs.ini reads it".
std::string fittingCommand(FileKind kind, const std::string& path);

// One line for a file that is not what the command reads: "PATH is WHAT, not
// WANTED; COMMAND".
std::string wrongKindMessage(const std::string& path, FileKind kind, const std::string& wanted);
