#include "tools/teams_write.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <filesystem>

#include <fmt/format.h>

#include "platform/platform.h"
#include "tools/teams_file.h"

#ifdef _WIN32
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#else
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace {

std::string lockPathFor(const std::string& path) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(hostLockFileName) : (parent / hostLockFileName).string();
}

[[noreturn]] void refuse(const std::string& path, const std::string& why) {
    throw ToolFailure(fmt::format("{}: {}; nothing written", path, why));
}

[[noreturn]] void cannotWrite(const std::string& path, const std::string& reason, bool existed) {
    throw ToolFailure(existed
                          ? fmt::format("cannot write {}: {}; {} is unchanged", path, reason, path)
                          : fmt::format("cannot write {}: {}; nothing written", path, reason));
}

// Unique per process, so that two tools (or a tool and a host) never share
// one temporary.
std::string temporaryFor(const std::string& path) {
#ifdef _WIN32
    unsigned long id = GetCurrentProcessId();
#else
    unsigned long id = static_cast<unsigned long>(getpid());
#endif
    return fmt::format("{}.hadrok-{}.tmp", path, id);
}

#ifdef _WIN32

// What an existing name is, from a handle that follows no reparse point.
struct Existing {
    bool exists = false;
    bool regular = false;
    bool link = false;
    DWORD volume = 0;
    DWORD indexHigh = 0, indexLow = 0;
};

Existing inspect(const std::string& path, bool followLinks) {
    Existing result;
    DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (followLinks ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE file =
        CreateFileA(path.c_str(), 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, flags, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return result;
        result.exists = true; // there, but not to be looked at: not ours to replace
        return result;
    }
    result.exists = true;
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) == FILE_TYPE_DISK && GetFileInformationByHandle(file, &info)) {
        result.link = (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
        result.regular = !result.link && (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
        result.volume = info.dwVolumeSerialNumber;
        result.indexHigh = info.nFileIndexHigh;
        result.indexLow = info.nFileIndexLow;
    }
    CloseHandle(file);
    return result;
}

bool sameFile(const Existing& a, const Existing& b) {
    return a.exists && b.exists && a.volume == b.volume && a.indexHigh == b.indexHigh &&
           a.indexLow == b.indexLow;
}

Existing inspectInput(const std::string& input) {
    if (input != "-") return inspect(input, true);
    Existing result;
    HANDLE in = GetStdHandle(STD_INPUT_HANDLE);
    BY_HANDLE_FILE_INFORMATION info{};
    if (in != INVALID_HANDLE_VALUE && GetFileType(in) == FILE_TYPE_DISK &&
        GetFileInformationByHandle(in, &info)) {
        result.exists = result.regular = true;
        result.volume = info.dwVolumeSerialNumber;
        result.indexHigh = info.nFileIndexHigh;
        result.indexLow = info.nFileIndexLow;
    }
    return result;
}

// True when another process holds the host's lock; a missing lock file means
// no host, and is never created here.
bool hostHoldsLock(const std::string& lockPath) {
    HANDLE file = CreateFileA(lockPath.c_str(), GENERIC_READ | GENERIC_WRITE,
                              FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                              OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    bool held = false;
    OVERLAPPED at{};
    if (GetFileType(file) == FILE_TYPE_DISK) {
        if (LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at))
            UnlockFileEx(file, 0, 1, 0, &at);
        else
            held = GetLastError() == ERROR_LOCK_VIOLATION || GetLastError() == ERROR_IO_PENDING;
    }
    CloseHandle(file);
    return held;
}

void replaceContents(const std::string& path, const std::string& data, const Existing& before) {
    std::string temporary = temporaryFor(path);
    HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) cannotWrite(path, lastSystemError(), before.exists);
    bool ok = true;
    size_t done = 0;
    while (ok && done < data.size()) {
        DWORD chunk = static_cast<DWORD>(std::min<size_t>(data.size() - done, 1u << 20));
        DWORD written = 0;
        ok = WriteFile(file, data.data() + done, chunk, &written, nullptr) && written > 0;
        done += written;
    }
    ok = ok && FlushFileBuffers(file);
    std::string reason = ok ? std::string() : lastSystemError();
    CloseHandle(file);
    if (ok && !MoveFileExA(temporary.c_str(), path.c_str(),
                           MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) {
        ok = false;
        reason = lastSystemError();
    }
    if (!ok) {
        DeleteFileA(temporary.c_str());
        cannotWrite(path, reason, before.exists);
    }
}

#else

struct Existing {
    bool exists = false;
    bool regular = false;
    bool link = false;
    struct stat status {};
};

Existing inspect(const std::string& path, bool followLinks) {
    Existing result;
    int got =
        followLinks ? stat(path.c_str(), &result.status) : lstat(path.c_str(), &result.status);
    if (got != 0) {
        if (errno == ENOENT) return result;
        if (errno == ENOTDIR) return result; // a missing directory: the write says so
        throw ToolFailure(
            fmt::format("cannot write {}: {}; nothing written", path, lastSystemError()));
    }
    result.exists = true;
    result.link = S_ISLNK(result.status.st_mode);
    result.regular = S_ISREG(result.status.st_mode);
    return result;
}

bool sameFile(const Existing& a, const Existing& b) {
    return a.exists && b.exists && a.status.st_dev == b.status.st_dev &&
           a.status.st_ino == b.status.st_ino;
}

Existing inspectInput(const std::string& input) {
    if (input != "-") {
        Existing result;
        if (stat(input.c_str(), &result.status) == 0) result.exists = true;
        return result;
    }
    Existing result;
    if (fstat(STDIN_FILENO, &result.status) == 0) result.exists = true;
    return result;
}

bool hostHoldsLock(const std::string& lockPath) {
    // Read-only, non-blocking, never through a link, never created: only a
    // probe, taken and dropped at once.
    int fd = open(lockPath.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return false;
    struct stat st {};
    bool held = false;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0)
            flock(fd, LOCK_UN);
        else
            held = errno == EWOULDBLOCK;
    }
    close(fd);
    return held;
}

