// Reading and writing registry files for the teams tools. The record format
// itself is the plug-in's (registry/registry_file.h); this only moves bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry/freq_record.h"

// A failure a teams tool reports to the operator as one line: the file could
// not be read or written, or its contents were refused.
struct ToolFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Seconds since 1970 now, from the plug-in's own clock (wallClock, or the
// script's when a script runs the tool); a clock that gives no time ends the
// tool, since nothing can be judged unused or ahead by a time nobody knows.
int64_t toolNow();

// The now that last-used stamps are read at for showing them: toolNow, or 0
// when the clock gives no time, which reads each stamp as the signed count
// it is stored as.
int64_t readingNow();

// The most a JSON document may hold: far more than the export of the most
// records the plug-in loads with texts as long as they come takes.
constexpr uint64_t maxJsonBytes = uint64_t(256) << 20;

// The bytes of a registry file, read as the plug-in reads one: a regular
// file only (never a FIFO, a device or a directory, which could block or run
// on without end), and no more than the records the plug-in loads, plus the
// bytes of one cut record. Throws ToolFailure naming the file and the reason.
std::string readRegistryImage(const std::string& path);

// The whole of a JSON document, up to maxJsonBytes; "-" reads standard
// input. Throws ToolFailure as above.
std::string readJsonInput(const std::string& path);

// The bytes of a settings file (freqs.ini), a regular file only, up to a size
// far beyond any settings file. Throws ToolFailure as above.
std::string readSettingsFile(const std::string& path);

// Writes data to standard output; throws ToolFailure when that fails.
void writeStandardOutput(const std::string& data);

// The records of the whole 284-byte images at the start of a file image, in
// file order, unscrambled by the plug-in's own loader. Bytes after the last
// whole image are not looked at.
std::vector<FreqRecord> wholeRecordsOf(const std::string& image);

// The file image of the records, scrambled by the plug-in's own saver.
std::string imageOf(const std::vector<FreqRecord>& records);

// The freqs of records as the log names them: "freqs 100, 200"; a long
// list is cut after the first few, with how many more.
std::string freqList(const std::vector<FreqRecord>& records);

// True when a file's bytes begin like a JSON document (an object or a list,
// after blanks), as an export does.
bool looksLikeJson(const std::string& bytes);

// What to say of a file that the plug-in would not load, as one line that
// names it: a file of another kind (a JSON export, settings, a log) gets the
// command that reads it; records cut short point to check and salvage.
std::string notWholeMessage(const std::string& path, const std::string& image);

// The records of a registry file that the plug-in would load. Throws
// ToolFailure when the file can't be read, is of another kind or its size is
// not a multiple of the record size, saying what to do instead.
std::vector<FreqRecord> loadableRecordsOf(const std::string& path);
