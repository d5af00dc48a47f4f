// The run's side file: what this process holds, kept beside a registry it
// may not write over.
#include "registry/store_rooms.h"

#include "registry/registry_file.h"

const char unsavedFileName[] = "Zandrel.teams.unsaved";

void writeSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    if (unchangedSinceLoad(store, registry)) return; // nothing that the file lacks
    if (const std::string gone = folderGone(store); !gone.empty()) {
        report.sideProblem = std::string(unsavedFileName) + " could not be written either (" +
                             gone + "), so the changes made since the last save are lost";
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
                             "), so the changes made since the last save are lost";
        break;
    }
}

void keepInSideFile(RegistryStore& store, FreqRegistry& registry, SaveReport& report) {
    writeSideFile(store, registry, report);
}
