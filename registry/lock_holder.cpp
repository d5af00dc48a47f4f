#include "registry/lock_holder.h"

#include <algorithm>
#include <charconv>
#include <ctime>
#include <vector>

#include "text/date_time.h"
#include "text/number.h"

namespace {

constexpr size_t longestCommand = 200;

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

bool isStamp(std::string_view date, std::string_view time) {
    return date.size() == 10 && allDigits(date.substr(0, 4)) && date[4] == '-' &&
           allDigits(date.substr(5, 2)) && date[7] == '-' && allDigits(date.substr(8, 2)) &&
           time.size() == 8 && allDigits(time.substr(0, 2)) && time[2] == ':' &&
           allDigits(time.substr(3, 2)) && time[5] == ':' && allDigits(time.substr(6, 2));
}

// Anyone may write the file: only plain printable text is ever shown.
bool printable(std::string_view text) {
    return std::all_of(text.begin(), text.end(), [](char c) { return c >= 0x20 && c < 0x7F; });
}

std::vector<std::string_view> wordsOf(std::string_view line) {
    std::vector<std::string_view> words;
    size_t at = 0;
    while (at < line.size() && words.size() < 4) {
        const size_t end = line.find(' ', at);
        words.push_back(line.substr(at, end == std::string_view::npos ? line.npos : end - at));
        if (end == std::string_view::npos) return words;
        at = end + 1;
    }
    if (at < line.size()) words.push_back(line.substr(at)); // the command, blanks and all
    return words;
}

} // namespace

std::string lockHolderLine(const char* kind, const std::string& command) {
    std::string line = std::string(kind) + " " + std::string(decimalText(processId()).view());
    int64_t now = 0;
    std::tm local{};
    line += ' ';
    if (wallClock(now) && localTimeOf(now, local) && local.tm_year + 1900 <= 9999)
        line += stampText(local, "%Y-%m-%d %H:%M:%S");
    else
        line += "- -";
    if (!command.empty()) {
        line += ' ';
        line.append(command, 0, longestCommand);
    }
    return line;
}

void nameLockHolder(FileLock& lock, const char* kind, const std::string& command) {
    writeLockHolder(lock, lockHolderLine(kind, command));
}

LockHolder lockHolderAt(const Folder& folder, const char* name) {
    LockHolder holder;
    std::string text = lockHolderOf(folder, name);
    const size_t end = text.find_first_of("\r\n");
    if (end != std::string::npos) text.resize(end);
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos) return holder;
    const std::string_view line = std::string_view(text).substr(first);
    if (!printable(line)) return holder;
    const std::vector<std::string_view> words = wordsOf(line);
    if (words.size() < 4 || (words[0] != "host" && words[0] != "tool") || !allDigits(words[1]) ||
        words[1].size() > 10)
        return holder;
    uint64_t pid = 0;
    std::from_chars(words[1].data(), words[1].data() + words[1].size(), pid);
    if (pid == 0 || pid > UINT32_MAX) return holder;
    const bool noTime = words[2] == "-" && words[3] == "-";
    if (!noTime && !isStamp(words[2], words[3])) return holder;
    holder.tool = words[0] == "tool";
    if (holder.tool != (words.size() == 5)) return holder;
    holder.known = true;
    holder.pid = uint32_t(pid);
    if (!noTime) holder.since = std::string(words[2]) + " " + std::string(words[3]);
    if (holder.tool) holder.command = std::string(words[4].substr(0, longestCommand));
    return holder;
}

std::string lockHolderWords(const LockHolder& holder) {
    if (!holder.known) return {};
    const std::string pid = std::string(decimalText(holder.pid).view());
    if (holder.tool) return "a tool (pid " + pid + ", " + holder.command + ")";
    return "a host process (pid " + pid + ")";
}
