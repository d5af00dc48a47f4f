#include "registry/password_hash.h"

#include <bit>
#include <cstring>

// MD5 written out from RFC 1321. Every join with a password runs through here,
// so the rounds are unrolled with their constants, whole blocks are read
// straight from the caller's bytes and only the padded tail is copied.

namespace {

struct Md5State {
    uint32_t a, b, c, d;
};

// Little-endian 32-bit load from any alignment.
inline uint32_t loadLe32(const unsigned char* p) {
    if constexpr (std::endian::native == std::endian::little) {
        uint32_t v;
        std::memcpy(&v, p, sizeof v);
        return v;
    } else {
        return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
    }
}

inline void storeLe32(unsigned char* p, uint32_t v) {
    p[0] = static_cast<unsigned char>(v);
    p[1] = static_cast<unsigned char>(v >> 8);
    p[2] = static_cast<unsigned char>(v >> 16);
    p[3] = static_cast<unsigned char>(v >> 24);
}

// The four auxiliary functions in forms that need the fewest operations.
// G's two terms never share a set bit, so their sum equals their OR and lets
// the addition start before the whole function is known.
#define MD5_F(x, y, z) ((z) ^ ((x) & ((y) ^ (z))))
#define MD5_G(x, y, z) (((x) & (z)) + ((y) & ~(z)))
#define MD5_H(x, y, z) ((x) ^ (y) ^ (z))
#define MD5_I(x, y, z) ((y) ^ ((x) | ~(z)))

#define MD5_STEP(f, a, b, c, d, x, t, s)                                                           \
    (a) += f((b), (c), (d)) + (x) + (t);                                                           \
    (a) = std::rotl((a), (s)) + (b)

void processBlocks(Md5State& state, const unsigned char* p, size_t blocks) {
    uint32_t a = state.a, b = state.b, c = state.c, d = state.d;
    for (; blocks != 0; --blocks, p += 64) {
        const uint32_t x0 = loadLe32(p), x1 = loadLe32(p + 4), x2 = loadLe32(p + 8),
                       x3 = loadLe32(p + 12), x4 = loadLe32(p + 16), x5 = loadLe32(p + 20),
                       x6 = loadLe32(p + 24), x7 = loadLe32(p + 28), x8 = loadLe32(p + 32),
                       x9 = loadLe32(p + 36), x10 = loadLe32(p + 40), x11 = loadLe32(p + 44),
                       x12 = loadLe32(p + 48), x13 = loadLe32(p + 52), x14 = loadLe32(p + 56),
                       x15 = loadLe32(p + 60);
        const uint32_t aa = a, bb = b, cc = c, dd = d;

        MD5_STEP(MD5_F, a, b, c, d, x0, 0xd76aa478, 7);
        MD5_STEP(MD5_F, d, a, b, c, x1, 0xe8c7b756, 12);
        MD5_STEP(MD5_F, c, d, a, b, x2, 0x242070db, 17);
        MD5_STEP(MD5_F, b, c, d, a, x3, 0xc1bdceee, 22);
        MD5_STEP(MD5_F, a, b, c, d, x4, 0xf57c0faf, 7);
        MD5_STEP(MD5_F, d, a, b, c, x5, 0x4787c62a, 12);
        MD5_STEP(MD5_F, c, d, a, b, x6, 0xa8304613, 17);
        MD5_STEP(MD5_F, b, c, d, a, x7, 0xfd469501, 22);
        MD5_STEP(MD5_F, a, b, c, d, x8, 0x698098d8, 7);
        MD5_STEP(MD5_F, d, a, b, c, x9, 0x8b44f7af, 12);
        MD5_STEP(MD5_F, c, d, a, b, x10, 0xffff5bb1, 17);
        MD5_STEP(MD5_F, b, c, d, a, x11, 0x895cd7be, 22);
        MD5_STEP(MD5_F, a, b, c, d, x12, 0x6b901122, 7);
        MD5_STEP(MD5_F, d, a, b, c, x13, 0xfd987193, 12);
        MD5_STEP(MD5_F, c, d, a, b, x14, 0xa679438e, 17);
        MD5_STEP(MD5_F, b, c, d, a, x15, 0x49b40821, 22);

        MD5_STEP(MD5_G, a, b, c, d, x1, 0xf61e2562, 5);
        MD5_STEP(MD5_G, d, a, b, c, x6, 0xc040b340, 9);
        MD5_STEP(MD5_G, c, d, a, b, x11, 0x265e5a51, 14);
        MD5_STEP(MD5_G, b, c, d, a, x0, 0xe9b6c7aa, 20);
        MD5_STEP(MD5_G, a, b, c, d, x5, 0xd62f105d, 5);
        MD5_STEP(MD5_G, d, a, b, c, x10, 0x02441453, 9);
        MD5_STEP(MD5_G, c, d, a, b, x15, 0xd8a1e681, 14);
        MD5_STEP(MD5_G, b, c, d, a, x4, 0xe7d3fbc8, 20);
        MD5_STEP(MD5_G, a, b, c, d, x9, 0x21e1cde6, 5);
        MD5_STEP(MD5_G, d, a, b, c, x14, 0xc33707d6, 9);
        MD5_STEP(MD5_G, c, d, a, b, x3, 0xf4d50d87, 14);
        MD5_STEP(MD5_G, b, c, d, a, x8, 0x455a14ed, 20);
        MD5_STEP(MD5_G, a, b, c, d, x13, 0xa9e3e905, 5);
        MD5_STEP(MD5_G, d, a, b, c, x2, 0xfcefa3f8, 9);
        MD5_STEP(MD5_G, c, d, a, b, x7, 0x676f02d9, 14);
        MD5_STEP(MD5_G, b, c, d, a, x12, 0x8d2a4c8a, 20);

        MD5_STEP(MD5_H, a, b, c, d, x5, 0xfffa3942, 4);
        MD5_STEP(MD5_H, d, a, b, c, x8, 0x8771f681, 11);
        MD5_STEP(MD5_H, c, d, a, b, x11, 0x6d9d6122, 16);
        MD5_STEP(MD5_H, b, c, d, a, x14, 0xfde5380c, 23);
        MD5_STEP(MD5_H, a, b, c, d, x1, 0xa4beea44, 4);
        MD5_STEP(MD5_H, d, a, b, c, x4, 0x4bdecfa9, 11);
        MD5_STEP(MD5_H, c, d, a, b, x7, 0xf6bb4b60, 16);
        MD5_STEP(MD5_H, b, c, d, a, x10, 0xbebfbc70, 23);
        MD5_STEP(MD5_H, a, b, c, d, x13, 0x289b7ec6, 4);
        MD5_STEP(MD5_H, d, a, b, c, x0, 0xeaa127fa, 11);
        MD5_STEP(MD5_H, c, d, a, b, x3, 0xd4ef3085, 16);
        MD5_STEP(MD5_H, b, c, d, a, x6, 0x04881d05, 23);
        MD5_STEP(MD5_H, a, b, c, d, x9, 0xd9d4d039, 4);
        MD5_STEP(MD5_H, d, a, b, c, x12, 0xe6db99e5, 11);
        MD5_STEP(MD5_H, c, d, a, b, x15, 0x1fa27cf8, 16);
        MD5_STEP(MD5_H, b, c, d, a, x2, 0xc4ac5665, 23);

        MD5_STEP(MD5_I, a, b, c, d, x0, 0xf4292244, 6);
        MD5_STEP(MD5_I, d, a, b, c, x7, 0x432aff97, 10);
        MD5_STEP(MD5_I, c, d, a, b, x14, 0xab9423a7, 15);
        MD5_STEP(MD5_I, b, c, d, a, x5, 0xfc93a039, 21);
        MD5_STEP(MD5_I, a, b, c, d, x12, 0x655b59c3, 6);
        MD5_STEP(MD5_I, d, a, b, c, x3, 0x8f0ccc92, 10);
        MD5_STEP(MD5_I, c, d, a, b, x10, 0xffeff47d, 15);
        MD5_STEP(MD5_I, b, c, d, a, x1, 0x85845dd1, 21);
        MD5_STEP(MD5_I, a, b, c, d, x8, 0x6fa87e4f, 6);
        MD5_STEP(MD5_I, d, a, b, c, x15, 0xfe2ce6e0, 10);
        MD5_STEP(MD5_I, c, d, a, b, x6, 0xa3014314, 15);
        MD5_STEP(MD5_I, b, c, d, a, x13, 0x4e0811a1, 21);
        MD5_STEP(MD5_I, a, b, c, d, x4, 0xf7537e82, 6);
        MD5_STEP(MD5_I, d, a, b, c, x11, 0xbd3af235, 10);
        MD5_STEP(MD5_I, c, d, a, b, x2, 0x2ad7d2bb, 15);
        MD5_STEP(MD5_I, b, c, d, a, x9, 0xeb86d391, 21);

        a += aa;
        b += bb;
        c += cc;
        d += dd;
    }
    state.a = a;
    state.b = b;
    state.c = c;
    state.d = d;
}

#undef MD5_STEP
#undef MD5_F
#undef MD5_G
#undef MD5_H
#undef MD5_I

// The whole digest as the four state words; the digest bytes are these words
// stored little-endian, so the fold needs no byte shuffling at all.
Md5State md5(const unsigned char* data, size_t length) {
    Md5State state{0x67452301, 0xefcdab89, 0x98badcfe, 0x10325476};

    const size_t wholeBlocks = length / 64;
    processBlocks(state, data, wholeBlocks);

    // The tail and its padding: one block or two.
    const size_t tailLength = length % 64;
    unsigned char tail[128];
    if (tailLength != 0) std::memcpy(tail, data + wholeBlocks * 64, tailLength);
    const size_t padded = tailLength + md5Padding(length, tail + tailLength);
    processBlocks(state, tail, padded / 64);
    return state;
}

} // namespace

size_t md5Padding(uint64_t length, unsigned char* padding) {
    // One block when the tail leaves room for the 9 bytes of marker and count
    // (up to 55 bytes), else two.
    const size_t tailLength = length % 64;
    const size_t size = (tailLength < 56 ? 64 : 128) - tailLength;
    std::memset(padding, 0, size);
    padding[0] = 0x80;
    // Counted in 64 bits whatever size_t is, as the message length is taken
    // modulo 2^64 bits.
    const uint64_t bitCount = length * 8;
    storeLe32(padding + size - 8, static_cast<uint32_t>(bitCount));
    storeLe32(padding + size - 4, static_cast<uint32_t>(bitCount >> 32));
    return size;
}

void md5Digest(const void* data, size_t length, unsigned char digest[16]) {
    const Md5State state = md5(static_cast<const unsigned char*>(data), length);
    storeLe32(digest, state.a);
    storeLe32(digest + 4, state.b);
    storeLe32(digest + 8, state.c);
    storeLe32(digest + 12, state.d);
}

uint32_t hashPassword(const char* password, uint32_t length) {
    const Md5State state = md5(reinterpret_cast<const unsigned char*>(password), length);
    return state.a ^ state.b ^ state.c ^ state.d;
}
