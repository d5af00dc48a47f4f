// The run's side file: what this process holds, kept beside a registry it
// may not write over.
#include "registry/store_rooms.h"

#include <algorithm>
#include <new>

#include "registry/registry_file.h"

const char unsavedFileName[] = "Zandrel.teams.unsaved";

namespace {

uint64_t recordDigest(const FreqRecord& record) {
    // FNV-1a over the record's bytes as they lie in memory.
    uint64_t digest = 14695981039346656037ull;
    const auto* bytes = reinterpret_cast<const unsigned char*>(&record);
    for (size_t i = 0; i < freqRecordSize; ++i)
        digest = (digest ^ bytes[i]) * 1099511628211ull;
    return digest;
}

} // namespace

void rememberSavedRecords(RegistryStore& store, FreqRegistry& registry) {
    store.savedRecordsKnown = false;
    try {
        std::vector<std::pair<uint16_t, uint64_t>> records;
        records.reserve(registry.freqs.count());
        for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
            records.emplace_back(r->freq, recordDigest(*r));
        std::sort(records.begin(), records.end());
        store.savedRecords = std::move(records);
        store.savedRecordsKnown = true;
    } catch (const std::bad_alloc&) {
        store.savedRecords.clear(); // which changes are lost is then not told
    }
}

std::string changesSinceSave(const RegistryStore& store, FreqRegistry& registry) {
    if (!store.savedRecordsKnown) return {};
    constexpr size_t named = 20;
    std::string text;
    size_t count = 0;
    const auto add = [&](uint16_t freq, const char* what) {
        if (++count > named) return;
        text += text.empty() ? "freq " : ", ";
        text += number(freq) + " " + what;
    };
    const auto& saved = store.savedRecords;
    std::vector<bool> seen(saved.size());
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        const auto at =
            std::lower_bound(saved.begin(), saved.end(), std::pair<uint16_t, uint64_t>(r->freq, 0));
        if (at == saved.end() || at->first != r->freq) {
            add(r->freq, "new");
            continue;
        }
        seen[size_t(at - saved.begin())] = true;
        if (at->second != recordDigest(*r)) add(r->freq, "changed");
    }
    for (size_t i = 0; i < saved.size(); ++i)
        if (!seen[i]) add(saved[i].first, "unregistered");
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
    if (unchangedSinceLoad(store, registry)) return; // nothing that the file lacks
    if (const std::string gone = folderGone(store); !gone.empty()) {
        report.sideProblem = std::string(unsavedFileName) + " could not be written either (" +
                             gone + "), so " + lostChangesText(store, registry);
        return;
    }
    const auto [image, size] = registryImage(registry);
    std::string name = store.sideFileName;
    WriteResult result = WriteResult::failed;
    if (!name.empty()) {
        result = writeBeside(store, name, image.get(), size, true, nullptr);
    } else {
        const std::string base = std::string(unsavedFileName) + "." +
                                 (store.runStamp.empty() ? "" : store.runStamp + "-") +
                                 number(processId());
        for (uint64_t n = 0;; ++n) {
            name = n == 0 ? base : base + "." + number(n);
            result = writeBeside(store, name, image.get(), size, false, nullptr);
            if (result != WriteResult::failed ||
                pathKindOf(store.held, name.c_str()) == PathKind::missing)
                break;
        }
        if (result != WriteResult::failed) store.sideFileName = name;
    }
    switch (result) {
    case WriteResult::written:
        report.sideName = name;
        break;
    case WriteResult::renamedUnflushed:
        report.sideName = name;
        report.sideProblem = unflushed(name);
        break;
    case WriteResult::failed:
        report.sideProblem = name + " could not be written either (" + lastSystemError() +
                             "), so " + lostChangesText(store, registry);
        break;
    }
}

void keepInSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    writeSideFile(store, registry, report);
}
