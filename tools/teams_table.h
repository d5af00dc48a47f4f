// The table in which the teams tools show records, one line each, as
// "teams list" prints it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "registry/freq_record.h"

// The heading line, then one line for each record of `shown` (indexes into
// records, in the order given), each numbered with its place in the file;
// now is the time the AGO column counts back from.
std::string recordTable(const std::vector<FreqRecord>& records, const std::vector<size_t>& shown,
                        int64_t now);
