#include "tools/teams_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/freq_registry.h"
#include "registry/registry_file.h"
#include "text/program_name.h"

namespace {

std::string displayName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

std::string readAll(std::FILE* file, const std::string& path) {
    std::string contents;
    char buffer[65536];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, file);
        contents.append(buffer, n);
        if (n < sizeof buffer) break;
    }
    if (std::ferror(file))
        throw ToolFailure(
            fmt::format("cannot read {}: {}", displayName(path), std::strerror(errno)));
    return contents;
}

} // namespace

std::string readWholeFile(const std::string& path) {
    if (path == "-") return readAll(stdin, path);
    // fopen succeeds on a directory on some systems; say what it is instead
    // of a puzzling read error.
    std::error_code error;
    if (std::filesystem::is_directory(path, error))
        throw ToolFailure(fmt::format("cannot read {}: it is a directory", path));
    std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "rb"));
    if (!file) throw ToolFailure(fmt::format("cannot read {}: {}", path, std::strerror(errno)));
    return readAll(file.get(), path);
}

void writeStandardOutput(const std::string& data) {
    std::fwrite(data.data(), 1, data.size(), stdout);
    if (std::fflush(stdout) != 0 || std::ferror(stdout))
        throw ToolFailure(fmt::format("cannot write to standard output: {}", std::strerror(errno)));
}

std::vector<FreqRecord> wholeRecordsOf(const std::string& image) {
    FreqRegistry registry;
    size_t whole = image.size() - image.size() % freqRecordSize;
    addRecordsFromImage(registry, reinterpret_cast<const unsigned char*>(image.data()), whole);
    std::vector<FreqRecord> records;
    records.reserve(registry.freqs.count());
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        records.push_back(*r);
    return records;
}

std::string imageOf(const std::vector<FreqRecord>& records) {
    FreqRegistry registry;
    for (const FreqRecord& record : records)
        registry.freqs.append(record);
    return registryImage(registry);
}

std::vector<FreqRecord> readRegistryFile(const std::string& path) {
    std::string image = readWholeFile(path);
    if (image.size() % freqRecordSize != 0)
        throw ToolFailure(fmt::format(
            "{}: size {} is not a multiple of {}, so the plug-in loads nothing from it; "
            "\"{} teams check\" describes it and \"{} teams salvage\" recovers its "
            "whole records",
            displayName(path), image.size(), freqRecordSize, programFileName, programFileName));
    return wholeRecordsOf(image);
}
