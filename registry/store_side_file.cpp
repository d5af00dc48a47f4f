// The run's side file: what this process changed since it last loaded or
// saved the registry, each change with what it changed from, kept beside a
// registry it could not or may not write over.
#include "registry/store_rooms.h"

#include <algorithm>
#include <bit>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "registry/change_file.h"
#include "registry/registry_file.h"
#include "registry/side_files.h"

const char unsavedFileName[] = "Zandrel.teams.unsaved";

namespace {

// A digest of the record's bytes as they lie in memory, to tell a record
// changed since the last load or save. It runs over every record at each
// load and save, beside the copy of its bytes, so it takes a word at a time
// in four independent lanes whose multiplies stay off their chains, then
// folds the lanes and mixes the result.
uint64_t recordDigest(const FreqRecord& record) {
    constexpr uint64_t k1 = 0x9E3779B185EBCA87ull, k2 = 0xC2B2AE3D27D4EB4Full;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    uint64_t lane[4] = {0x243F6A8885A308D3ull, 0x13198A2E03707344ull, 0xA4093822299F31D0ull,
                        0x082EFA98EC4E6C89ull};
    const auto round = [&](uint64_t& acc, size_t offset) {
        uint64_t word;
        std::memcpy(&word, bytes + offset, 8);
        acc = std::rotl(acc + word * k2, 31);
    };
    size_t offset = 0;
    for (; offset + 32 <= freqRecordSize; offset += 32)
        for (int i = 0; i < 4; ++i)
            round(lane[i], offset + 8 * size_t(i));
    for (int i = 0; offset + 8 <= freqRecordSize; offset += 8, ++i)
        round(lane[i], offset);
    uint32_t tail = 0;
    std::memcpy(&tail, bytes + offset, freqRecordSize - offset);
    uint64_t digest = tail * k1;
    for (int i = 0; i < 4; ++i)
        digest = std::rotl(digest ^ (lane[i] * k1), 27) * k1 + k2;
    digest ^= digest >> 33;
    digest *= k2;
    return digest ^ (digest >> 29);
}

// Where a freq is among those last loaded or saved, or none.
constexpr size_t notSaved = SIZE_MAX;
size_t savedIndexOf(const RegistryStore& store, uint16_t freq) {
    const auto& freqs = store.savedRecords.freqs;
    const auto at = std::lower_bound(freqs.begin(), freqs.end(), freq);
    return at == freqs.end() || *at != freq ? notSaved : size_t(at - freqs.begin());
}

const uint64_t* savedDigestOf(const RegistryStore& store, uint16_t freq) {
    const size_t at = savedIndexOf(store, freq);
    return at == notSaved ? nullptr : &store.savedRecords.digests[at];
}

// Whether a record is the one a host goes by for its freq: the first.
bool firstOfItsFreq(FreqRegistry& registry, const FreqRecord* r) {
    return registry.freqs.firstWithFreq(r->freq) == r;
}

// The base noted for a freq, when it is what was last loaded or saved: a
// change made without being noted would leave a base that is not.
void setBase(const RegistryStore& store, FreqRegistry& registry, FreqChange& change) {
    const uint64_t* saved = savedDigestOf(store, change.freq);
    const auto noted = registry.changes.byFreq.find(change.freq);
    if (noted == registry.changes.byFreq.end()) {
        change.baseKind = BaseKind::unknown;
        return;
    }
    change.changedAt = noted->second.changedAt;
    if (!noted->second.had && !saved) {
        change.baseKind = BaseKind::none;
    } else if (noted->second.had && saved && recordDigest(noted->second.record) == *saved) {
        change.baseKind = BaseKind::record;
        change.base = noted->second.record;
    } else {
        change.baseKind = BaseKind::unknown;
    }
}

// Each freq that memory holds otherwise than as last loaded or saved, in
// freq order; every freq held when that is not known.
std::vector<FreqChange> changesOf(const RegistryStore& store, FreqRegistry& registry) {
    std::vector<FreqChange> changes;
    std::vector<bool> seen(store.savedRecordsKnown ? store.savedRecords.freqs.size() : 0);
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        if (!firstOfItsFreq(registry, r)) continue;
        const size_t saved = store.savedRecordsKnown ? savedIndexOf(store, r->freq) : notSaved;
        if (saved != notSaved) {
            seen[saved] = true;
            if (store.savedRecords.digests[saved] == recordDigest(*r)) continue;
        }
        FreqChange change;
        change.freq = r->freq;
        change.hasNew = true;
        change.now = *r;
        if (store.savedRecordsKnown)
            setBase(store, registry, change);
        else
            change.baseKind = BaseKind::unknown;
        changes.push_back(change);
    }
    for (size_t i = 0; i < seen.size(); ++i) {
        if (seen[i]) continue;
        FreqChange change;
        change.freq = store.savedRecords.freqs[i];
        change.hasNew = false;
        setBase(store, registry, change);
        changes.push_back(change);
    }
    std::sort(changes.begin(), changes.end(),
              [](const FreqChange& a, const FreqChange& b) { return a.freq < b.freq; });
    return changes;
}

