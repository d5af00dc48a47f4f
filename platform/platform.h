// The small layer that stands in for the operating system: one implementation
// per system (platform_posix.cpp, platform_windows.cpp). Everything above it is
// portable.
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>

// Millisecond tick counter; wraps at 2^32 like the system's own.
uint32_t tickCount();

// Seconds since 1970-01-01 00:00:00 UTC, as a signed 32-bit count.
int32_t currentTime();

// The process's current directory into buffer (size bytes, zero-terminated).
// Returns false, with an empty buffer, when it does not fit or can't be read.
bool currentDirectory(char* buffer, uint32_t size);

// The separator and file name appended to the current directory for freqs.ini.
extern const char configFileSuffix[];

// Reads one value of a profile file, with the semantics of the system's
// profile reader: the default when the file, section or key is missing; the
// value is cut to size - 1 bytes and zero-terminated. Returns its length.
// Only the first MiB of the file is read; anything but a regular file reads as
// missing.
uint32_t readProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* path);

// Writes size bytes to path so that either the old or the new contents survive
// a crash: a temporary file beside it, flushed to disk, then renamed over it.
// The temporary is path + ".tmp", so a stale one is reused, never piled up.
// On failure before the rename the temporary file is removed, path is left
// untouched and the result is false. False is also returned when the new
// contents are in place but the directory could not be flushed after it.
bool replaceFileContents(const char* path, const void* data, size_t size);

// Renames from to to, refusing to overwrite an existing file.
bool renameNoReplace(const char* from, const char* to);

// The broken-down local time of a stored time; false for a time that has none
// (a negative count, as the system's conversion gives no result for it).
bool localTimeOf(int32_t seconds, std::tm& result);

// An exclusive advisory lock on a file, held by this process until released
// or until the process ends (the system drops it then, even after a crash).
// The file is created, owner-only, when missing; its contents mean nothing.
struct FileLock {
    intptr_t handle = -1;
};
enum class LockResult { taken, heldElsewhere, failed };

// Tries once, never waits. On failed, lastSystemError() tells why.
LockResult takeFileLock(const char* path, FileLock& lock);
void releaseFileLock(FileLock& lock);

// The system's own words for the error of the last failed platform or C
// library call on this thread ("Permission denied"); never empty.
std::string lastSystemError();
