#include "registry/backups.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "platform/platform.h"
#include "registry/audit_log.h"
#include "registry/registry_file.h"
#include "text/number.h"

namespace {

Text twoDigits(int value) {
    return numberToText(uint32_t(value), 10, 2, false);
}

// Local date as YYYY-MM-DD (dated) or YYYYMMDD-HHMMSS (snapshot).
Text stampNow(bool withTime) {
    std::tm t{};
    if (!localTimeOf(currentTime(), t)) return Text("00000000");
    Text s = numberToText(uint32_t(t.tm_year + 1900), 10, 4, false);
    if (!withTime) {
        s.append("-");
        s.append(twoDigits(t.tm_mon + 1));
        s.append("-");
        s.append(twoDigits(t.tm_mday));
        return s;
    }
    s.append(twoDigits(t.tm_mon + 1));
    s.append(twoDigits(t.tm_mday));
    s.append("-");
    s.append(twoDigits(t.tm_hour));
    s.append(twoDigits(t.tm_min));
    s.append(twoDigits(t.tm_sec));
    return s;
}

bool isDatedBackupName(const std::string& name) {
    std::string prefix = std::string(registryFileName) + ".";
    if (name.size() != prefix.size() + 10 || name.compare(0, prefix.size(), prefix) != 0)
        return false;
    for (size_t i = 0; i < 10; ++i) {
        char c = name[prefix.size() + i];
        bool dash = i == 4 || i == 7;
        if (dash ? c != '-' : (c < '0' || c > '9')) return false;
    }
    return true;
}

bool readWhole(const char* path, std::string& bytes) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return false;
    bytes.assign(std::istreambuf_iterator<char>(in), {});
    return !in.bad();
}

void keepDatedBackupOrThrow(uint32_t keep) {
    std::error_code error;
    Text name(registryFileName);
    name.append(".");
    name.append(stampNow(false));
    std::string bytes;
    if (!std::filesystem::exists(name.data, error) &&
        std::filesystem::exists(registryFileName, error) && readWhole(registryFileName, bytes))
        replaceFileContents(name.data, bytes.data(), bytes.size());

    std::vector<std::string> dated;
    for (const auto& entry : std::filesystem::directory_iterator(".", error)) {
        std::string file = entry.path().filename().string();
        if (isDatedBackupName(file)) dated.push_back(file);
    }
    // The date in the name sorts as text; newest first.
    std::sort(dated.begin(), dated.end(), std::greater<>());
    for (size_t i = keep; i < dated.size(); ++i)
        std::filesystem::remove(dated[i], error);
}

} // namespace

void keepDatedBackup(uint32_t keep) {
    if (keep == 0) return;
    // A backup that can't be made must not stand in the way of the save.
    try {
        keepDatedBackupOrThrow(keep);
    } catch (...) {
    }
}

void saveWithBackups(FreqRegistry& registry, const AuditActor& actor, uint32_t keepDated) {
    keepDatedBackup(keepDated);
    if (!saveRegistry(registry))
        auditLog(actor, "save", noFreq, "saving failed; the file on disk is unchanged");
}

std::string writeSnapshot(FreqRegistry& registry, const char* reason) {
    Text base(registryFileName);
    base.append(".before-");
    base.append(reason);
    base.append("-");
    base.append(stampNow(true));
    std::string name(base.view());
    std::error_code error;
    for (uint32_t n = 1; std::filesystem::exists(name, error); ++n) {
        name = std::string(base.view()) + "." + std::string(numberToText(n, 10, 0, false).view());
        if (n > 1000) return {};
    }
    std::string image = registryImage(registry);
    return replaceFileContents(name.c_str(), image.data(), image.size()) ? name : std::string();
}
