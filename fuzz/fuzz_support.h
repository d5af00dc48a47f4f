// What the fuzz targets share: a private scratch directory made current once
// per process, a check that stops the run with a message, and small readers.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include <unistd.h>

#define FUZZ_CHECK(condition)                                                                      \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "check failed: %s at %s:%d\n", #condition, __FILE__, __LINE__);   \
            std::abort();                                                                          \
        }                                                                                          \
    } while (0)

// The registry and freqs.ini live in the current directory. It is made in
// memory where the system has that, so the flush of every save costs little,
// and it is removed when the run ends normally.
inline void enterScratchDirectory() {
    static std::filesystem::path made;
    if (!made.empty()) return;
    std::filesystem::path base = std::filesystem::is_directory("/dev/shm")
                                     ? std::filesystem::path("/dev/shm")
                                     : std::filesystem::temp_directory_path();
    std::string pattern = (base / "hadrok-fuzz-XXXXXX").string();
    FUZZ_CHECK(mkdtemp(pattern.data()));
    made = pattern;
    std::filesystem::current_path(made);
    std::atexit([] {
        std::error_code ignored;
        std::filesystem::current_path("/", ignored);
        std::filesystem::remove_all(made, ignored);
    });
}

inline std::string readFile(const char* name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeFile(const char* name, std::string_view bytes) {
    std::ofstream(name, std::ios::binary | std::ios::trunc)
        .write(bytes.data(), std::streamsize(bytes.size()));
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
