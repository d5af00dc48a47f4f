// The one process-wide store of registered freqs and pending invites, shared
// by every bot instance. Both lists keep insertion order; every search returns
// the first match in that order.
#pragma once

#include <cstdint>
#include <string_view>

#include "registry/freq_chained_list.h"
#include "registry/freq_changes.h"
#include "registry/freq_record.h"

struct FreqRegistry {
    FreqChainedList<FreqRecord> freqs;
    FreqChainedList<FreqInvite> invites;
    // Since the last load or save; cleared by the store.
    FreqChanges changes;
};

// Lookups hand out records to read or to change; whoever changes one in place
// calls markChanged first, so that the next save writes it and a side file
// knows what it was. A lookup alone is no change: a zone whose players only
// move about writes nothing at autosave.
FreqRecord* findFreq(FreqRegistry& registry, uint16_t freq);
FreqRecord* findOwnedBy(FreqRegistry& registry, std::string_view name);
uint32_t countOwnedBy(FreqRegistry& registry, std::string_view name);
FreqRecord* addFreq(FreqRegistry& registry, uint16_t freq, const char (&ownerField)[20],
                    uint32_t passwordHash);
void markChanged(FreqRegistry& registry, uint16_t freq);
void removeFreq(FreqRegistry& registry, const FreqRecord* record);
void clearFreqs(FreqRegistry& registry);

FreqInvite* findInvite(FreqRegistry& registry, uint16_t freq, std::string_view playerName);
FreqInvite* addInvite(FreqRegistry& registry, uint16_t freq, std::string_view playerName);
void expireInvites(FreqRegistry& registry, uint32_t lifetimeSeconds);
void clearInvites(FreqRegistry& registry);
