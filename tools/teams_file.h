// Reading and writing registry files for the teams tools. The record format
// itself is the plug-in's (registry/registry_file.h); this only moves bytes.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <vector>

#include "registry/freq_record.h"

// A failure a teams tool reports to the operator as one line: the file could
// not be read or written, or its contents were refused.
struct ToolFailure : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// The whole contents of a file; "-" reads standard input. Throws ToolFailure
// naming the file and the reason when it can't be read.
std::string readWholeFile(const std::string& path);

// Writes data to standard output; throws ToolFailure when that fails.
void writeStandardOutput(const std::string& data);

// The records of the whole 284-byte images at the start of a file image, in
// file order, unscrambled by the plug-in's own loader. Bytes after the last
// whole image are not looked at.
std::vector<FreqRecord> wholeRecordsOf(const std::string& image);

// The file image of the records, scrambled by the plug-in's own saver.
std::string imageOf(const std::vector<FreqRecord>& records);

// The records of a registry file that the plug-in would load. Throws
// ToolFailure when the file can't be read or its size is not a multiple of the
// record size, pointing to "teams check" and "teams salvage".
std::vector<FreqRecord> readRegistryFile(const std::string& path);
