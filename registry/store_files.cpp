// The files beside the registry: their names, a write beside it, and the
// leftovers of a crash.
#include "registry/store_rooms.h"

#include "registry/registry_file.h"
#include "text/date_time.h"
#include "text/number.h"
#include <algorithm>
#include <vector>

std::string number(uint64_t value) {
    // Counts here stay far below 2^32 (record counts are capped); sizes are
    // shown as two halves only if they ever reach that.
    if (value <= UINT32_MAX) return std::string(decimalText(uint32_t(value)).view());
    return number(value / 1000000000u) +
           std::string(numberToText(uint32_t(value % 1000000000u), 10, 9, false).view());
}

const char noTimeReason[] = "the system clock gives no time";

bool stampNow(bool withTime, std::string& stamp) {
    int64_t now = 0;
    std::tm t{};
    if (!wallClock(now) || !localTimeOf(now, t) || t.tm_year + 1900 > 9999) return false;
    stamp = stampText(t, withTime ? "%Y%m%d-%H%M%S" : "%Y-%m-%d");
    return true;
}

bool allDigits(std::string_view text) {
    return !text.empty() &&
           std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// A temporary of a save: <name>.tmp.<process>, or a bare <name>.tmp, which
// is cleared away too.
bool isTemporaryName(std::string_view name) {
    const std::string_view base = registryFileName;
    if (name.substr(0, base.size()) != base) return false;
    const size_t at = name.rfind(".tmp");
    if (at == std::string_view::npos) return false;
    std::string_view rest = name.substr(at + 4);
    return rest.empty() || (rest[0] == '.' && allDigits(rest.substr(1)));
}

WriteResult writeBeside(const RegistryStore& store, const std::string& name, const void* data,
                        size_t size, bool replace, const char* copyOf) {
    SafeWrite write;
    write.folder = &store.held;
    write.path = name.c_str();
    write.temporarySuffix = store.temporarySuffix.c_str();
    write.data = data;
    write.size = size;
    write.noReplace = !replace;
    write.permissionsFrom = copyOf;
    return writeFileSafely(write);
}

std::string unflushed(const std::string& name) {
    return name + " is written, but flushing its folder failed (" + lastSystemError() +
           "); it may not survive a power cut";
}

std::vector<std::string> namesWhere(const RegistryStore& store, bool (*keep)(std::string_view)) {
    std::vector<std::string> names;
    for (std::string& file : directoryNames(store.held))
        if (keep(file)) names.push_back(std::move(file));
    return names;
}

void removeLeftoverTemporaries(const RegistryStore& store) {
    removeLeftoverTemporaries(store.held);
}

void removeLeftoverTemporaries(const Folder& folder) {
    // Only the holder may remove temporaries: any other process's would be
    // in use. With the lock held, those present are leftovers of a crash.
    for (const std::string& name : directoryNames(folder))
        if (isTemporaryName(name)) removePath(folder, name.c_str());
}

std::string storePath(const RegistryStore& store, const char* name) {
    return store.folder + name;
}
