// Runs a test inside a fresh temporary directory, since the registry and
// configuration files live in the current directory.
#pragma once

#include <filesystem>
#include <fstream>
#include <string>

#include <unistd.h>

struct TempDir {
    std::filesystem::path previous = std::filesystem::current_path();
    std::filesystem::path path;

    TempDir() {
        std::string pattern = (std::filesystem::temp_directory_path() / "hadrok-XXXXXX").string();
        path = mkdtemp(pattern.data());
        std::filesystem::current_path(path);
    }
    ~TempDir() {
        std::filesystem::current_path(previous);
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }

    static void write(const std::string& name, const std::string& bytes) {
        std::ofstream(name, std::ios::binary) << bytes;
    }
    static std::string read(const std::string& name) {
        std::ifstream in(name, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(in), {});
    }
    static bool exists(const std::string& name) { return std::filesystem::exists(name); }
};
