#include "registry/change_file.h"

#include <cstring>
#include <memory>

#include "registry/registry_file.h"
#include "text/number.h"

namespace {

constexpr char magic[8] = {'H', 'D', 'R', 'K', 'C', 'H', 'G', 0};
constexpr size_t checksumSize = 8;
constexpr uint8_t hasBaseFlag = 1, hasNewFlag = 2, unknownBaseFlag = 4;

// FNV-1a's step over 64-bit little-endian words in four lanes (word i in
// lane i mod 4, the last bytes zero-filled to a word), the lanes then folded
// in order with the length: the four multiplications run side by side, so a
// side file of 65,536 changes is checked in a fraction of its reading.
uint64_t checksumOf(std::string_view bytes) {
    constexpr uint64_t prime = 1099511628211ull;
    uint64_t lanes[4] = {14695981039346656037ull, 14695981039346656037ull ^ 1,
                         14695981039346656037ull ^ 2, 14695981039346656037ull ^ 3};
    const size_t words = bytes.size() / 8;
    size_t i = 0;
    for (; i + 4 <= words; i += 4)
        for (size_t lane = 0; lane < 4; ++lane) {
            uint64_t word;
            std::memcpy(&word, bytes.data() + (i + lane) * 8, 8);
            lanes[lane] = (lanes[lane] ^ word) * prime;
        }
    for (; i < words; ++i) {
        uint64_t word;
        std::memcpy(&word, bytes.data() + i * 8, 8);
        lanes[i % 4] = (lanes[i % 4] ^ word) * prime;
    }
    if (const size_t rest = bytes.size() % 8; rest != 0) {
        uint64_t word = 0;
        std::memcpy(&word, bytes.data() + words * 8, rest);
        lanes[words % 4] = (lanes[words % 4] ^ word) * prime;
    }
    uint64_t digest = lanes[0];
    for (size_t lane = 1; lane < 4; ++lane)
        digest = (digest ^ lanes[lane]) * prime;
    return (digest ^ bytes.size()) * prime;
}

template <class T> void put(std::string& out, T value) {
    unsigned char bytes[sizeof(T)];
    for (size_t i = 0; i < sizeof(T); ++i)
        bytes[i] = static_cast<unsigned char>(uint64_t(value) >> (8 * i));
    out.append(reinterpret_cast<const char*>(bytes), sizeof(T));
}

template <class T> T get(std::string_view bytes, size_t at) {
    uint64_t value = 0;
    for (size_t i = 0; i < sizeof(T); ++i)
        value |= uint64_t(static_cast<unsigned char>(bytes[at + i])) << (8 * i);
    return static_cast<T>(value);
}

void putRecord(std::string& out, const FreqRecord& record) {
    unsigned char image[freqRecordSize];
    std::memcpy(image, &record, freqRecordSize);
    scrambleRecord(image);
    out.append(reinterpret_cast<const char*>(image), freqRecordSize);
}

FreqRecord recordAt(std::string_view bytes, size_t at) {
    unsigned char image[freqRecordSize];
    std::memcpy(image, bytes.data() + at, freqRecordSize);
    scrambleRecord(image);
    FreqRecord record;
    std::memcpy(&record, image, freqRecordSize);
    return record;
}

bool startsWithMagic(std::string_view bytes) {
    const size_t n = bytes.size() < sizeof magic ? bytes.size() : sizeof magic;
    return n > 0 && std::memcmp(bytes.data(), magic, n) == 0;
}

DecodedChangeFile wholeRegistryOf(std::string_view bytes) {
    DecodedChangeFile file;
    file.kind = ChangeFileKind::wholeRegistry;
    const size_t count = bytes.size() / freqRecordSize;
    // The first record of a freq is the one a host loads: later ones are not.
    auto seen = std::make_unique<bool[]>(65536);
    file.changes.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        FreqChange change;
        change.now = recordAt(bytes, i * freqRecordSize);
        if (seen[change.now.freq]) continue;
        seen[change.now.freq] = true;
        change.freq = change.now.freq;
        change.baseKind = BaseKind::unknown;
        change.hasNew = true;
        file.changes.push_back(change);
    }
    return file;
}

std::string text(uint64_t value) {
    return std::string(decimalText(uint32_t(value > UINT32_MAX ? UINT32_MAX : value)).view());
}

} // namespace

std::string encodeChangeFile(const ChangeRun& run, const std::vector<FreqChange>& changes) {
    std::string out;
    out.reserve(changeFileHeaderSize + changes.size() * changeEntrySize + checksumSize);
    out.append(magic, sizeof magic);
    put<uint32_t>(out, changeFileVersion);
    put<uint32_t>(out, uint32_t(changes.size()));
    put<uint64_t>(out, run.identity);
    put<uint64_t>(out, run.sequence);
    put<uint32_t>(out, run.writer);
    put<uint32_t>(out, 0);
    for (const FreqChange& change : changes) {
        put<uint16_t>(out, change.freq);
        const uint8_t flags = (change.baseKind == BaseKind::record ? hasBaseFlag : 0) |
                              (change.baseKind == BaseKind::unknown ? unknownBaseFlag : 0) |
                              (change.hasNew ? hasNewFlag : 0);
        put<uint8_t>(out, flags);
        put<uint8_t>(out, 0);
        put<int64_t>(out, change.changedAt);
        putRecord(out, change.baseKind == BaseKind::record ? change.base : FreqRecord{});
        putRecord(out, change.hasNew ? change.now : FreqRecord{});
    }
    put<uint64_t>(out, checksumOf(out));
    return out;
}

