#include "recover_check.h"

#include <cstring>
#include <map>

#include "registry/change_file.h"
#include "registry/change_merge.h"
#include "registry/registry_file.h"

namespace {

std::vector<FreqRecord> recordsOf(const std::string* image) {
    std::vector<FreqRecord> records;
    if (!image) return records;
    for (size_t at = 0; at + freqRecordSize <= image->size(); at += freqRecordSize) {
        unsigned char bytes[freqRecordSize];
        std::memcpy(bytes, image->data() + at, freqRecordSize);
        scrambleRecord(bytes);
        FreqRecord record;
        std::memcpy(&record, bytes, freqRecordSize);
        records.push_back(record);
    }
    return records;
}

// Each freq as a host goes by it: its first record.
std::map<uint16_t, FreqRecord> byFreq(const std::vector<FreqRecord>& records) {
    std::map<uint16_t, FreqRecord> freqs;
    for (const FreqRecord& record : records)
        freqs.try_emplace(record.freq, record);
    return freqs;
}

bool sameRecords(const std::map<uint16_t, FreqRecord>& a, const std::map<uint16_t, FreqRecord>& b) {
    if (a.size() != b.size()) return false;
    for (const auto& [freq, record] : a) {
        const auto other = b.find(freq);
        if (other == b.end() || std::memcmp(&record, &other->second, sizeof record) != 0)
            return false;
    }
    return true;
}

} // namespace

std::string checkSideFileRecovers(const std::string& side, const std::string* registry,
                                  const std::string& memoryImage) {
    const DecodedChangeFile file = decodeChangeFile(side);
    if (file.kind != ChangeFileKind::changes)
        return "it is no side file of changes: " + file.reason;
    const std::vector<FreqRecord> before = recordsOf(registry);

    MergeTarget target;
    startMerge(target, before);
    for (const FreqChange& change : file.changes)
        if (mergeChange(target, change, false).outcome == ChangeOutcome::conflict)
            return "recover finds a conflict on freq " + std::to_string(change.freq) +
                   " in the run's own changes";
    const std::vector<FreqRecord> merged = mergedRecords(target);
    if (!sameRecords(byFreq(merged), byFreq(recordsOf(&memoryImage))))
        return "recover does not give what memory held";
    for (const FreqChange& change : file.changes)
        if (mergeChange(target, change, false).outcome != ChangeOutcome::done)
            return "recover run again changes freq " + std::to_string(change.freq) + " again";

    // A later run saved its own change of every freq the side file names:
    // recover must keep each of those, a conflict at most.
    std::vector<FreqRecord> later = before;
    std::map<uint16_t, FreqRecord> laterOf;
    for (const FreqChange& change : file.changes) {
        FreqRecord record{};
        bool found = false;
        for (FreqRecord& r : later)
            if (r.freq == change.freq) {
                record = r;
                found = true;
                break;
            }
        record.freq = change.freq;
        setTextField(record.freqName, "a later run's");
        record.passwordHash ^= 0x5A5A5A5Au;
        if (found) {
            for (FreqRecord& r : later)
                if (r.freq == change.freq) {
                    r = record;
                    break;
                }
        } else {
            later.push_back(record);
        }
        laterOf[change.freq] = record;
    }
    startMerge(target, later);
    for (const FreqChange& change : file.changes)
        mergeChange(target, change, false);
    const std::map<uint16_t, FreqRecord> kept = byFreq(mergedRecords(target));
    for (const auto& [freq, record] : laterOf) {
        const auto at = kept.find(freq);
        if (at == kept.end() || !sameButLastUse(at->second, record))
            return "recover reverts a later run's change of freq " + std::to_string(freq);
    }
    return {};
}
