// The program's system code on Windows: the plug-in's loader, the script's
// clocks, the console and file copies. The plug-in never links this file.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>

#include <fcntl.h>
#include <io.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "system/files.h"
#include "system/plugin_loader.h"
#include "system/script_clock.h"
#include "system/terminal.h"

// The plug-in's loader.

const char pluginFileName[] = "hadrok.dll";

namespace {

std::string lastErrorText() {
    const DWORD code = GetLastError();
    char* message = nullptr;
    const DWORD length = FormatMessageA(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<char*>(&message), 0, nullptr);
    std::string text = length && message ? std::string(message, length) : std::string();
    if (message) LocalFree(message);
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return "error " + std::to_string(code) + (text.empty() ? "" : " (" + text + ")");
}

} // namespace

std::string defaultPluginPath() {
    // MAX_PATH is not a limit for every path; grow until the name fits.
    std::string buffer(MAX_PATH, '\0');
    while (true) {
        const DWORD length =
            GetModuleFileNameA(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length == 0) return pluginFileName;
        if (length < buffer.size()) {
            buffer.resize(length);
            break;
        }
        if (buffer.size() > 32768) return pluginFileName;
        buffer.resize(buffer.size() * 2);
    }
    return (std::filesystem::path(buffer).parent_path() / pluginFileName).string();
}

void* openPluginLibrary(const std::string& path, std::string& error) {
    // No message box from the system when the file is not a loadable library.
    const UINT previous = SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX);
    HMODULE module = LoadLibraryA(path.c_str());
    if (!module) error = lastErrorText();
    SetErrorMode(previous);
    return reinterpret_cast<void*>(module);
}

void* pluginSymbol(void* library, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}

void closePluginLibrary(void* library) {
    FreeLibrary(static_cast<HMODULE>(library));
}

bool pluginStillLoaded(const std::string& path) {
    return GetModuleHandleA(path.c_str()) != nullptr;
}

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

bool attachClocksToPlugin(void* library, std::string& error) {
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
                !replaceSlot(reinterpret_cast<ULONG_PTR*>(&slots->u1.Function), replacement)) {
                error = "cannot point the plug-in's clock calls at the script's clocks";
                return false;
            }
        }
    }
    return true;
}

// The console.

namespace {

// One line of standard input without its line end; false at its end.
bool readPlainLine(std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// The console's mode before echo was turned off, for the handler below.
DWORD savedConsoleMode = 0;

// Ctrl-C, Ctrl-Break or closing the window ends the program: echo comes
// back first, then the next handler (the system's) ends it.
BOOL WINAPI restoreConsole(DWORD) {
    SetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), savedConsoleMode);
    return FALSE;
}

} // namespace

const char endOfInputKeys[] = "Ctrl-Z and Enter";

void useLfLineEnds() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

// A console, where a prompt can be typed at and echo turned off; the C
// library's _isatty would take the NUL device for one too.
bool inputIsTerminal() {
    DWORD mode = 0;
    return GetConsoleMode(GetStdHandle(STD_INPUT_HANDLE), &mode) != 0;
}

void startLineEditor() {}

bool readInputLine(const char* prompt, std::string& line) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    return readPlainLine(line);
}

void rememberInputLine(const std::string&) {}

void stopLineEditor() {}

bool readHiddenLine(const char* prompt, std::string& line) {
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    DWORD mode = 0;
    const bool console = GetConsoleMode(in, &mode) != 0;
    if (console) {
        savedConsoleMode = mode;
        SetConsoleCtrlHandler(restoreConsole, TRUE);
        SetConsoleMode(in, mode & ~DWORD(ENABLE_ECHO_INPUT));
    }
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    bool got = readPlainLine(line);
    if (console) {
        SetConsoleMode(in, mode);
        SetConsoleCtrlHandler(restoreConsole, FALSE);
    }
    std::fputs("\n", stderr);
    return got;
}

// File copies.

bool copyFileReplacing(const std::string& from, const std::string& to, std::string& reason) {
    std::error_code error;
    // The Windows libstdc++ takes any two existing files for the same one (it
    // compares inode numbers, all 0 there) and will not overwrite one: the
    // bytes are copied here instead.
    if (std::filesystem::is_regular_file(from, error) && std::filesystem::exists(to, error)) {
        std::ifstream in(from, std::ios::binary);
        const std::string bytes{std::istreambuf_iterator<char>(in), {}};
        std::ofstream out(to, std::ios::binary | std::ios::trunc);
        out << bytes;
        out.close();
        return !in.bad() && out;
    }
    error.clear();
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error) reason = error.message();
    return !error;
}
