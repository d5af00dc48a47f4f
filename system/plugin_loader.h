// Loading the plug-in library the way the system's own loader does: dlopen on
// Linux, LoadLibraryA on Windows. The simulator sees only these calls.
// Defined in system_posix.cpp and system_windows.cpp.
#pragma once

#include <string>

// "hadrok.so" or "hadrok.dll".
extern const char pluginFileName[];

// The plug-in's usual place: pluginFileName beside the running program,
// wherever it was started from.
std::string defaultPluginPath();

// Loads the library; returns its handle, or null with the system's reason in
// error.
void* openPluginLibrary(const std::string& path, std::string& error);

// The address of an exported function, or null.
void* pluginSymbol(void* library, const char* name);

void closePluginLibrary(void* library);

// Whether the library at path is still mapped into the process, as after an
// unload that the system did not carry out.
bool pluginStillLoaded(const std::string& path);
