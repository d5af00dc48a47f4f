#include "tools/teams_file.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include <fmt/format.h>

#include "platform/platform.h"
#include "registry/freq_registry.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "system/script_clock.h"
#include "text/program_name.h"
#include "tools/file_kind.h"

namespace {

std::string displayName(const std::string& path) {
    return path == "-" ? "standard input" : path;
}

// A regular file of at most `limit` bytes; `what` names what it should have
// been ("a registry file").
std::string readRegularFile(const std::string& path, uint64_t limit, const char* what,
                            const std::string& tooLarge) {
    ReadableFile file;
    switch (openRegularFile(path.c_str(), file)) {
    case OpenResult::opened:
        break;
    case OpenResult::missing:
        throw ToolFailure(fmt::format("cannot read {}: {}", path, lastSystemError()));
    case OpenResult::notRegular: {
        std::string kind = pathKindWords(path.c_str(), true);
        throw ToolFailure(fmt::format("cannot read {}: it is {}, not {}", path,
                                      kind.empty() ? "not a regular file" : kind, what));
    }
    case OpenResult::failed:
        throw ToolFailure(fmt::format("cannot read {}: {}", path, lastSystemError()));
    }
    if (file.size > limit) {
        closeReadableFile(file);
        throw ToolFailure(fmt::format("cannot read {}: {}", path, tooLarge));
    }
    std::string bytes(size_t(file.size), '\0');
    const bool read = readExactly(file, bytes.data(), bytes.size());
    const std::string reason = read ? std::string() : lastSystemError();
    closeReadableFile(file);
    if (!read) throw ToolFailure(fmt::format("cannot read {}: {}", path, reason));
    return bytes;
}

// Standard input may be a pipe: read until its end, but never past the limit.
std::string readStandardInput(uint64_t limit, const std::string& tooLarge) {
    std::string contents;
    char buffer[65536];
    for (;;) {
        size_t n = std::fread(buffer, 1, sizeof buffer, stdin);
        contents.append(buffer, n);
        if (contents.size() > limit)
            throw ToolFailure(fmt::format("cannot read standard input: {}", tooLarge));
        if (n < sizeof buffer) break;
    }
    if (std::ferror(stdin))
        throw ToolFailure(fmt::format("cannot read standard input: {}", std::strerror(errno)));
    return contents;
}

} // namespace

std::string readRegistryImage(const std::string& path) {
    const uint64_t limit = maxLoadedRecords * freqRecordSize + (freqRecordSize - 1);
    return readRegularFile(
        path, limit, "a registry file",
        fmt::format("it is larger than the {} records the plug-in loads", maxLoadedRecords));
}

std::string readJsonInput(const std::string& path) {
    const std::string tooLarge = fmt::format(
        "it is larger than {} MiB, more than any registry's JSON form", maxJsonBytes >> 20);
    if (path == "-") return readStandardInput(maxJsonBytes, tooLarge);
    return readRegularFile(path, maxJsonBytes, "a JSON file", tooLarge);
}

std::string readSettingsFile(const std::string& path) {
    constexpr uint64_t maxSettingsBytes = uint64_t(16) << 20;
    return readRegularFile(path, maxSettingsBytes, "a settings file",
                           "it is larger than 16 MiB, more than any settings file");
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

bool looksLikeJson(const std::string& bytes) {
    size_t at = bytes.compare(0, 3, "\xEF\xBB\xBF") == 0 ? 3 : 0;
    while (at < bytes.size() &&
           (bytes[at] == ' ' || bytes[at] == '\t' || bytes[at] == '\r' || bytes[at] == '\n'))
        ++at;
    return at < bytes.size() && (bytes[at] == '{' || bytes[at] == '[');
}

std::string notWholeMessage(const std::string& path, const std::string& image) {
    const FileKind kind = fileKindOf(path, image);
    if (kind != FileKind::jsonExport && !holdsRecords(kind))
        return wrongKindMessage(displayName(path), kind, "a registry file");
    if (looksLikeJson(image))
        return fmt::format("{} looks like JSON, not a registry file; import reads it: {} "
                           "teams import {} -o {}",
                           displayName(path), programFileName, path, registryFileName);
    return fmt::format("{}: size {} is not a multiple of {}, so the plug-in loads nothing from "
                       "it; \"{} teams check\" describes it and \"{} teams salvage\" "
                       "recovers its whole records",
                       displayName(path), image.size(), freqRecordSize, programFileName,
                       programFileName);
}

std::vector<FreqRecord> loadableRecordsOf(const std::string& path) {
    std::string image = readRegistryImage(path);
    if (image.size() % freqRecordSize != 0 || !holdsRecords(fileKindOf(path, image)))
        throw ToolFailure(notWholeMessage(path, image));
    return wholeRecordsOf(image);
}

namespace {

// The plug-in's clock, or the script's while a script runs the tool with
// frozen clocks, so that it judges stamps at the script's time.
bool toolClock(int64_t& seconds) {
    if (!clocksFrozen()) return wallClock(seconds);
    seconds = frozenWallSeconds + clockOffset() / 1000000000;
    return true;
}

} // namespace

int64_t readingNow() {
    int64_t now = 0;
    return toolClock(now) ? now : 0;
}

int64_t toolNow() {
    int64_t now = 0;
    if (!toolClock(now)) throw ToolFailure("the system's clock gives no time; nothing done");
    return now;
}

// The freqs of records as the log names them: "freqs 100, 200"; a long
// list is cut after the first few, with how many more.
std::string freqList(const std::vector<FreqRecord>& records) {
    constexpr size_t shown = 20;
    if (records.empty()) return "no freqs";
    std::string list = records.size() == 1 ? "freq " : "freqs ";
    for (size_t i = 0; i < records.size() && i < shown; ++i)
        list += fmt::format("{}{}", i == 0 ? "" : ", ", records[i].freq);
    if (records.size() > shown) list += fmt::format(" and {} more", records.size() - shown);
    return list;
}