std::string directoryOf(const std::string& path) {
    std::filesystem::path parent = std::filesystem::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool writeAll(int fd, const std::string& data) {
    size_t done = 0;
    while (done < data.size()) {
        ssize_t n = write(fd, data.data() + done, data.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

void replaceContents(const std::string& path, const std::string& data, const Existing& before) {
    std::string temporary = temporaryFor(path);
    int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) cannotWrite(path, lastSystemError(), before.exists);
    bool ok = true;
    if (before.exists) {
        // The file's permissions (and, for root, its owner) stay as they were.
        ok = fchmod(fd, before.status.st_mode & 07777) == 0;
        if (ok && geteuid() == 0) ok = fchown(fd, before.status.st_uid, before.status.st_gid) == 0;
    }
    ok = ok && writeAll(fd, data) && fsync(fd) == 0;
    std::string reason = ok ? std::string() : lastSystemError();
    if (close(fd) != 0 && ok) {
        ok = false;
        reason = lastSystemError();
    }
    if (ok && rename(temporary.c_str(), path.c_str()) != 0) {
        ok = false;
        reason = lastSystemError();
    }
    if (!ok) {
        unlink(temporary.c_str());
        cannotWrite(path, reason, before.exists);
    }
    // The rename is done; flushing the directory makes it survive a power cut.
    // Some file systems cannot flush one (EINVAL): nothing to say then.
    int dir = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        if (fsync(dir) != 0 && errno != EINVAL)
            fmt::print(stderr, "warning: {} is written, but flushing its directory failed: {}\n",
                       path, lastSystemError());
        close(dir);
    }
}

#endif

Existing checkedTarget(const std::string& path, const WriteRules& rules) {
    Existing target = inspect(path, false);
    if (target.link)
        refuse(path, "it is a symbolic link (write to the file it points to, or to a new name)");
    if (target.exists && !target.regular)
        refuse(path, "it is not a regular file (a directory, device or pipe), so it is never "
                     "replaced");
    if (target.exists)
        for (const std::string& input : rules.inputs)
            if (sameFile(target, inspectInput(input)))
                refuse(path, fmt::format("it is the input {} (write to a new file)",
                                         input == "-" ? std::string("(standard input)") : input));
    if (rules.registry && !rules.force && hostHoldsLock(lockPathFor(path)))
        refuse(path, fmt::format("a host is using the registry there (it holds {}): stop it "
                                 "first, or give --force",
                                 lockPathFor(path)));
    return target;
}

} // namespace

void checkWritable(const std::string& path, const WriteRules& rules) {
    checkedTarget(path, rules);
}

void writeFileSafely(const std::string& path, const std::string& data, const WriteRules& rules) {
    if (path.empty()) throw ToolFailure("no output file named; nothing written");
    Existing before = checkedTarget(path, rules);
    replaceContents(path, data, before);
}
