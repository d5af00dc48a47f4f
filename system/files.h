// File work of the program where a system needs a way of its own. Defined in
// system_posix.cpp and system_windows.cpp.
#pragma once

#include <string>

// Copies the file from over the file to, which may exist. False on failure,
// with the system's reason in reason when it gives one (else empty).
bool copyFileReplacing(const std::string& from, const std::string& to, std::string& reason);
