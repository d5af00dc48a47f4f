#include "registry/freq_registry.h"

#include "platform/platform.h"
#include "text/ascii.h"

#include <new>

namespace {

// The freq as it stands goes in as its base unless this run changed it
// already since the last load or save. Without memory for it the base is
// simply not known, which a side file tells as such: the change goes on.
void noteChange(FreqRegistry& registry, uint16_t freq) {
    int64_t now = 0;
    if (!wallClock(now)) now = 0;
    try {
        auto [entry, added] = registry.changes.byFreq.try_emplace(freq);
        if (added) {
            const FreqRecord* record = registry.freqs.firstWithFreq(freq);
            entry->second.had = record != nullptr;
            if (record) entry->second.record = *record;
        }
        entry->second.changedAt = now;
    } catch (const std::bad_alloc&) {
    }
}

} // namespace

FreqRecord* findFreq(FreqRegistry& registry, uint16_t freq) {
    return registry.freqs.firstWithFreq(freq);
}

FreqRecord* findOwnedBy(FreqRegistry& registry, std::string_view name) {
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        if (equalsNoCase(fieldOf(r->owner), name)) return r;
    }
    return nullptr;
}

uint32_t countOwnedBy(FreqRegistry& registry, std::string_view name) {
    uint32_t count = 0;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        if (equalsNoCase(fieldOf(r->owner), name)) ++count;
    return count;
}

FreqRecord* addFreq(FreqRegistry& registry, uint16_t freq, const char (&ownerField)[20],
                    uint32_t passwordHash) {
    noteChange(registry, freq);
    FreqRecord record{};
    record.freq = freq;
    for (size_t i = 0; i < sizeof record.owner; ++i)
        record.owner[i] = ownerField[i];
    record.passwordHash = passwordHash;
    return &registry.freqs.append(record);
}

void markChanged(FreqRegistry& registry, uint16_t freq) {
    noteChange(registry, freq);
    registry.freqs.touch();
}

void removeFreq(FreqRegistry& registry, const FreqRecord* record) {
    if (record) noteChange(registry, record->freq);
    registry.freqs.remove(record);
}

void clearFreqs(FreqRegistry& registry) {
    // Every freq is unregistered: each keeps what it was, as a removal does.
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        noteChange(registry, r->freq);
    registry.freqs.clear();
}

FreqInvite* findInvite(FreqRegistry& registry, uint16_t freq, std::string_view playerName) {
    // Invites keep 19 characters of a name; a host name that fills all 20
    // bytes of its field must still find the invite made for it.
    playerName = playerName.substr(0, sizeof(FreqInvite::playerName) - 1);
    for (FreqInvite* i = registry.invites.firstWithFreq(freq); i;
         i = registry.invites.nextWithFreq(i))
        if (equalsNoCase(fieldOf(i->playerName), playerName)) return i;
    return nullptr;
}

FreqInvite* addInvite(FreqRegistry& registry, uint16_t freq, std::string_view playerName) {
    registry.invites.remove(findInvite(registry, freq, playerName));
    FreqInvite invite{};
    setTextField(invite.playerName, playerName);
    invite.issuedAt = tickCount();
    invite.freq = freq;
    return &registry.invites.append(invite);
}

void expireInvites(FreqRegistry& registry, uint32_t lifetimeSeconds) {
    // Elapsed time, not issuedAt + lifetime < now: that sum wraps with the
    // tick counter every 49.7 days, and an invite made just before the wrap
    // would go at once while one aged just after it would stay for weeks.
    uint32_t now = tickCount();
    uint64_t lifetime = uint64_t(lifetimeSeconds) * 1000u;
    for (FreqInvite* i = registry.invites.first(); i;) {
        FreqInvite* following = registry.invites.next(i);
        if (uint32_t(now - i->issuedAt) > lifetime) registry.invites.remove(i);
        i = following;
    }
}

void clearInvites(FreqRegistry& registry) {
    registry.invites.clear();
}
