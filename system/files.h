// File work of the program where a system needs a way of its own. Defined in
// system_posix.cpp and system_windows.cpp.
#pragma once

#include <string>

// Copies the file from over the file to, which may exist. False on failure,
// with the system's reason in reason when it gives one (else empty).
bool copyFileReplacing(const std::string& from, const std::string& to, std::string& reason);

// When this program runs as the system's administrator (root), which reads
// any file, whether the user a host runs as could not read the file at path:
// that user taken as the owner of the file's folder. Empty when it could, or
// when nothing can be told (not root, or a system without such modes);
// otherwise the words that say why not, naming the user and the mode.
std::string unreadableForTheHostsUser(const std::string& path);

// Why a file that is there could not be replaced by a host's save or a
// tool's write, with the command that mends it on this system: read-only
// on Windows; immutable or append-only, or in a folder this user can't
// write, on Linux (where a file's own mode is no bar to replacing it).
// Empty when nothing is known to be in the way.
std::string unreplaceableWhy(const std::string& path);

// A folder argument as the operator meant it. On Windows a quoted folder
// that ends in a backslash ("C:\Zandrel Host\") arrives as C:\Zandrel Host"
// (the backslash escapes the closing quote); no Windows name holds a double
// quote, so a trailing one is dropped. Unchanged elsewhere.
std::string folderArgument(std::string typed);