// The next run's sequence: past every side file's, set aside or not, so
// that a later run's changes are applied after an earlier one's whatever
// the clocks and process numbers say.
uint64_t nextSequence(const RegistryStore& store) {
    uint64_t highest = 0;
    const std::string recovered = recoveredFileName;
    for (const std::string& name : directoryNames(store.held)) {
        if (!isSideFileName(name) && name.compare(0, recovered.size(), recovered) != 0) continue;
        ReadableFile file;
        if (openRegularFile(store.held, name.c_str(), file) != OpenResult::opened) continue;
        char head[changeFileHeaderSize];
        ChangeRun run;
        if (file.size >= sizeof head && readExactly(file, head, sizeof head) &&
            changeRunOf(std::string_view(head, sizeof head), run))
            highest = std::max(highest, run.sequence);
        closeReadableFile(file);
    }
    return highest + 1;
}

uint64_t runIdentity() {
    // Only to tell two runs of one sequence apart, the same way each time.
    int64_t wall = 0;
    if (!wallClock(wall)) wall = 0;
    uint64_t mixed = uint64_t(wall) * 0x9E3779B97F4A7C15ull ^ monotonicMilliseconds() << 20 ^
                     processId() ^ uint64_t(reinterpret_cast<uintptr_t>(&wall)) << 7;
    mixed ^= mixed >> 31;
    mixed *= 0xBF58476D1CE4E5B9ull;
    return mixed ^ mixed >> 29;
}

void removeOwnSideFile(RegistryStore& store) {
    if (store.sideFileName.empty()) return;
    if (removePath(store.held, store.sideFileName.c_str())) store.sideFileName.clear();
}

// The gathered digests as the store keeps them, in freq order.
void keepDigests(RegistryStore& store, const DigestsByFreq& gathered) {
    SavedDigests saved;
    saved.freqs.reserve(gathered.count);
    saved.digests.reserve(gathered.count);
    for (size_t w = 0; w < 65536 / 64; ++w)
        for (uint64_t bits = gathered.present[w]; bits != 0; bits &= bits - 1) {
            const uint16_t freq = uint16_t(w * 64 + size_t(std::countr_zero(bits)));
            saved.freqs.push_back(freq);
            saved.digests.push_back(gathered.byFreq[freq]);
        }
    store.savedRecords = std::move(saved);
    store.savedRecordsKnown = true;
}

} // namespace

void rememberSavedRecords(RegistryStore& store, FreqRegistry& registry) {
    store.savedRecordsKnown = false;
    registry.changes.byFreq.clear();
    store.baseGeneration = store.sideGeneration = registry.freqs.generation();
    try {
        // One pass in list order, which is memory order.
        const auto gathered = std::make_unique<DigestsByFreq>();
        gathered->byFreq = std::make_unique_for_overwrite<uint64_t[]>(65536);
        for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
            noteRecordDigest(gathered.get(), *r);
        keepDigests(store, *gathered);
    } catch (const std::bad_alloc&) {
        store.savedRecords = {}; // then every freq counts as changed
    }
}

void noteRecordDigest(void* context, const FreqRecord& record) {
    // The first record of each freq is the one a host goes by; its digest
    // goes to a table by freq, so that the freqs come out in order with no
    // sort. Only the table's pages that are written are touched.
    auto& gathered = *static_cast<DigestsByFreq*>(context);
    uint64_t& word = gathered.present[record.freq / 64];
    const uint64_t bit = uint64_t(1) << (record.freq % 64);
    if (word & bit) return;
    word |= bit;
    gathered.byFreq[record.freq] = recordDigest(record);
    ++gathered.count;
}

