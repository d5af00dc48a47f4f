// hashPassword against the MD5 of a mature crypto library on the same bytes:
// a password-sized input and a long one.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

// The one-call MD5 is the library's fastest path; its deprecation is about
// MD5's use for security, which is not what is compared here.
#define OPENSSL_SUPPRESS_DEPRECATED
#include <openssl/md5.h>

#include "registry/password_hash.h"

namespace {

std::vector<char> input(size_t size) {
    std::vector<char> bytes(size);
    uint32_t x = 2463534242u;
    for (char& c : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        c = char(x);
    }
    return bytes;
}

void BM_HashPassword(benchmark::State& state) {
    const std::vector<char> bytes = input(size_t(state.range(0)));
    for (auto _ : state) {
        uint32_t hash = hashPassword(bytes.data(), uint32_t(bytes.size()));
        benchmark::DoNotOptimize(hash);
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_HashPassword)->Arg(64)->Arg(30000);

// The library's digest, folded to 32 bits the same way.
void BM_OpenSslMd5(benchmark::State& state) {
    const std::vector<char> bytes = input(size_t(state.range(0)));
    const uint32_t expected = hashPassword(bytes.data(), uint32_t(bytes.size()));
    uint32_t hash = 0;
    for (auto _ : state) {
        unsigned char digest[MD5_DIGEST_LENGTH];
        MD5(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), digest);
        hash = 0;
        for (int i = 0; i < 16; ++i)
            hash ^= uint32_t(digest[i]) << (8 * (i % 4));
        benchmark::DoNotOptimize(hash);
    }
    if (hash != expected) state.SkipWithError("digests differ");
    state.SetBytesProcessed(int64_t(state.iterations()) * state.range(0));
}
BENCHMARK(BM_OpenSslMd5)->Arg(64)->Arg(30000);

} // namespace
