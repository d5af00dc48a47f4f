// The script's clocks on Windows: once the plug-in is loaded, the slots of
// its import table that hold its clock functions are pointed here. A library
// of its own, so that a program that loads hadrok.dll moves its clock the
// same way.
#include <cstring>
#include <ctime>
#include <string>

#include <windows.h>
#include <winternl.h>

#include <cwctype>

#include "system/script_clock.h"

// The script's clocks. The plug-in reads the millisecond tick counter with
// GetTickCount and the wall clock with the C library's time (msvcrt's time,
// _time32 or _time64, depending on how it was built). Nothing can stand in
// for those process-wide, so once the plug-in is loaded the slots of its
// import table that hold them are pointed at the functions below. The
// system's other calls (the profile file, the current directory, files) stay
// the real ones.

namespace {

constexpr int64_t nanosecondsPerSecond = 1000000000;
constexpr int64_t nanosecondsPerMillisecond = 1000000;

int64_t wallSeconds() {
    if (clocksFrozen()) return frozenWallSeconds + clockOffset() / nanosecondsPerSecond;
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    // 100 ns steps since 1601-01-01, 11644473600 seconds before 1970-01-01.
    // Nanoseconds since 1970 fit 64 bits until 2262; since 1601 they don't.
    const auto ticks =
        static_cast<int64_t>(static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    const int64_t sinceEpoch = (ticks - 11644473600LL * 10000000) * 100 + clockOffset();
    return sinceEpoch / nanosecondsPerSecond;
}

DWORD WINAPI shiftedGetTickCount() {
    const int64_t base =
        clocksFrozen() ? frozenMonotonicSeconds * 1000 : static_cast<int64_t>(GetTickCount());
    // The counter wraps at 2^32 like the system's own.
    return static_cast<DWORD>(
        static_cast<uint64_t>(base + clockOffset() / nanosecondsPerMillisecond));
}

ULONGLONG WINAPI shiftedGetTickCount64() {
    const int64_t base =
        clocksFrozen() ? frozenMonotonicSeconds * 1000 : static_cast<int64_t>(GetTickCount64());
    return static_cast<ULONGLONG>(base + clockOffset() / nanosecondsPerMillisecond);
}

int32_t __cdecl shiftedTime32(int32_t* result) {
    const auto now = static_cast<int32_t>(wallSeconds());
    if (result) *result = now;
    return now;
}

int64_t __cdecl shiftedTime64(int64_t* result) {
    const int64_t now = wallSeconds();
    if (result) *result = now;
    return now;
}

bool sameNoCase(const char* a, const char* b) {
    return _stricmp(a, b) == 0;
}

// The stand-in for one imported function, or null to leave it alone.
void* replacementFor(const char* library, const char* function) {
    if (sameNoCase(library, "kernel32.dll")) {
        if (std::strcmp(function, "GetTickCount") == 0)
            return reinterpret_cast<void*>(&shiftedGetTickCount);
        if (std::strcmp(function, "GetTickCount64") == 0)
            return reinterpret_cast<void*>(&shiftedGetTickCount64);
    } else if (sameNoCase(library, "msvcrt.dll") || std::strncmp(function, "_time", 5) == 0) {
        // msvcrt's time is the 32-bit one; the universal C runtime's time
        // functions have explicit widths.
        if (std::strcmp(function, "_time64") == 0) return reinterpret_cast<void*>(&shiftedTime64);
        if (std::strcmp(function, "_time32") == 0) return reinterpret_cast<void*>(&shiftedTime32);
        if (sameNoCase(library, "msvcrt.dll") && std::strcmp(function, "time") == 0)
            return reinterpret_cast<void*>(&shiftedTime32);
    }
    return nullptr;
}

bool replaceSlot(ULONG_PTR* slot, void* replacement) {
    DWORD previous = 0;
    if (!VirtualProtect(slot, sizeof *slot, PAGE_READWRITE, &previous)) return false;
    *slot = reinterpret_cast<ULONG_PTR>(replacement);
    VirtualProtect(slot, sizeof *slot, previous, &previous);
    return true;
}

} // namespace

namespace {

// The loader's notice that a library is in memory, its imports bound and its
// start code not yet run (ntdll's LdrRegisterDllNotification, Vista on).
struct LoadedLibraryNotice {
    ULONG flags;
    const void* fullName;
    const UNICODE_STRING* baseName;
    void* base;
    ULONG size;
};
using LoadNotification = void(CALLBACK*)(ULONG reason, const LoadedLibraryNotice* notice,
                                         void* context);
using RegisterLoadNotification = LONG(NTAPI*)(ULONG flags, LoadNotification callback, void* context,
                                              void** cookie);
using UnregisterLoadNotification = LONG(NTAPI*)(void* cookie);
constexpr ULONG libraryLoaded = 1;

// The file name of the library being watched for, lower case, and whether it
// has been met; the loader calls back on the thread that loads.
std::wstring watchedName;
bool watchedAttached = false;
bool watchedFailed = false;

std::wstring lowerCase(std::wstring text) {
    for (wchar_t& c : text)
        c = static_cast<wchar_t>(towlower(c));
    return text;
}

bool pointImportsAtScriptClocks(void* library);

void CALLBACK onLibraryLoaded(ULONG reason, const LoadedLibraryNotice* notice, void*) {
    if (reason != libraryLoaded || !notice || !notice->baseName || watchedAttached) return;
    const UNICODE_STRING& name = *notice->baseName;
    if (lowerCase(std::wstring(name.Buffer, name.Length / sizeof(wchar_t))) != watchedName) return;
    watchedAttached = true;
    watchedFailed = !pointImportsAtScriptClocks(notice->base);
}

void* loadNotificationCookie = nullptr;

} // namespace

void watchPluginLoad(const std::string& path) {
    const size_t slash = path.find_last_of("\\/");
    const std::string file = slash == std::string::npos ? path : path.substr(slash + 1);
    watchedName = lowerCase(std::wstring(file.begin(), file.end()));
    watchedAttached = false;
    watchedFailed = false;
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    const auto registerNotification = reinterpret_cast<RegisterLoadNotification>(
        reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrRegisterDllNotification")));
    if (registerNotification && !loadNotificationCookie)
        registerNotification(0, &onLibraryLoaded, nullptr, &loadNotificationCookie);
}

void stopWatchingPluginLoad() {
    if (!loadNotificationCookie) return;
    const auto unregisterNotification =
        reinterpret_cast<UnregisterLoadNotification>(reinterpret_cast<void*>(
            GetProcAddress(GetModuleHandleA("ntdll.dll"), "LdrUnregisterDllNotification")));
    if (unregisterNotification) unregisterNotification(loadNotificationCookie);
    loadNotificationCookie = nullptr;
}

bool attachClocksToPlugin(void* library, std::string& error) {
    // Pointed at the script's clocks before the library's start code ran, when
    // the loader told us; otherwise now (idempotent).
    const bool attached = watchedAttached ? !watchedFailed : pointImportsAtScriptClocks(library);
    watchedAttached = false;
    if (!attached) error = "cannot point the plug-in's clock calls at the script's clocks";
    return attached;
}

namespace {

bool pointImportsAtScriptClocks(void* library) {
    auto* base = static_cast<unsigned char*>(library);
    const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    if (!base || dos->e_magic != IMAGE_DOS_SIGNATURE) return true;
    const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
    if (nt->Signature != IMAGE_NT_SIGNATURE) return true;
    const IMAGE_DATA_DIRECTORY& imports =
        nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    if (imports.VirtualAddress == 0 || imports.Size == 0) return true;

    for (auto* entry =
             reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + imports.VirtualAddress);
         entry->Name != 0; ++entry) {
        // The names come from the lookup table; the slots the code calls
        // through are the ones in the address table beside it.
        if (entry->OriginalFirstThunk == 0) continue;
        const char* libraryName = reinterpret_cast<const char*>(base + entry->Name);
        const auto* names =
            reinterpret_cast<const IMAGE_THUNK_DATA*>(base + entry->OriginalFirstThunk);
        auto* slots = reinterpret_cast<IMAGE_THUNK_DATA*>(base + entry->FirstThunk);
        for (; names->u1.AddressOfData != 0; ++names, ++slots) {
            if (IMAGE_SNAP_BY_ORDINAL(names->u1.Ordinal)) continue;
            const auto* byName =
                reinterpret_cast<const IMAGE_IMPORT_BY_NAME*>(base + names->u1.AddressOfData);
            void* replacement =
                replacementFor(libraryName, reinterpret_cast<const char*>(byName->Name));
            if (replacement &&
                !replaceSlot(reinterpret_cast<ULONG_PTR*>(&slots->u1.Function), replacement))
                return false;
        }
    }
    return true;
}

} // namespace
