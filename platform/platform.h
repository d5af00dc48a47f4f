// The small layer that stands in for the operating system; everything above
// it is portable. Each program links one layer of clocks (the four functions
// right below: clock_posix.cpp, clock_windows.cpp, or the tests' fake) and one
// of files (the rest: platform_posix.cpp, platform_windows.cpp, or the tests'
// fake).
#pragma once

#include <cstddef>
#include <cstdint>
#include <ctime>
#include <string>
#include <vector>

// Where the two systems' layers differ, each stated where its function is
// declared below, and checked by the contract tests against both:
// - renamePath refuses an existing target on Windows; POSIX replaces it.
// - A held lock file can be neither deleted nor replaced on Windows; on POSIX
//   both happen, and checkFileLock tells it.
// - writeFileSafely cannot replace a read-only file, or one that another
//   program holds open without sharing its deletion, on Windows; POSIX
//   replaces both. SafeWrite::followLink and permissionsFrom mean nothing on
//   Windows (links are rare there, and permissions come from the folder).
// - The error words are the system's own (lastSystemError), so "File not
//   found" on Windows where POSIX says "No such file or directory".
#if defined(_WIN32)
inline constexpr bool windowsRules = true;
#else
inline constexpr bool windowsRules = false;
#endif

// How a line ends in a text file the operator opens (hadrok.log): CR LF on
// Windows, where editors before Windows 10 1809 show LF alone as one long
// line. Every reader of such files accepts both.
inline constexpr const char* textLineEnd = windowsRules ? "\r\n" : "\n";

// Millisecond tick counter; wraps at 2^32 like the system's own.
uint32_t tickCount();

// The same counter in 64 bits: never wraps; it counts from an arbitrary start
// and is not moved when the wall clock is set.
uint64_t monotonicMilliseconds();

// Seconds since 1970-01-01 00:00:00 UTC as a 64-bit count, right past 2038;
// false when the system gives no time. The one "now" of the plug-in and the
// tools: whatever is stamped or judged by the time asks it, and a clock that
// gives no time stamps nothing.
bool wallClock(int64_t& seconds);

// The process's current directory into buffer (size bytes, zero-terminated).
// Returns false, with an empty buffer, when it does not fit or can't be read.
bool currentDirectory(char* buffer, uint32_t size);

// The separator and file name appended to the current directory for freqs.ini.
extern const char configFileSuffix[];

// The current directory as a full path ending in the separator, however long;
// empty when the system can't tell it.
std::string currentDirectoryPath();

// Whether a profile file that is there can be read: a file that can't be
// read must not pass for a missing one, whose every key is a default.
enum class ProfileFileState { missing, readable, unreadable };
ProfileFileState profileFileState(const char* path);

// Reads one value of a profile file, with the semantics of the system's
// profile reader: the default when the file, section or key is missing; the
// value is cut to size - 1 bytes and zero-terminated. Returns its length.
// Only the first profileReadLimit() bytes of the file are read; anything but
// a regular file reads as missing.
uint32_t readProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* path);

// The names of the keys in the first section named section of a profile
// file, in its order, as the same reader sees them; none when the file or the
// section is missing.
std::vector<std::string> readProfileKeyNames(const char* section, const char* path);

// How many bytes of a profile file readProfileString looks at: the first MiB
// on POSIX; on Windows the system's reader, which has no such limit, so
// SIZE_MAX.
size_t profileReadLimit();

// A folder held open, so that the files a process keeps there are found in
// that very folder, whatever becomes of its name: on POSIX the handle goes
// with the folder when it is renamed, and a folder put in its place under the
// old name is never used; on Windows, held without sharing its deletion, the
// folder can be neither renamed nor removed while held. path is the full
// path it was opened at, ending in the separator (empty: the current
// directory). A Folder that is not open (handle -1) names its files by path.
struct Folder {
    intptr_t handle = -1;
    std::string path;
};
// Whether the functions below that take a Folder reach its files through the
// handle after the folder is renamed; where they don't (Windows), they go by
// its path, and checkFolder tells whether that still names the held folder.
inline constexpr bool folderFollowsHandle = !windowsRules;
bool openFolder(const std::string& path, Folder& folder);
void closeFolder(Folder& folder);
// Whether folder.path still names the folder held: moved, nothing is there;
// replaced, another folder is.
enum class FolderCheck { same, moved, replaced, failed };
FolderCheck checkFolder(const Folder& folder);
// Each function below that takes a Folder and a name does what the one that
// takes a path does, for the file of that name in the folder. The files that
// live beside the registry (the log and its generations, the kept lines, the
// side files, the lock) are reached only this way, so that they can never be
// in two folders; a Folder not open (handle -1) goes by its path.

