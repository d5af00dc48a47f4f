// What each freq was before this run first changed it since the registry was
// last loaded or saved, and when it last changed: the base a side file
// gives each change. Noted by whoever changes a record, before the change.
#pragma once

#include <cstdint>
#include <unordered_map>

#include "registry/freq_record.h"

struct FreqBase {
    bool had = false; // the freq was registered then; record is what it was
    FreqRecord record{};
    int64_t changedAt = 0; // 0: the clock gave no time
};

struct FreqChanges {
    std::unordered_map<uint16_t, FreqBase> byFreq;
};
