#include "registry/side_files.h"

#include <algorithm>
#include <charconv>

#include "platform/platform.h"
#include "registry/registry_store.h"
#include "text/number.h"
#include "text/program_name.h"

const char recoveredFileName[] = "Zandrel.teams.recovered";

namespace {

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

} // namespace

bool isSideFileName(std::string_view name) {
    const std::string_view base = unsavedFileName;
    if (name.substr(0, base.size()) != base) return false;
    std::string_view rest = name.substr(base.size());
    if (rest.empty()) return true;
    if (rest[0] != '.' || rest.size() == 1) return false;
    // A side file being written sits under its name plus .tmp.<process>.
    const size_t at = rest.rfind(".tmp");
    if (at != std::string_view::npos) {
        const std::string_view after = rest.substr(at + 4);
        if (after.empty() || (after[0] == '.' && allDigits(after.substr(1)))) return false;
    }
    return true;
}

SideFileOrder sideFileOrderOf(const std::string& name) {
    SideFileOrder order;
    order.name = name;
    const std::string prefix = std::string(unsavedFileName) + ".";
    if (name.compare(0, prefix.size(), prefix) != 0) return order;
    const std::string_view rest = std::string_view(name).substr(prefix.size());
    // YYYYMMDD-HHMMSS-<pid>, then perhaps .N
    if (rest.size() < 17 || !allDigits(rest.substr(0, 8)) || rest[8] != '-' ||
        !allDigits(rest.substr(9, 6)) || rest[15] != '-')
        return order;
    const size_t dot = rest.find('.', 16);
    if (!allDigits(
            rest.substr(16, dot == std::string_view::npos ? std::string_view::npos : dot - 16)))
        return order;
    if (dot != std::string_view::npos) {
        const std::string_view n = rest.substr(dot + 1);
        if (!allDigits(n) || n.size() > 18) return order;
        std::from_chars(n.data(), n.data() + n.size(), order.n);
    }
    order.stamp = std::string(rest.substr(0, 15));
    return order;
}

std::vector<std::string> sideFilesIn(const Folder& folder) {
    std::vector<SideFileOrder> found;
    for (const std::string& name : directoryNames(folder))
        if (isSideFileName(name)) found.push_back(sideFileOrderOf(name));
    std::sort(found.begin(), found.end(), [](const SideFileOrder& a, const SideFileOrder& b) {
        if (a.stamp != b.stamp) return a.stamp < b.stamp;
        if (a.n != b.n) return a.n < b.n;
        return a.name < b.name;
    });
    std::vector<std::string> names;
    for (SideFileOrder& entry : found)
        names.push_back(std::move(entry.name));
    return names;
}

std::string recoveredNameOf(const std::string& sideFile) {
    return std::string(recoveredFileName) +
           sideFile.substr(std::string_view(unsavedFileName).size());
}

std::string sideFilesNotice(size_t count) {
    if (count == 0) return {};
    return std::string(decimalText(uint32_t(std::min<size_t>(count, UINT32_MAX))).view()) +
           (count == 1 ? " side file " : " side files ") + unsavedFileName + ".* wait" +
           (count == 1 ? "s" : "") +
           " beside the registry with changes that were never saved to it; stop the host and "
           "run: " +
           programFileName + " teams recover";
}
