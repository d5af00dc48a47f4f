#include "host/script_files.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string_view>
#include <utility>
#include <vector>

#include "host/script_budgets.h"
#include "host/script_text.h"
#include "system/files.h"

// What the plug-in wrote (its log, a backup), one escaped line per line.
// Only a regular file of at most maxShownFile bytes is read: a device or a
// pipe could give bytes for ever.
void runShow(Simulator& sim, const std::string& name) {
    std::error_code error;
    if (std::filesystem::is_directory(name, error)) {
        writeLine(sim, "  (" + escapedBytes(name) + " is a directory)");
        return;
    }
    std::filesystem::file_status status = std::filesystem::status(name, error);
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        writeLine(sim, "  (" + escapedBytes(name) + " is not a regular file)");
        return;
    }
    std::ifstream file(name, std::ios::binary);
    if (!file) {
        writeLine(sim, "  (no file " + escapedBytes(name) + ")");
        return;
    }
    std::string contents;
    char chunk[65536];
    const size_t maxShownFile = scriptBudgets().shownFile;
    while (contents.size() <= maxShownFile && file.read(chunk, sizeof chunk).gcount() > 0)
        contents.append(chunk, static_cast<size_t>(file.gcount()));
    if (contents.size() > maxShownFile) {
        writeLine(sim,
                  "  (" + escapedBytes(name) + " is larger than " + budgetText(maxShownFile) + ")");
        return;
    }
    if (contents.empty()) writeLine(sim, "  (empty)");
    size_t start = 0;
    while (start < contents.size()) {
        size_t end = contents.find('\n', start);
        bool last = end == std::string::npos;
        std::string_view line =
            std::string_view(contents).substr(start, last ? std::string::npos : end - start);
        // An empty line leaves no blank at the end of the transcript line.
        writeLine(sim, line.empty() ? "  |" : "  | " + escapedBytes(line));
        if (last) {
            writeLine(sim, "  (no newline at the end)");
            break;
        }
        start = end + 1;
    }
}

bool matchesPattern(std::string_view name, std::string_view pattern) {
    size_t n = 0, p = 0;
    size_t starAt = std::string_view::npos, resumeAt = 0;
    while (n < name.size()) {
        if (p < pattern.size() && (pattern[p] == '?' || pattern[p] == name[n])) {
            ++n;
            ++p;
        } else if (p < pattern.size() && pattern[p] == '*') {
            starAt = p++;
            resumeAt = n;
        } else if (starAt != std::string_view::npos) {
            p = starAt + 1;
            n = ++resumeAt;
        } else {
            return false;
        }
    }
    while (p < pattern.size() && pattern[p] == '*')
        ++p;
    return p == pattern.size();
}

namespace {

// The registry's lock file holds its holder's line ("host 4242 2026-01-01
// 00:00:00"): shown instead of its size, with the process number, which
// differs from run to run, as PID.
std::string lockHolderShown(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    std::string line;
    if (!file || !std::getline(file, line) || line.size() > 256) return {};
    const size_t start = line.find_first_not_of(' ');
    if (start == std::string::npos) return {};
    line.erase(0, start);
    const size_t pid = line.find(' ');
    if (pid == std::string::npos) return {};
    const size_t end = line.find(' ', pid + 1);
    line.replace(pid + 1, (end == std::string::npos ? line.size() : end) - pid - 1, "PID");
    return "  (" + escapedBytes(line) + ")";
}

} // namespace

void runFiles(Simulator& sim, const std::string& pattern) {
    std::vector<std::pair<std::string, std::string>> found;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
        std::string name = entry.path().filename().string();
        if (!matchesPattern(name, pattern)) continue;
        std::error_code sizeError;
        std::string shown = escapedBytes(name);
        std::string holder;
        if (entry.is_directory(sizeError))
            shown += "/";
        else if (name == "Zandrel.teams.lock" && !(holder = lockHolderShown(name)).empty())
            shown += holder;
        else if (uintmax_t size = entry.file_size(sizeError); !sizeError)
            shown += "  (" + std::to_string(size) + " bytes)";
        found.emplace_back(name, shown);
    }
    if (error) throw HostFailure("cannot list the current directory: " + error.message());
    std::sort(found.begin(), found.end());
    if (found.empty()) writeLine(sim, "  (no file matches " + escapedBytes(pattern) + ")");
    for (const auto& [name, shown] : found)
        writeLine(sim, "  " + shown);
}

void runCopy(const std::string& from, const std::string& to) {
    std::string reason;
    if (!copyFileReplacing(from, to, reason))
        throw HostFailure("cannot copy " + escapedBytes(from) + " to " + escapedBytes(to) +
                          (reason.empty() ? "" : ": " + reason));
}
