// The registry file at sizes that cross the load's read blocks, and the
// scramble over every word of a record.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "registry/registry_file.h"
#include "temp_dir.h"
#include "tests/fakes/lone_registry_file.h"

namespace {

// Word by word, as the file format defines it, independent of the library's
// own loop.
std::string scrambledByWords(std::string bytes) {
    for (size_t offset = 0; offset + 4 <= bytes.size(); offset += 4) {
        uint32_t word = 0;
        for (int i = 0; i < 4; ++i)
            word |= uint32_t(uint8_t(bytes[offset + i])) << (8 * i);
        word ^= recordKey;
        for (int i = 0; i < 4; ++i)
            bytes[offset + i] = char(word >> (8 * i));
    }
    return bytes;
}

// A file of `count` records, each with every byte in use (padding included).
std::string fileOf(uint32_t count, uint16_t firstFreq) {
    std::string plain;
    uint32_t x = 12345;
    for (uint32_t i = 0; i < count; ++i) {
        FreqRecord r;
        auto* bytes = reinterpret_cast<unsigned char*>(&r);
        for (size_t b = 0; b < sizeof r; ++b) {
            x = x * 1103515245u + 12345u;
            bytes[b] = uint8_t(x >> 16);
        }
        r.freq = uint16_t(firstFreq + i);
        plain.append(reinterpret_cast<const char*>(&r), sizeof r);
    }
    return scrambledByWords(plain);
}

TEST(RecordScramble, EveryWordOfARecordIsXoredWithTheKey) {
    const std::string file = fileOf(1, 100);
    std::string plain = scrambledByWords(file);
    auto* image = reinterpret_cast<unsigned char*>(plain.data());
    scrambleRecord(image);
    EXPECT_EQ(plain, file);
}

class RegistryFileBulk : public ::testing::Test {
  protected:
    TempDir dir;
};

// 513 records: two whole read blocks of 256 and one record more.
TEST_F(RegistryFileBulk, RecordsAcrossReadBlocksLoadInOrderAndSaveBackUnchanged) {
    const uint32_t count = 513;
    const std::string file = fileOf(count, 1000);
    TempDir::write(registryFileName, file);

    FreqRegistry registry;
    ASSERT_TRUE(loadRegistry(registry));
    ASSERT_EQ(registry.freqs.count(), count);
    uint16_t expected = 1000;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        EXPECT_EQ(r->freq, expected++);
    // Lookups, removal and appending work on what the load built.
    for (uint16_t freq : {1000, 1255, 1256, 1511, 1512})
        ASSERT_NE(findFreq(registry, freq), nullptr) << freq;
    removeFreq(registry, findFreq(registry, 1256));
    EXPECT_EQ(findFreq(registry, 1256), nullptr);
    char owner[20] = "Newcomer";
    addFreq(registry, 1256, owner, 0);
    EXPECT_EQ(registry.freqs.count(), count);

    ASSERT_TRUE(saveRegistry(registry));
    const std::string saved = TempDir::read(registryFileName);
    ASSERT_EQ(saved.size(), file.size());
    // The removed record's image is gone from the middle, the new one is last.
    const size_t at = 256 * freqRecordSize;
    EXPECT_EQ(saved.compare(0, at, file, 0, at), 0);
    EXPECT_EQ(saved.compare(at, file.size() - at - freqRecordSize, file, at + freqRecordSize,
                            file.size() - at - freqRecordSize),
              0);
}

TEST_F(RegistryFileBulk, LoadingIntoAFilledRegistryAppendsAfterItsRecords) {
    TempDir::write(registryFileName, fileOf(300, 500));
    FreqRegistry registry;
    char owner[20] = "Earlier";
    addFreq(registry, 600, owner, 0);

    ASSERT_TRUE(loadRegistry(registry));
    ASSERT_EQ(registry.freqs.count(), 301u);
    EXPECT_EQ(fieldOf(registry.freqs.first()->owner), "Earlier");
    EXPECT_EQ(registry.freqs.next(registry.freqs.first())->freq, 500);
    // The file's own freq 600 comes after, so the earlier record is found.
    EXPECT_EQ(fieldOf(findFreq(registry, 600)->owner), "Earlier");
}

} // namespace
