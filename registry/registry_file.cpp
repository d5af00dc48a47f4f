#include "registry/registry_file.h"

#include <bit>
#include <cstring>
#include <memory>

#include "platform/platform.h"
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

void writeImage(FreqRegistry& registry, unsigned char* out, RecordVisitor visitor) {
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        if (visitor.visit) visitor.visit(visitor.context, *r);
        scrambleCopy(out, reinterpret_cast<const unsigned char*>(r));
        out += freqRecordSize;
    }
}

} // namespace

void scrambleRecord(unsigned char* image) {
    scrambleCopy(image, image); // each word is read before it is written
}

RegistryImage registryImage(FreqRegistry& registry, RecordVisitor visitor) {
    RegistryImage image;
    image.size = size_t(registry.freqs.count()) * freqRecordSize;
    image.bytes = std::make_unique_for_overwrite<unsigned char[]>(image.size + 1);
    writeImage(registry, image.bytes.get(), visitor);
    return image;
}

namespace {

void appendRecords(FreqChainedList<FreqRecord>& freqs, const unsigned char* image, size_t count,
                   RecordVisitor visitor = {}) {
    for (size_t i = 0; i < count; ++i) {
        FreqRecord record;
        scrambleCopy(reinterpret_cast<unsigned char*>(&record), image + i * freqRecordSize);
        if (visitor.visit) visitor.visit(visitor.context, record);
        freqs.append(record);
    }
}

} // namespace

bool addRecordsFromImage(FreqRegistry& registry, const unsigned char* image, size_t size) {
    if (size % freqRecordSize != 0) return false;
    appendRecords(registry.freqs, image, size / freqRecordSize);
    return true;
}

ReadReport readRegistryFile(const char* path, FreqRegistry& registry, uint64_t maxRecords) {
    return readRegistryFile(Folder{}, path, registry, maxRecords);
}

ReadReport readRegistryFile(const Folder& folder, const char* name, FreqRegistry& registry,
                            uint64_t maxRecords, RecordVisitor visitor) {
    ReadReport report;
    ReadableFile file;
    switch (openRegularFile(folder, name, file)) {
    case OpenResult::missing:
        return report;
    case OpenResult::notRegular:
        report.status = ReadStatus::unreadable;
        report.reason = "it is not a regular file";
        return report;
    case OpenResult::failed:
        report.status = lastErrorIsPassing() ? ReadStatus::passing : ReadStatus::unopenable;
        report.reason = lastSystemError();
        return report;
    case OpenResult::opened:
        break;
    }
    report.size = file.size;
    if (file.size % freqRecordSize != 0) {
        closeReadableFile(file);
        report.status = ReadStatus::notWhole;
        report.reason = "its size is not a whole number of records";
        return report;
    }
    if (file.size / freqRecordSize > maxRecords) {
        closeReadableFile(file);
        report.status = ReadStatus::tooLarge;
        report.reason = "it holds more than ";
        report.reason += decimalText(uint32_t(maxRecords)).view();
        report.reason += " records";
        return report;
    }
    // A block of records at a time, so that only the records themselves take
    // memory, into a list of their own, so that a read that falls short adds
    // nothing.
    FreqChainedList<FreqRecord> loaded;
    constexpr size_t blockRecords = 256;
    auto block = std::make_unique_for_overwrite<unsigned char[]>(blockRecords * freqRecordSize);
    for (size_t left = size_t(file.size / freqRecordSize); left != 0;) {
        const size_t count = left < blockRecords ? left : blockRecords;
        if (!readExactly(file, block.get(), count * freqRecordSize)) {
            // It opened and its size is sound: an error while reading, or a
            // file that shrank under us, says nothing of its content.
            report.status = ReadStatus::passing;
            report.reason = lastSystemError();
            closeReadableFile(file);
            return report;
        }
        appendRecords(loaded, block.get(), count, visitor);
        left -= count;
    }
    closeReadableFile(file);
    if (registry.freqs.count() == 0) {
        registry.freqs = std::move(loaded);
    } else {
        for (FreqRecord* r = loaded.first(); r; r = loaded.next(r))
            registry.freqs.append(*r);
    }
    report.status = ReadStatus::read;
    return report;
}

std::string processTemporarySuffix() {
    return ".tmp." + std::string(decimalText(processId()).view());
}