void rememberSavedRecords(RegistryStore& store, FreqRegistry& registry, DigestsByFreq& gathered) {
    store.savedRecordsKnown = false;
    registry.changes.byFreq.clear();
    store.baseGeneration = store.sideGeneration = registry.freqs.generation();
    try {
        keepDigests(store, gathered);
    } catch (const std::bad_alloc&) {
        store.savedRecords = {}; // then every freq counts as changed
    }
}

bool unchangedSinceLoadOrSave(const RegistryStore& store, FreqRegistry& registry) {
    if (registry.freqs.generation() == store.baseGeneration) return true;
    if (!store.savedRecordsKnown) return false;
    return changesOf(store, registry).empty();
}

std::string changesSinceSave(const RegistryStore& store, FreqRegistry& registry) {
    if (!store.savedRecordsKnown) return {};
    constexpr size_t named = 20;
    std::string text;
    size_t count = 0;
    for (const FreqChange& change : changesOf(store, registry)) {
        if (++count > named) continue;
        text += text.empty() ? "freq " : ", ";
        text += number(change.freq) + " " +
                (!change.hasNew                      ? "unregistered"
                 : savedDigestOf(store, change.freq) ? "changed"
                                                     : "new");
    }
    if (count > named) text += " and " + number(count - named) + " more";
    return text;
}

std::string lostChangesText(const RegistryStore& store, FreqRegistry& registry) {
    std::string which;
    try {
        which = changesSinceSave(store, registry);
    } catch (const std::bad_alloc&) {
        // Told without the list, then.
    }
    return "the changes made since the last save are lost" +
           (which.empty() ? std::string() : " (" + which + ")");
}

void writeSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    // Nothing changed since its last write (or since the load or save):
    // a zone whose saves fail pays nothing more at each autosave.
    const uint64_t generation = registry.freqs.generation();
    if (generation == store.sideGeneration) {
        report.sideName = store.sideFileName;
        return;
    }
    const std::vector<FreqChange> changes = changesOf(store, registry);
    if (changes.empty()) {
        // Undone since: what the side file held is no longer a change.
        removeOwnSideFile(store);
        if (store.sideFileName.empty()) store.sideGeneration = generation;
        return;
    }
    if (const std::string gone = folderGone(store); !gone.empty()) {
        report.sideProblem = std::string(unsavedFileName) + " could not be written either (" +
                             gone + "), so " + lostChangesText(store, registry);
        return;
    }
    if (store.sideRun.sequence == 0) {
        store.sideRun.sequence = nextSequence(store);
        store.sideRun.identity = runIdentity();
        store.sideRun.writer = processId();
    }
    const std::string image = encodeChangeFile(store.sideRun, changes);
    std::string name = store.sideFileName;
    WriteResult result = WriteResult::failed;
    std::string error;
    if (!name.empty()) {
        result = writeBeside(store, name, image.data(), image.size(), true, nullptr);
        if (result != WriteResult::written) error = lastSystemError();
    } else {
        const std::string base = std::string(unsavedFileName) + "." +
                                 (store.runStamp.empty() ? "" : store.runStamp + "-") +
                                 number(processId());
        for (uint64_t n = 0;; ++n) {
            name = n == 0 ? base : base + "." + number(n);
            result = writeBeside(store, name, image.data(), image.size(), false, nullptr);
            // The write's own reason, before the look at the name sets another.
            if (result != WriteResult::written) error = lastSystemError();
            if (result != WriteResult::failed ||
                pathKindOf(store.held, name.c_str()) == PathKind::missing)
                break;
        }
        if (result != WriteResult::failed) store.sideFileName = name;
    }
    switch (result) {
    case WriteResult::written:
        report.sideName = name;
        store.sideGeneration = generation;
        break;
    case WriteResult::renamedUnflushed:
        report.sideName = name;
        report.sideProblem = name + " is written, but flushing its folder failed (" + error +
                             "); it may not survive a power cut";
        break;
    case WriteResult::failed:
        report.sideProblem = name + " could not be written either (" + error + "), so " +
                             lostChangesText(store, registry);
        break;
    }
}

void keepInSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    writeSideFile(store, registry, report);
}

void forgetSideFile(RegistryStore& store) {
    removeOwnSideFile(store);
}
