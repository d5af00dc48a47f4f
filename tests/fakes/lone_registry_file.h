// One registry file read and written on its own, without the store's lock,
// backups or keeping aside, for the tests, fuzzers, soak and benchmarks that
// look at the file itself.
#pragma once

#include <cstdint>
#include <string>

#include "platform/platform.h"
#include "registry/registry_file.h"

// True when "Zandrel.teams" was missing or read whole; nothing is moved aside.
inline bool loadRegistry(FreqRegistry& registry) {
    const ReadStatus status = readRegistryFile(registryFileName, registry, UINT32_MAX).status;
    return status == ReadStatus::missing || status == ReadStatus::read;
}

// The crash-safe write the store uses, keeping the file's permissions and a
// link at its name.
inline bool saveRegistry(FreqRegistry& registry) {
    const auto [image, size] = registryImage(registry);
    const std::string suffix = processTemporarySuffix();
    SafeWrite write;
    write.path = registryFileName;
    write.temporarySuffix = suffix.c_str();
    write.data = image.get();
    write.size = size;
    write.followLink = true;
    return writeFileSafely(write) != WriteResult::failed;
}
