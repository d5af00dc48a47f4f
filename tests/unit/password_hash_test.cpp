#include "registry/password_hash.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <iterator>
#include <string>
#include <vector>

namespace {

std::string toHex(const unsigned char digest[16]) {
    std::string hex;
    char two[3];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(two, sizeof two, "%02x", digest[i]);
        hex += two;
    }
    return hex;
}

std::string digestHex(const std::string& message) {
    unsigned char digest[16];
    md5Digest(message.data(), message.size(), digest);
    return toHex(digest);
}

// Bytes of every value, so that sign or masking faults in the word loads show.
std::string patternOf(size_t length) {
    std::string s(length, '\0');
    for (size_t i = 0; i < length; ++i)
        s[i] = static_cast<char>((i * 37 + 11) & 0xFF);
    return s;
}

struct DigestCase {
    const char* name;
    std::string message;
    const char* hex; // from coreutils md5sum on the same bytes
};

} // namespace

TEST(Md5Digest, MatchesReferenceDigests) {
    const DigestCase cases[] = {
        // The test suite of RFC 1321, appendix A.5.
        {"empty", "", "d41d8cd98f00b204e9800998ecf8427e"},
        {"a", "a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"alphabet", "abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"alphanumeric", "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789",
         "d174ab98d277d9f5a5611c2c9f419d9f"},
        {"80 digits",
         "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
         "57edf4a22be3c955ac49da2e2107b67a"},
        // Around the padding boundaries: 55 bytes still take one padded
        // block, 56 to 63 need a second one, 64 is one whole block plus a
        // padding block, 65 spills one byte into the tail.
        {"55 bytes", patternOf(55), "d872aa0473a24da995ce4ac518ade767"},
        {"56 bytes", patternOf(56), "e23567645846677c205de80f9779081b"},
        {"63 bytes", patternOf(63), "4775b66278a8fc132ff80923378216cd"},
        {"64 bytes", patternOf(64), "71e123b70c7aa64826fcfe472694cd1c"},
        {"65 bytes", patternOf(65), "5949948f26e35203661075214faa3966"},
        {"127 bytes", patternOf(127), "520bdc2dbab7c25d64263ffb242d9e98"},
        {"128 bytes", patternOf(128), "3e93b378458b77da96b2357c3bda8cc2"},
        {"129 bytes", patternOf(129), "d1ae06bbf9128955a34bedb6231eee62"},
        {"a million a", std::string(1000000, 'a'), "7707d6ae4e027c70eea2a935c2296f21"},
    };
    for (const DigestCase& c : cases)
        EXPECT_EQ(digestHex(c.message), c.hex) << c.name;
}

TEST(Md5Digest, ReadsInputAtAnyAlignment) {
    // Whole blocks are read in place from the caller's bytes; an input that
    // starts at an odd address must give the same digest.
    const std::string message = patternOf(129);
    for (size_t offset = 0; offset < 8; ++offset) {
        std::vector<unsigned char> buffer(offset + message.size());
        std::copy(message.begin(), message.end(), buffer.begin() + offset);
        unsigned char digest[16];
        md5Digest(buffer.data() + offset, message.size(), digest);
        EXPECT_EQ(toHex(digest), "d1ae06bbf9128955a34bedb6231eee62") << "offset " << offset;
    }
}

TEST(Md5Digest, EmptyInputNeedsNoBytes) {
    unsigned char digest[16];
    md5Digest(nullptr, 0, digest);
    EXPECT_EQ(toHex(digest), "d41d8cd98f00b204e9800998ecf8427e");
}

// The padding ends every message, of any length up to 2^64 bits: its bit
// count must not wrap at 32 bits, which a message of 2^29 bytes (2^32 bits)
// would show as a count of zero.
TEST(Md5Digest, PaddingCountsTheLengthInSixtyFourBits) {
    struct {
        uint64_t length;
        size_t size;             // 0x80, zeros, then the count: up to a block's end
        uint64_t countInPadding; // the last 8 bytes, little-endian
    } const cases[] = {
        {0, 64, 0},
        {55, 9, 440},
        {56, 72, 448},
        {63, 65, 504},
        {64, 64, 512},
        {(uint64_t(1) << 29) - 1, 65, (uint64_t(1) << 32) - 8},
        {uint64_t(1) << 29, 64, uint64_t(1) << 32},
        {(uint64_t(1) << 29) + 3, 61, (uint64_t(1) << 32) + 24},
        {uint64_t(5) << 40, 64, uint64_t(5) << 43},
        // Taken modulo 2^64 bits.
        {(uint64_t(1) << 61) - 1, 65, ~uint64_t(7)},
        {uint64_t(1) << 61, 64, 0},
    };
    for (const auto& c : cases) {
        unsigned char padding[80];
        std::fill(std::begin(padding), std::end(padding), 0xEE);
        ASSERT_EQ(md5Padding(c.length, padding), c.size) << c.length;
        EXPECT_EQ((c.length + c.size) % 64, 0u) << c.length;
        EXPECT_EQ(padding[0], 0x80) << c.length;
        for (size_t i = 1; i < c.size - 8; ++i)
            ASSERT_EQ(padding[i], 0) << c.length << " byte " << i;
        uint64_t count = 0;
        for (size_t i = 0; i < 8; ++i)
            count |= uint64_t(padding[c.size - 8 + i]) << (8 * i);
        EXPECT_EQ(count, c.countInPadding) << c.length;
        EXPECT_EQ(padding[c.size], 0xEE) << c.length << ": written past its size";
    }
}

TEST(HashPassword, FoldsDigestWordsLittleEndian) {
    struct {
        std::string password;
        uint32_t hash; // the four little-endian words of the digest XORed
    } const cases[] = {
        {"abc", 0x275FA452}, // 900150983cd24fb0d6963f7d28e17f72 folded
        {"", 0x3B75655E},    // d41d8cd9... folded
        {"Abc", 0x365A0E5A}, // case is kept...
        {"abC", 0x3CBE64AF}, // ...in every position
        {std::string(1000000, 'a'), 0xCA6C8E15},
    };
    for (const auto& c : cases)
        EXPECT_EQ(hashPassword(c.password.data(), static_cast<uint32_t>(c.password.size())), c.hash)
            << "length " << c.password.size();
}

TEST(HashPassword, HashesExactlyLengthBytes) {
    // No terminator is hashed and nothing past the length is read.
    const char text[] = "abcdef";
    EXPECT_EQ(hashPassword(text, 3), 0x275FA452u);
    EXPECT_NE(hashPassword(text, 4), 0x275FA452u);
    EXPECT_EQ(hashPassword(nullptr, 0), 0x3B75655Eu);
}
