// What "teams check" reports about the records of a registry, shared with
// "teams import", which refuses to write a file with the faults among them.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "registry/freq_record.h"

struct Finding {
    std::string text;
    // A fault of the file: records the plug-in can never use as meant
    // (duplicate freqs, freqs below 100, owners empty or with control
    // bytes). The rest are worth a look but do no harm.
    bool fault;
};

struct FindingOptions {
    std::optional<uint32_t> maxOwned;  // owners of more freqs than this
    std::optional<uint32_t> freqLimit; // freqs at or above this
    int64_t now = 0;                   // seconds since 1970, for times in the future
};

// Records are numbered from 0 in file order; owners are compared as the
// plug-in compares them.
std::vector<Finding> recordFindings(const std::vector<FreqRecord>& records,
                                    const FindingOptions& options);