// Moves a file to a new name in the same directory, never over an existing
// one: a name already taken is told apart from other failures, so that a
// caller can go on to the next free name.
enum class MoveResult { moved, nameTaken, failed };
MoveResult moveNoReplace(const char* from, const char* to);
MoveResult moveNoReplace(const Folder& folder, const char* from, const char* to);

// Makes the names in the folder that holds path durable: a file moved or
// created there is still there after a power cut once this returns true.
// False, with lastSystemError() telling why, when the flush failed.
bool flushFolderOf(const char* path);
bool flushFolder(const Folder& folder);

// A file written so that a crash, a full disk or a failed write never leaves
// a partial file under path: temporary (path + temporarySuffix) beside the
// final file, flushed, then renamed into place.
struct SafeWrite {
    const char* path = nullptr;
    const char* temporarySuffix = ".tmp";
    const void* data = nullptr;
    size_t size = 0;
    // When path is a symbolic link, replace the file it points to and keep
    // the link; otherwise a link at path is replaced like any file.
    bool followLink = false;
    // Refuse to replace an existing path (backups and snapshots).
    bool noReplace = false;
    // Permissions: those of the file replaced; else those of this file (a
    // backup takes the registry's); else owner read and write only.
    const char* permissionsFrom = nullptr;
    // When given, path and permissionsFrom are names in this folder.
    const Folder* folder = nullptr;
};
// renamedUnflushed: the new contents are in place, but flushing the
// directory failed, so the rename may not survive a power cut.
enum class WriteResult { written, renamedUnflushed, failed };
// On failed, nothing is left under the temporary name, path is untouched and
// lastSystemError() tells why.
WriteResult writeFileSafely(const SafeWrite& write);

// A registry file opened for reading. Nothing but a regular file is ever
// opened: a FIFO, a device or a directory is refused before it is opened, so
// that a read can neither block nor run on without end.
struct ReadableFile {
    intptr_t handle = -1;
    uint64_t size = 0;
};
// failed: the system could not open or look at it (no permission, too many
// open files, an I/O error: lastSystemError() tells which); it says nothing
// of what the file is, so never take it for damage.
enum class OpenResult { opened, missing, notRegular, failed };
OpenResult openRegularFile(const char* path, ReadableFile& file);
OpenResult openRegularFile(const Folder& folder, const char* name, ReadableFile& file);
// Reads exactly size bytes; false on an error or an early end (the file
// shrank while read), with lastSystemError() telling which.
bool readExactly(ReadableFile& file, void* buffer, size_t size);
void closeReadableFile(ReadableFile& file);

// A log file opened for appending: never through a symbolic link, never a
// FIFO or a device; created owner-only when missing. It may stay open for
// many appends: its size is kept as they go and the file-size limit is asked
// once, at the opening, so that an append is one call of the system.
struct AppendableFile {
    intptr_t handle = -1;
    uint64_t size = 0;               // when opened, and after each whole append
    uint64_t sizeLimit = UINT64_MAX; // the process's file-size limit at the opening
    uint64_t volume = 0;             // which file it is, as fileIdentityOf tells
    uint64_t index = 0;
};
// notRegular: a symbolic link, a FIFO, a device or a directory is there.
OpenResult openForAppend(const Folder& folder, const char* name, AppendableFile& file);
// False when not all was written (size is then unknown: close and open again).
bool appendBytes(AppendableFile& file, const void* data, size_t size);
// Flushes what was appended to the disk; false, with lastSystemError(), on failure.
bool flushAppendableFile(AppendableFile& file);
void closeAppendableFile(AppendableFile& file);

// What is at a path, looked at without following a symbolic link. A path that
// cannot be looked at counts as missing.
enum class PathKind { missing, regular, other };
PathKind pathKindOf(const char* path);
PathKind pathKindOf(const Folder& folder, const char* name);

// What tells one version of a file from another without reading it: its
// size, its identity on the volume and its times of change (a file written
// again, or replaced, differs in at least one: a replaced file in its
// identity, whatever its size and times). Follows a symbolic link. On
// Windows the times are in 100 ns steps and "changed" is the system's change
// time, never the creation time, which a replace by rename carries over.
struct FileStamp {
    uint64_t size = 0;
    uint64_t volume = 0;
    uint64_t identity = 0;
    int64_t modified = 0; // nanoseconds, or the system's own unit
    int64_t changed = 0;
    bool operator==(const FileStamp&) const = default;
};
bool fileStampOf(const char* path, FileStamp& stamp);
bool fileStampOf(const Folder& folder, const char* name, FileStamp& stamp);

