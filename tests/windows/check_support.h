// What the Windows check programs share: a CHECK that counts and names the
// failed line, and whole files written and read back with the C library.
#pragma once

#include <cstdio>
#include <string>

inline int checksPassed = 0;
inline int checksFailed = 0;

inline void check(bool ok, const char* what, int line) {
    if (ok) {
        ++checksPassed;
    } else {
        ++checksFailed;
        std::printf("FAIL: line %d: %s\n", line, what);
    }
}
#define CHECK(condition) check((condition), #condition, __LINE__)

inline void writeFile(const std::string& path, const std::string& contents) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
}

// The contents, or "<missing>".
inline std::string readFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "<missing>";
    std::string contents;
    char chunk[4096];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        contents.append(chunk, n);
    std::fclose(file);
    return contents;
}
