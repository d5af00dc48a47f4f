// How the teams tools write files: through the plug-in's own file layer
// (platform/platform.h), never over what they read, never over anything but
// a regular file, and a registry only while holding the lock a host holds,
// from before reading what is written back until the new file is in place.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/platform.h"

// Checks that data may be written to path without writing: not a symbolic
// link, nothing but a regular file, none of the inputs the command read ("-"
// is standard input), compared by identity, not by name. Throws ToolFailure
// saying why not.
void checkOutput(const std::string& path, const std::vector<std::string>& inputs);

// Replaces path's contents with data, atomically, after checkOutput; never
// at a name of the plug-in's files or of a registry file (*.teams). An
// existing file keeps its permissions; a new one is its owner's only. On
// failure path is unchanged and ToolFailure names the system's reason.
void writeOutputFile(const std::string& path, const std::string& data,
                     const std::vector<std::string>& inputs);

// What the operator ran ("hadrok teams restore"): holdRegistry writes it
// into the lock file, so that whoever is refused meanwhile learns who holds it.
void noteToolCommand(const std::string& command);

// A registry file whose directory's lock this process holds. The lock is
// dropped when the record goes, and by the system if the process dies.
// Its directory is held open, and the lock, the registry and the log are
// reached through it, so that they are always in one folder.
struct HeldRegistry {
    std::string path;     // as the operator named it
    std::string folder;   // its directory, "." for a bare name
    std::string lockPath; // Zandrel.teams.lock in that directory
    Folder dir;           // that directory, held
    FileLock lock;
    bool existed = false;
    std::string before; // the file's bytes when the lock was taken
    // The copy keepSnapshot made, removed again if the file can't be
    // replaced: it would be a copy of a file left as it was.
    mutable std::string snapshot;
    HeldRegistry() = default;
    HeldRegistry(const HeldRegistry&) = delete;
    HeldRegistry& operator=(const HeldRegistry&) = delete;
    ~HeldRegistry() {
        releaseFileLock(lock);
        closeFolder(dir);
    }
};

// Checks path as an output, takes the lock of its directory (never waiting)
// and reads what is there now into held.before. A lock that a host holds, or
// that can't be taken at all, is a refusal (ToolFailure), and so is a file
// there that can't be read whole.
void holdRegistry(HeldRegistry& held, const std::string& path,
                  const std::vector<std::string>& inputs);

// When the registry exists, keeps its bytes as read under the lock as
// PATH.before-<kind>-YYYYMMDD-HHMMSS (never over another), then keeps the
// newest `Backups` of that kind; returns the name, or empty when there was no
// file. Refuses (ToolFailure, nothing written) when the copy can't be made.
std::string keepSnapshot(const HeldRegistry& held, const char* kind);

// Replaces the registry with data, atomically, the lock still held, after
// its line (as logRegistryChange writes it) is in the log and flushed, so
// that no crash or power cut keeps the change without its line. When the
// registry can't be replaced after all, a second line says so, and the
// refusal (ToolFailure) follows.
void replaceRegistry(const HeldRegistry& held, const std::string& data, const char* command,
                     int32_t freq, std::string_view change);

// One line in hadrok.log beside the registry, in the log's format, naming
// the tool, the command, the system user and the change; freq < 0 for none.
// It is flushed before this returns. A log that can't be written is a
// warning on standard error, not a failure.
void logRegistryChange(const HeldRegistry& held, const char* command, int32_t freq,
                       std::string_view change);

// The last part of a path: a snapshot as the log and the plug-in name it.
std::string fileNameOf(const std::string& path);

// The directory of a path, "." for a bare name.
std::string folderOf(const std::string& path);

// True when path names no file yet and not the registry (Zandrel.teams in
// any letter case): a new file that no host loads or saves, which a tool may
// write without the registry's lock, so that recovery works while the host
// runs.
bool isNewNonRegistryFile(const std::string& path);

// Writes data to path, a new file (isNewNonRegistryFile) after checkOutput,
// without any lock; a file that appeared there meanwhile is never replaced.
void writeNewFile(const std::string& path, const std::string& data,
                  const std::vector<std::string>& inputs);

// One line in hadrok.log of folder without holding its lock, beside a host
// that may be appending too: one whole line in one append, and never a
// rotation, which is the lock holder's. A log that can't be written is a
// warning, as above.
void logBesideHost(const std::string& folder, const char* command, int32_t freq,
                   std::string_view change);

// True when a host (or a tool) holds the lock of the registry in folder now;
// looked at without keeping it, and without making a lock file.
bool registryLockHeld(const std::string& folder);
