// A freq password is kept only as the MD5 digest of its bytes folded to 32
// bits: the four little-endian words of the digest XORed together.
#pragma once

#include <cstddef>
#include <cstdint>

uint32_t hashPassword(const char* password, uint32_t length);

// The full 16-byte MD5 digest (RFC 1321), used by the fold above.
void md5Digest(const void* data, size_t length, unsigned char digest[16]);
