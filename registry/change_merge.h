// The three-way merge of a side file's changes into a registry: a change
// whose base the registry still holds is made, one the registry already
// holds is done, anything else is a conflict, made only when the operator
// takes it. Used by "teams recover" (and its benchmark); it knows nothing of
// files.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "registry/change_file.h"
#include "registry/freq_record.h"

// The registry being merged into: its records in file order, those
// unregistered by the merge marked so, the new ones at the end.
struct MergeTarget {
    std::vector<FreqRecord> records;
    std::vector<uint8_t> live;
    // For each freq, the first live record of it (the one a host goes by),
    // and for each record the next of the same freq: -1 for none.
    std::unique_ptr<int32_t[]> firstOf;
    std::vector<int32_t> nextSame;
};

void startMerge(MergeTarget& target, std::vector<FreqRecord> records);

// The record a host would go by for freq, or null.
const FreqRecord* currentRecord(const MergeTarget& target, uint16_t freq);

enum class ChangeOutcome {
    done,         // the registry holds it already
    added,        // made: the freq was not registered
    changed,      // made: the record replaced (perhaps only a later last use)
    unregistered, // made: the freq removed
    conflict,     // the registry moved on from the base: left as it is
};

struct MergeStep {
    ChangeOutcome outcome = ChangeOutcome::done;
    bool taken = false; // made over a conflict, because take was set
    bool had = false;   // the registry held the freq; before is its record
    FreqRecord before{};
};

// Makes the change if it fits (or take is set and it conflicts).
MergeStep mergeChange(MergeTarget& target, const FreqChange& change, bool take);

// The records as merged, in order.
std::vector<FreqRecord> mergedRecords(const MergeTarget& target);

// Whether two records are the same but for the time of last use, which
// every admission moves on and so never makes a conflict.
bool sameButLastUse(const FreqRecord& a, const FreqRecord& b);
