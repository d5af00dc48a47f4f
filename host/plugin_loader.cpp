#include "host/plugin_loader.h"

#include <filesystem>

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <dlfcn.h>
#endif

#ifdef _WIN32

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

#else

const char pluginFileName[] = "hadrok.so";

std::string defaultPluginPath() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "hadrok.so";
    return (self.parent_path() / pluginFileName).string();
}

void* openPluginLibrary(const std::string& path, std::string& error) {
    dlerror();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = why ? why : "unknown error";
    }
    return library;
}

void* pluginSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void closePluginLibrary(void* library) {
    dlclose(library);
}

bool pluginStillLoaded(const std::string& path) {
    void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!still) return false;
    dlclose(still);
    return true;
}

#endif