bool changeRunOf(std::string_view head, ChangeRun& run) {
    if (head.size() < changeFileHeaderSize || std::memcmp(head.data(), magic, sizeof magic) != 0 ||
        get<uint32_t>(head, 8) != changeFileVersion)
        return false;
    run.identity = get<uint64_t>(head, 16);
    run.sequence = get<uint64_t>(head, 24);
    run.writer = get<uint32_t>(head, 32);
    return true;
}

DecodedChangeFile decodeChangeFile(std::string_view bytes) {
    DecodedChangeFile file;
    if (!startsWithMagic(bytes)) {
        if (bytes.size() % freqRecordSize == 0) return wholeRegistryOf(bytes);
        file.kind = ChangeFileKind::foreign;
        file.reason =
            "neither a side file of changes nor whole records (size " + text(bytes.size()) + ")";
        return file;
    }
    if (bytes.size() < changeFileHeaderSize + checksumSize) {
        file.kind = ChangeFileKind::torn;
        file.reason = "cut short (" + text(bytes.size()) + " bytes)";
        return file;
    }
    const uint32_t version = get<uint32_t>(bytes, 8);
    if (version != changeFileVersion) {
        file.kind = ChangeFileKind::foreign;
        file.reason =
            "a side file of version " + text(version) + ", which this " + "build does not know";
        return file;
    }
    const uint64_t count = get<uint32_t>(bytes, 12);
    const uint64_t expected = changeFileHeaderSize + count * changeEntrySize + checksumSize;
    const std::string_view body = bytes.substr(0, bytes.size() - checksumSize);
    if (expected != bytes.size() ||
        get<uint64_t>(bytes, bytes.size() - checksumSize) != checksumOf(body)) {
        file.kind = ChangeFileKind::torn;
        file.reason = expected != bytes.size() ? "cut short or run on (" + text(bytes.size()) +
                                                     " bytes for " + text(count) + " changes)"
                                               : "its checksum does not match what it holds";
        return file;
    }
    if (get<uint32_t>(bytes, 36) != 0) {
        file.kind = ChangeFileKind::torn;
        file.reason = "its header is malformed";
        return file;
    }
    changeRunOf(bytes, file.run);
    auto seen = std::make_unique<bool[]>(65536);
    file.changes.reserve(size_t(count));
    for (uint64_t i = 0; i < count; ++i) {
        const size_t at = changeFileHeaderSize + size_t(i) * changeEntrySize;
        FreqChange change;
        change.freq = get<uint16_t>(bytes, at);
        const uint8_t flags = get<uint8_t>(bytes, at + 2);
        const bool badFlags = (flags & ~(hasBaseFlag | hasNewFlag | unknownBaseFlag)) != 0 ||
                              (flags & hasBaseFlag && flags & unknownBaseFlag) ||
                              get<uint8_t>(bytes, at + 3) != 0;
        if (badFlags || seen[change.freq]) {
            file = {};
            file.kind = ChangeFileKind::torn;
            file.reason = badFlags ? "a change of freq " + text(change.freq) + " is malformed"
                                   : "freq " + text(change.freq) + " is named twice";
            return file;
        }
        seen[change.freq] = true;
        change.baseKind = flags & hasBaseFlag       ? BaseKind::record
                          : flags & unknownBaseFlag ? BaseKind::unknown
                                                    : BaseKind::none;
        change.hasNew = (flags & hasNewFlag) != 0;
        change.changedAt = get<int64_t>(bytes, at + 4);
        change.base = recordAt(bytes, at + 12);
        change.now = recordAt(bytes, at + 12 + freqRecordSize);
        // A record that is not there is written as zeros: anything else is
        // no file this format writes.
        static const FreqRecord none{};
        const bool strayBase = change.baseKind != BaseKind::record &&
                               std::memcmp(&change.base, &none, sizeof none) != 0;
        const bool strayNew = !change.hasNew && std::memcmp(&change.now, &none, sizeof none) != 0;
        if ((change.baseKind == BaseKind::record && change.base.freq != change.freq) ||
            (change.hasNew && change.now.freq != change.freq) || strayBase || strayNew) {
            file = {};
            file.kind = ChangeFileKind::torn;
            file.reason = "a change of freq " + text(change.freq) +
                          (strayBase || strayNew ? " holds a record where none is"
                                                 : " holds another freq's record");
            return file;
        }
        file.changes.push_back(change);
    }
    file.kind = ChangeFileKind::changes;
    return file;
}

bool runBefore(const ChangeRun& a, const ChangeRun& b) {
    if (a.sequence != b.sequence) return a.sequence < b.sequence;
    return a.identity < b.identity;
}
