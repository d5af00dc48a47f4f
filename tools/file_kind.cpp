#include "tools/file_kind.h"

#include <cctype>
#include <regex>
#include <string_view>

#include <fmt/format.h>

#include "registry/audit_log.h"
#include "registry/freq_record.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "text/program_name.h"
#include "tools/teams_file.h"
#include "tools/teams_write.h"

namespace {

// The first line that is neither blank nor a comment, without its blanks.
std::string_view firstLine(std::string_view text) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    while (!text.empty()) {
        const size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        while (!line.empty() && (line.front() == ' ' || line.front() == '\t'))
            line.remove_prefix(1);
        while (!line.empty() && (line.back() == ' ' || line.back() == '\t' || line.back() == '\r'))
            line.remove_suffix(1);
        if (!line.empty() && line.front() != ';' && line.front() != '#') return line;
    }
    return {};
}

bool endsWithNoCase(const std::string& text, std::string_view end) {
    if (text.size() < end.size()) return false;
    for (size_t i = 0; i < end.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(text[text.size() - end.size() + i])) !=
            std::tolower(static_cast<unsigned char>(end[i])))
            return false;
    return true;
}

} // namespace

bool looksLikeText(const std::string& bytes) {
    for (char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        if (b < 0x20 && b != '\t' && b != '\r' && b != '\n') return false;
    }
    return true;
}

FileKind fileKindOf(const std::string& path, const std::string& bytes) {
    const std::string name = fileNameOf(path);
    if (endsWithNoCase(name, ".lock")) return FileKind::lockFile;
    // A settings file saved as UTF-16 is text with zero bytes.
    if (endsWithNoCase(name, ".ini") &&
        (bytes.starts_with("\xFF\xFE") || bytes.starts_with("\xFE\xFF")))
        return FileKind::settings;
    if (!bytes.empty() && looksLikeText(bytes)) {
        const std::string_view line = firstLine(bytes);
        // "[Config]" opens a section, where JSON would open a list.
        static const std::regex section(R"(^\[[A-Za-z][^\]]*\]$)");
        if (std::regex_search(line.begin(), line.end(), section)) return FileKind::settings;
        if (looksLikeJson(bytes)) return FileKind::jsonExport;
        static const std::regex logLine(R"(^(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d|\(no time\)) )");
        if (std::regex_search(line.begin(), line.end(), logLine)) return FileKind::auditLog;
        if (line.starts_with("freq,owner,") || line.starts_with("freq;owner;"))
            return FileKind::csvExport;
        if (line.find('=') != std::string_view::npos) return FileKind::settings;
    }
    if (name.starts_with(std::string(registryFileName) + ".unsaved")) return FileKind::sideFile;
    return bytes.size() % freqRecordSize == 0 ? FileKind::registry : FileKind::damagedRegistry;
}

bool holdsRecords(FileKind kind) {
    return kind == FileKind::registry || kind == FileKind::damagedRegistry ||
           kind == FileKind::sideFile;
}

std::string fileKindWords(FileKind kind) {
    switch (kind) {
    case FileKind::registry:
        return "a registry file";
    case FileKind::damagedRegistry:
        return "a damaged registry file (its size is not a whole number of records)";
    case FileKind::sideFile:
        return "a side file of changes not saved into the registry";
    case FileKind::jsonExport:
        return "a JSON export";
    case FileKind::csvExport:
        return "a CSV export";
    case FileKind::settings:
        return "a settings file (like freqs.ini)";
    case FileKind::auditLog:
        return fmt::format("an audit log (like {})", auditLogFileName);
    case FileKind::lockFile:
        return "the host's lock file";
    }
    return "a file";
}

std::string fittingCommand(FileKind kind, const std::string& path) {
    const std::string program = programFileName;
    switch (kind) {
    case FileKind::registry:
        // The registry itself is in place already: only its listing fits.
        if (fileNameOf(path) == registryFileName)
            return fmt::format("\"{} teams list {}\" shows its records", program, path);
        return fmt::format("\"{} teams list {}\" shows its records, \"{} teams restore {}\" puts "
                           "it back as the registry",
                           program, path, program, path);
    case FileKind::damagedRegistry:
        return fmt::format("\"{} teams salvage {} -o salvaged.teams\" recovers its whole records",
                           program, path);
    case FileKind::sideFile:
        return fmt::format("\"{} teams recover\" in its folder shows what it adds, and merges it "
                           "into the registry with --apply once the host is stopped",
                           program);
    case FileKind::jsonExport:
        return fmt::format("\"{} teams import {} -o merged.teams\" turns it into a registry file",
                           program, path);
    case FileKind::csvExport:
        return fmt::format("\"{} teams import {} -o merged.teams\" turns it into a registry file",
                           program, path);
    case FileKind::settings:
        return fmt::format("\"{} config check {}\" reads it", program, path);
    case FileKind::auditLog:
        return "read it with a text viewer; it holds no records";
    case FileKind::lockFile:
        return fmt::format("it holds no records; \"{} status\" tells whether a host holds it",
                           program);
    }
    return {};
}

std::string wrongKindMessage(const std::string& path, FileKind kind, const std::string& wanted) {
    return fmt::format("{} is {}, not {}: {}", path, fileKindWords(kind), wanted,
                       fittingCommand(kind, path));
}
