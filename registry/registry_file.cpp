#include "registry/registry_file.h"

#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "text/number.h"

const char registryFileName[] = "Zandrel.teams";

void scrambleRecord(unsigned char* image) {
    for (size_t offset = 0; offset < freqRecordSize; offset += 4) {
        uint32_t word = uint32_t(image[offset]) | uint32_t(image[offset + 1]) << 8 |
                        uint32_t(image[offset + 2]) << 16 | uint32_t(image[offset + 3]) << 24;
        word ^= recordKey;
        image[offset] = uint8_t(word);
        image[offset + 1] = uint8_t(word >> 8);
        image[offset + 2] = uint8_t(word >> 16);
        image[offset + 3] = uint8_t(word >> 24);
    }
}

std::string registryImage(FreqRegistry& registry) {
    std::string image(size_t(registry.freqs.count()) * freqRecordSize, '\0');
    auto* out = reinterpret_cast<unsigned char*>(image.data());
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        std::memcpy(out, r, freqRecordSize);
        scrambleRecord(out);
        out += freqRecordSize;
    }
    return image;
}

bool addRecordsFromImage(FreqRegistry& registry, const unsigned char* image, size_t size) {
    if (size % freqRecordSize != 0) return false;
    unsigned char buffer[freqRecordSize];
    for (size_t offset = 0; offset < size; offset += freqRecordSize) {
        std::memcpy(buffer, image + offset, freqRecordSize);
        scrambleRecord(buffer);
        FreqRecord record;
        std::memcpy(&record, buffer, freqRecordSize);
        registry.freqs.append(record);
    }
    return true;
}

// Moves a damaged file out of the way of the next save, never over an earlier one.
static std::string keepDamagedFile() {
    std::string base = std::string(registryFileName) + ".damaged";
    for (int32_t n = 0; n < 1000; ++n) {
        std::string name = base;
        if (n > 0) {
            name += ".";
            name += numberToText(uint32_t(n), 10, 0, false).view();
        }
        if (renameNoReplace(registryFileName, name.c_str())) return name;
    }
    return {};
}

bool loadRegistry(FreqRegistry& registry) {
    std::FILE* file = std::fopen(registryFileName, "rb");
    if (!file) return true;
    bool whole = false;
    std::unique_ptr<unsigned char[]> image;
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    if (size >= 0 && size % long(freqRecordSize) == 0 && std::fseek(file, 0, SEEK_SET) == 0) {
        image = std::make_unique<unsigned char[]>(size_t(size) + 1);
        whole = std::fread(image.get(), 1, size_t(size), file) == size_t(size);
    }
    std::fclose(file);
    if (!whole) {
        registry.damagedFileKeptAs = keepDamagedFile();
        Text change("registry file damaged (size ");
        change.append(numberToText(uint32_t(size), 10, 0, false));
        change.append(registry.damagedFileKeptAs.empty() ? "), could not be kept aside"
                                                         : "), kept as ");
        change.append(registry.damagedFileKeptAs.c_str());
        auditLog({}, "load", noFreq, change.view());
        return false;
    }
    return addRecordsFromImage(registry, image.get(), size_t(size));
}

bool saveRegistry(FreqRegistry& registry) {
    std::string image = registryImage(registry);
    return replaceFileContents(registryFileName, image.data(), image.size());
}
