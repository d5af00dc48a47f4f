// Arbitrary bytes as a side file. Whatever they are, decoding never reads
// past them; a side file of changes written again from what was decoded is
// the same bytes; and its changes merged into a registry, then merged again,
// find each one done or a conflict: a merge run twice makes nothing twice.
#include <cstring>
#include <string>
#include <vector>

#include "fuzz/fuzz_support.h"
#include "registry/change_file.h"
#include "registry/change_merge.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const DecodedChangeFile file = decodeChangeFile(bytes);
    if (file.kind == ChangeFileKind::changes)
        FUZZ_CHECK(encodeChangeFile(file.run, file.changes) == bytes);
    if (file.kind == ChangeFileKind::torn || file.kind == ChangeFileKind::foreign)
        FUZZ_CHECK(file.changes.empty() && !file.reason.empty());
    // A small registry: a few freqs the input names, as their bases hold them.
    std::vector<FreqRecord> registry;
    for (size_t i = 0; i < file.changes.size() && i < 8; ++i)
        if (file.changes[i].baseKind == BaseKind::record) registry.push_back(file.changes[i].base);
    MergeTarget target;
    startMerge(target, registry);
    for (const FreqChange& change : file.changes)
        mergeChange(target, change, (change.freq & 1) != 0);
    const size_t merged = mergedRecords(target).size();
    for (const FreqChange& change : file.changes) {
        const ChangeOutcome again = mergeChange(target, change, false).outcome;
        FUZZ_CHECK(again == ChangeOutcome::done || again == ChangeOutcome::conflict);
    }
    FUZZ_CHECK(mergedRecords(target).size() == merged);
    return 0;
}
