#include "registry/change_merge.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

bool sameButLastUse(const FreqRecord& a, const FreqRecord& b) {
    return std::memcmp(&a, &b, offsetof(FreqRecord, lastUsed)) == 0;
}

void startMerge(MergeTarget& target, std::vector<FreqRecord> records) {
    target.records = std::move(records);
    target.live.assign(target.records.size(), 1);
    target.nextSame.assign(target.records.size(), -1);
    target.firstOf = std::make_unique<int32_t[]>(65536);
    std::fill_n(target.firstOf.get(), 65536, -1);
    // Chained from the end, so that each freq's chain runs in file order.
    for (size_t i = target.records.size(); i-- > 0;) {
        const uint16_t freq = target.records[i].freq;
        target.nextSame[i] = target.firstOf[freq];
        target.firstOf[freq] = int32_t(i);
    }
}

const FreqRecord* currentRecord(const MergeTarget& target, uint16_t freq) {
    const int32_t at = target.firstOf[freq];
    return at < 0 ? nullptr : &target.records[size_t(at)];
}

namespace {

// Whether the registry still holds the change's base: then the change is
// this run's alone and is made. A base not known fits only a freq the
// registry lacks (an older side file offers what it held).
bool baseFits(const FreqChange& change, const FreqRecord* current) {
    switch (change.baseKind) {
    case BaseKind::none:
        return !current;
    case BaseKind::record:
        return current && sameButLastUse(*current, change.base);
    case BaseKind::unknown:
        return !current && change.hasNew;
    }
    return false;
}

void put(MergeTarget& target, const FreqRecord& record) {
    const int32_t at = target.firstOf[record.freq];
    if (at >= 0) {
        FreqRecord& current = target.records[size_t(at)];
        // The latest use is kept: a freq in use never looks unused.
        const int32_t lastUsed = std::max(current.lastUsed, record.lastUsed);
        current = record;
        current.lastUsed = lastUsed;
        return;
    }
    target.records.push_back(record);
    target.live.push_back(1);
    target.nextSame.push_back(-1);
    target.firstOf[record.freq] = int32_t(target.records.size() - 1);
}

void unregister(MergeTarget& target, uint16_t freq) {
    const int32_t at = target.firstOf[freq];
    if (at < 0) return;
    target.live[size_t(at)] = 0;
    target.firstOf[freq] = target.nextSame[size_t(at)];
}

} // namespace

MergeStep mergeChange(MergeTarget& target, const FreqChange& change, bool take) {
    MergeStep step;
    const FreqRecord* current = currentRecord(target, change.freq);
    step.had = current != nullptr;
    if (current) step.before = *current;
    if (change.hasNew && current && sameButLastUse(*current, change.now)) {
        if (change.now.lastUsed <= current->lastUsed) return step; // done
        put(target, change.now);                                   // a later use, and nothing else
        step.outcome = ChangeOutcome::changed;
        return step;
    }
    if (!change.hasNew && !current) return step; // done
    if (!baseFits(change, current)) {
        if (!take) {
            step.outcome = ChangeOutcome::conflict;
            return step;
        }
        step.taken = true;
    }
    if (!change.hasNew) {
        unregister(target, change.freq);
        step.outcome = ChangeOutcome::unregistered;
        return step;
    }
    put(target, change.now);
    step.outcome = step.had ? ChangeOutcome::changed : ChangeOutcome::added;
    return step;
}

std::vector<FreqRecord> mergedRecords(const MergeTarget& target) {
    std::vector<FreqRecord> records;
    records.reserve(target.records.size());
    for (size_t i = 0; i < target.records.size(); ++i)
        if (target.live[i]) records.push_back(target.records[i]);
    return records;
}
