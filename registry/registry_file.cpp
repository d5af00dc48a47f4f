#include "registry/registry_file.h"

#include <bit>
#include <cstdio>
#include <cstring>
#include <memory>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "text/number.h"

const char registryFileName[] = "Zandrel.teams";

namespace {

// The key as it lies in memory once stored little-endian, so that a word read
// in the machine's own order is scrambled by one XOR whatever the byte order.
constexpr uint32_t keyInMemoryOrder = std::endian::native == std::endian::little
                                          ? recordKey
                                          : (recordKey >> 24 | (recordKey >> 8 & 0xFF00u) |
                                             (recordKey << 8 & 0xFF0000u) | recordKey << 24);

// Four words at a time, which the compiler turns into one vector operation,
// and the copy made in the same pass: the save and the load take every byte
// of the registry through here. A record is 17 such steps and three words.
constexpr uint64_t doubleKey = uint64_t(keyInMemoryOrder) << 32 | keyInMemoryOrder;
static_assert(freqRecordSize % 16 == 12);

void scrambleCopy(unsigned char* to, const unsigned char* from) {
    size_t offset = 0;
    for (; offset + 16 <= freqRecordSize; offset += 16) {
        uint64_t words[2];
        std::memcpy(words, from + offset, 16);
        words[0] ^= doubleKey;
        words[1] ^= doubleKey;
        std::memcpy(to + offset, words, 16);
    }
    uint64_t pair;
    std::memcpy(&pair, from + offset, 8);
    pair ^= doubleKey;
    std::memcpy(to + offset, &pair, 8);
    uint32_t word;
    std::memcpy(&word, from + offset + 8, 4);
    word ^= keyInMemoryOrder;
    std::memcpy(to + offset + 8, &word, 4);
}

void writeImage(FreqRegistry& registry, unsigned char* out) {
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        scrambleCopy(out, reinterpret_cast<const unsigned char*>(r));
        out += freqRecordSize;
    }
}

} // namespace

void scrambleRecord(unsigned char* image) {
    scrambleCopy(image, image); // each word is read before it is written
}

std::string registryImage(FreqRegistry& registry) {
    std::string image(size_t(registry.freqs.count()) * freqRecordSize, '\0');
    writeImage(registry, reinterpret_cast<unsigned char*>(image.data()));
    return image;
}

namespace {

void appendRecords(FreqChainedList<FreqRecord>& freqs, const unsigned char* image, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        FreqRecord record;
        scrambleCopy(reinterpret_cast<unsigned char*>(&record), image + i * freqRecordSize);
        freqs.append(record);
    }
}

} // namespace

bool addRecordsFromImage(FreqRegistry& registry, const unsigned char* image, size_t size) {
    if (size % freqRecordSize != 0) return false;
    appendRecords(registry.freqs, image, size / freqRecordSize);
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
    long size = -1;
    if (std::fseek(file, 0, SEEK_END) == 0) size = std::ftell(file);
    bool whole =
        size >= 0 && size % long(freqRecordSize) == 0 && std::fseek(file, 0, SEEK_SET) == 0;
    // Read a block of records at a time, so that only the records themselves
    // take memory, into a list of their own, so that a read that falls short
    // adds nothing.
    FreqChainedList<FreqRecord> loaded;
    if (whole) {
        constexpr size_t blockRecords = 256;
        auto block = std::make_unique_for_overwrite<unsigned char[]>(blockRecords * freqRecordSize);
        for (size_t left = size_t(size) / freqRecordSize; whole && left != 0;) {
            const size_t count = left < blockRecords ? left : blockRecords;
            whole = std::fread(block.get(), freqRecordSize, count, file) == count;
            if (whole) appendRecords(loaded, block.get(), count);
            left -= count;
        }
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
    if (registry.freqs.count() == 0) {
        registry.freqs = std::move(loaded);
    } else {
        for (FreqRecord* r = loaded.first(); r; r = loaded.next(r))
            registry.freqs.append(*r);
    }
    return true;
}

bool saveRegistry(FreqRegistry& registry) {
    // Every byte is written over, so the buffer is not cleared first.
    const size_t size = size_t(registry.freqs.count()) * freqRecordSize;
    auto image = std::make_unique_for_overwrite<unsigned char[]>(size + 1);
    writeImage(registry, image.get());
    return replaceFileContents(registryFileName, image.get(), size);
}
