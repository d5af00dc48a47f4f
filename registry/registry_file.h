// The registry file "Zandrel.teams": a plain sequence of 284-byte record
// images, each scrambled word by word with a constant key.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "platform/platform.h"
#include "registry/freq_registry.h"

extern const char registryFileName[];
constexpr uint32_t recordKey = 0x2B7D4E19u;

// XORs each of the 71 little-endian words of one record image with the key;
// the same call scrambles and unscrambles.
void scrambleRecord(unsigned char* image);

// Shown each record as it is read or laid out, in order, while it is still
// in the cache: what must look at every record costs no second pass.
struct RecordVisitor {
    void (*visit)(void* context, const FreqRecord& record) = nullptr;
    void* context = nullptr;
};

// The file image of the registry's records in list order, in a buffer that
// is not cleared first (every byte is written), so a save of many records
// pays for one pass. Saves take it apart (auto [bytes, size]); a test or a
// tool reads it as text.
struct RegistryImage {
    std::unique_ptr<unsigned char[]> bytes;
    size_t size = 0;
    std::string_view view() const { return {reinterpret_cast<const char*>(bytes.get()), size}; }
    operator std::string() const { return std::string(view()); }
    bool operator==(std::string_view other) const { return view() == other; }
    bool operator==(const RegistryImage& other) const { return view() == other.view(); }
};
RegistryImage registryImage(FreqRegistry& registry, RecordVisitor visitor = {});

// Appends the records of a file image to the registry; false, with nothing
// added, when the size is not a multiple of the record size.
bool addRecordsFromImage(FreqRegistry& registry, const unsigned char* image, size_t size);

// Reads a registry file into the registry (appending), all or nothing. It
// never opens anything but a regular file, so a FIFO or a device can't block
// or run on, and more than maxRecords records are not read at all.
// passing: a failure that may pass by itself (too many open files, an I/O
// error, the file changing while read); the file is not to be judged by it.
// unopenable: the system would not open it, for a reason that does not pass
// by itself (no permission): that says nothing of what it holds.
enum class ReadStatus { missing, read, unreadable, notWhole, tooLarge, passing, unopenable };
struct ReadReport {
    ReadStatus status = ReadStatus::missing;
    uint64_t size = 0;
    std::string reason; // for anything but missing and read
};
ReadReport readRegistryFile(const char* path, FreqRegistry& registry, uint64_t maxRecords);
// The same for the file of that name in a folder.
ReadReport readRegistryFile(const Folder& folder, const char* name, FreqRegistry& registry,
                            uint64_t maxRecords, RecordVisitor visitor = {});

// The temporary suffix of this process's saves: no other process uses it.
std::string processTemporarySuffix();