// What stands at a path that is not a regular file, in a few words for a
// message: "a FIFO", "a directory", "a device", "a socket", "a symbolic link"
// (only when followLink is false) or "not a regular file". Empty for a
// regular file, or when nothing is there or it can't be looked at.
std::string pathKindWords(const char* path, bool followLink);

// Which file a path names (following links), or standard input is, so that
// two names of one file can be told; known is false when it can't be told.
struct FileIdentity {
    bool known = false;
    uint64_t device = 0;
    uint64_t index = 0;
};
FileIdentity fileIdentityOf(const char* path);
FileIdentity standardInputIdentity();
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
    return a.known && b.known && a.device == b.device && a.index == b.index;
}

// The account this process runs as, for records of who changed what; empty
// when the system can't tell.
std::string systemUserName();

// The names in the current directory, "." and ".." left out; those read
// before an error when the listing fails part way.
std::vector<std::string> currentDirectoryNames();
// The same for a folder.
std::vector<std::string> directoryNames(const Folder& folder);

// Removes a file, or a directory if it is empty. False when nothing was
// removed.
bool removePath(const Folder& folder, const char* name);

// Moves a name to another in the same directory, with the system's own rule
// for an existing target (replaced here, refused on Windows); never follows a
// link at either name.
bool renamePath(const char* from, const char* to);

// This process's number, for temporary names no other process uses.
uint32_t processId();

// The broken-down local time of a stored time; false for a time that has none
// (a negative count, as the system's conversion gives no result for it).
bool localTimeOf(int64_t seconds, std::tm& result);

// An exclusive advisory lock on a file, held by this process until released
// or until the process ends (the system drops it then, even after a crash).
// The file is created, owner-only, when missing; its contents are the
// holder's line (writeLockHolder), if any.
// On Windows, while it is held, the file can be neither deleted nor replaced.
struct FileLock {
    intptr_t handle = -1;
    bool named = false; // the holder wrote its line: cleared at the release
};
enum class LockResult { taken, heldElsewhere, failed };

// Tries once, never waits. On failed, lastSystemError() tells why.
LockResult takeFileLock(const char* path, FileLock& lock);
LockResult takeFileLock(const Folder& folder, const char* name, FileLock& lock);
void releaseFileLock(FileLock& lock);

// The holder writes who it is into the lock file, replacing what an earlier
// holder left, and the release clears it again; any process may read it while
// the lock is held. On Windows the locked first byte can't be read by others,
// so the line is written after a blank there. False when it could not be
// written (the lock is held all the same).
bool writeLockHolder(FileLock& lock, const std::string& line);
// What the holder wrote (the start of the file, up to 256 bytes, less the
// locked byte on Windows); empty when nothing can be read.
std::string lockHolderOf(const Folder& folder, const char* name);

// Whether another open file holds the lock at path, looked at without
// taking it, so that a look never keeps a starting holder out. free when
// the file is missing or nobody holds it; failed: lastSystemError() tells.
// POSIX asks for the record lock on the first byte; Windows opens the file
// for deletion for an instant, which the holder's open refuses (and which
// takeFileLock's open waits out).
enum class LockProbe { free, held, failed };
LockProbe probeFileLock(const char* path);
LockProbe probeFileLock(const Folder& folder, const char* name);

// Whether path still names the very file the lock is held on. A lock file
// deleted or replaced by hand no longer keeps a second process out.
enum class LockCheck { same, replaced, failed };
LockCheck checkFileLock(const char* path, const FileLock& lock);
LockCheck checkFileLock(const Folder& folder, const char* name, const FileLock& lock);

// Whether the last failure is one that passes by itself (too many open files,
// out of memory, interrupted, would block, an I/O error, a file another
// program holds open), as opposed to one that stays (no permission, not a
// regular file).
bool lastErrorIsPassing();

// Writes a line to the process's standard error, for what happens when no
// operator is left to be told (the unload); a failure is ignored.
void writeStandardError(const std::string& text);

// The system's own words for the error of the last failed platform or C
// library call on this thread ("Permission denied"); never empty.
std::string lastSystemError();
