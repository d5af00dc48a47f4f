// A freq password is kept only as the MD5 digest of its bytes folded to 32
// bits: the four little-endian words of the digest XORed together.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t hashPassword(const char* password, uint32_t length);

// The full 16-byte MD5 digest (RFC 1321), used by the fold above.
void md5Digest(const void* data, size_t length, unsigned char digest[16]);

// What ends a message of `length` bytes before its last blocks are hashed:
// the byte 0x80, zeros up to 8 bytes short of a whole block, and the length
// in bits, modulo 2^64, as 64 bits little-endian. Written to `padding`, which
// needs room for it; its size (9 to 72 bytes) is returned.
size_t md5Padding(uint64_t length, unsigned char* padding);
