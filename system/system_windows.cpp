// The program's system code on Windows: the plug-in's loader, the console
// and file copies (the script's clocks are script_clock_windows.cpp). The
// plug-in never links this file.
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <iostream>

#include <fcntl.h>
#include <io.h>
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

#include "platform/platform.h"
#include "system/files.h"
#include "system/plugin_loader.h"
#include "system/terminal.h"

// The plug-in's loader.

const char pluginFileName[] = "hadrok.dll";

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
    if (!module) error = lastSystemError();
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
    // The system's copy opens the source before it touches the target, so a
    // source that can't be read leaves the target as it was.
    if (CopyFileA(from.c_str(), to.c_str(), FALSE)) return true;
    reason = lastSystemError();
    return false;
}

std::string unreadableForTheHostsUser(const std::string&) {
    // Access on Windows is a matter of lists, not of the modes looked at here.
    return {};
}

std::string unreplaceableWhy(const std::string& path) {
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY)) return {};
    if (attributes & FILE_ATTRIBUTE_READONLY)
        return path +
               " is read-only (attrib +r), so neither a host nor a tool can save over "
               "it; attrib -r \"" +
               path + "\" mends it";
    return {};
}

bool consoleClosesAtExit() {
    DWORD processes[2];
    return GetConsoleProcessList(processes, 2) == 1 && inputIsTerminal();
}

void waitForEnter() {
    std::string line;
    std::getline(std::cin, line);
}

std::string folderArgument(std::string typed) {
    if (!typed.empty() && typed.back() == '"') typed.pop_back();
    return typed;
}
