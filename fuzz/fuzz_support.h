// What the fuzz targets share: a check that stops the run with a message, and
// small readers and writers of the fake directory's files.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tests/fakes/fake_platform.h"

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s at %s:%d\n", #condition, __FILE__, __LINE__);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The registry and freqs.ini live in the fake platform's directory, in
// memory: the targets link tests/fakes/fake_platform.cpp, not the system's
// layer, so no input waits on the disk.
inline std::string readFile(const char* name) {
    const std::string* file = fakeFile(name);
    return file ? *file : std::string();
}

inline void writeFile(const char* name, std::string_view bytes) {
    setFakeFile(name, bytes);
}

// The decimal digits at the start of text, wrapping modulo 2^32; 0 when none.
inline uint32_t leadingNumber(std::string_view text) {
    uint32_t value = 0;
    for (char c : text) {
        if (c < '0' || c > '9') break;
        value = value * 10u + uint32_t(c - '0');
    }
    return value;
}
