#include "platform/platform.h"

#include "platform/profile_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

bool currentDirectory(char* buffer, uint32_t size) {
    if (!buffer || size == 0) return false;
    if (!getcwd(buffer, size)) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

const char configFileSuffix[] = "/freqs.ini";

std::string currentDirectoryPath() {
    std::string path(256, '\0');
    for (;;) {
        if (getcwd(path.data(), path.size())) break;
        if (errno != ERANGE || path.size() > (size_t(1) << 20)) return {};
        path.resize(path.size() * 2);
    }
    path.resize(std::strlen(path.c_str()));
    if (path.empty() || path[0] != '/') return {}; // unreachable directory
    if (path.back() != '/') path += '/';
    return path;
}

ProfileFileState profileFileState(const char* path) {
    struct stat st {};
    if (stat(path, &st) != 0)
        return errno == ENOENT || errno == ENOTDIR ? ProfileFileState::missing
                                                   : ProfileFileState::unreadable;
    // Anything but a regular file reads as missing, as the profile reader
    // treats it; a regular file must open.
    if (!S_ISREG(st.st_mode)) return ProfileFileState::missing;
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return errno == ENOENT ? ProfileFileState::missing : ProfileFileState::unreadable;
    close(fd);
    return ProfileFileState::readable;
}

// A profile file is a few hundred bytes; anything past the first MiB is not
// looked at, so a huge or endless file costs no more than that.
constexpr size_t maxProfileBytes = size_t(1) << 20;

size_t profileReadLimit() {
    return maxProfileBytes;
}

namespace {

// Reads up to maxProfileBytes of a regular file. Anything else (a directory,
// a pipe, a device) reads as missing, so it can neither block nor run on.
bool readProfileFile(const char* path, std::vector<char>& contents) {
    const int fd = open(path, O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        return false;
    }
    // Sized to the file (one byte more, to see it end), growing only if the
    // file grows while it is read; clearing a whole MiB on each of a
    // connection's reads would cost more than the reading.
    const size_t expected = st.st_size > 0 ? static_cast<size_t>(st.st_size) + 1 : 4096;
    contents.resize(std::min(expected, maxProfileBytes));
    size_t used = 0;
    for (;;) {
        if (used == contents.size()) {
            if (used == maxProfileBytes) break;
            contents.resize(std::min(used * 2, maxProfileBytes));
        }
        const ssize_t n = read(fd, contents.data() + used, contents.size() - used);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break; // end of file; an error keeps what was read
        used += static_cast<size_t>(n);
    }
    close(fd);
    contents.resize(used);
    return true;
}

bool writeAll(int fd, const unsigned char* data, size_t size) {
    while (size > 0) {
        const ssize_t n = write(fd, data, size);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (n == 0) return false;
        data += n;
        size -= static_cast<size_t>(n);
    }
    return true;
}

// A write past the process's file-size limit would raise a signal that ends
// the host; refused beforehand, it fails like any other write ("File too
// large"), and the host's signal handling is left alone.
uint64_t fileSizeLimit() {
    struct rlimit limit {};
    if (getrlimit(RLIMIT_FSIZE, &limit) != 0 || limit.rlim_cur == RLIM_INFINITY) return UINT64_MAX;
    return uint64_t(limit.rlim_cur);
}

bool withinFileSizeLimit(uint64_t at, size_t size, uint64_t limit) {
    if (limit == UINT64_MAX || at + size <= limit) return true;
    errno = EFBIG;
    return false;
}

bool withinFileSizeLimit(uint64_t at, size_t size) {
    return withinFileSizeLimit(at, size, fileSizeLimit());
}

// Where a name in a folder is reached: through the folder's handle, or, for a
// folder not held open, by its path.
struct At {
    int dir = AT_FDCWD;
    std::string name;
};

At at(const Folder& folder, const char* name) {
    if (folder.handle >= 0) return {int(folder.handle), name ? name : ""};
    return {AT_FDCWD, folder.path + (name ? name : "")};
}

std::string directoryOf(const std::string& path) {
    const size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    if (slash == 0) return "/";
    return path.substr(0, slash);
}

} // namespace

uint32_t readProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* path) {
    std::vector<char> contents;
    if (!path || !readProfileFile(path, contents))
        return profileStringFromText(nullptr, 0, section, key, defaultValue, buffer, size);
    return profileStringFromText(contents.data(), contents.size(), section, key, defaultValue,
                                 buffer, size);
}

std::vector<std::string> readProfileKeyNames(const char* section, const char* path) {
    std::vector<char> contents;
    if (!path || !readProfileFile(path, contents)) return {};
    return profileKeyNames(contents.data(), contents.size(), section);
}

// Renames from to to in one folder, refusing to overwrite an existing file.
static bool renameNoReplace(int dir, const char* from, const char* to) {
    if (!from || !to) return false;
#ifdef RENAME_NOREPLACE
    if (renameat2(dir, from, dir, to, RENAME_NOREPLACE) == 0) return true;
    // Only a file system or kernel without the flag falls through to links.
    if (errno != EINVAL && errno != ENOSYS) return false;
#endif
    // A link refuses an existing target, so nothing is ever overwritten.
    if (linkat(dir, from, dir, to, 0) != 0) return false;
    if (unlinkat(dir, from, 0) != 0) {
        unlinkat(dir, to, 0);
        return false;
    }
    return true;
}

bool localTimeOf(int64_t seconds, std::tm& result) {
    if (seconds < 0) return false;
    const time_t t = seconds;
    return localtime_r(&t, &result) != nullptr;
}

LockResult takeFileLock(const char* path, FileLock& lock) {
    return takeFileLock(Folder{}, path, lock);
}

LockResult takeFileLock(const Folder& folder, const char* name, FileLock& lock) {
    if (!name || !*name) {
        errno = EINVAL;
        return LockResult::failed;
    }
    const At file = at(folder, name);
    // Non-blocking and never through a link, so that a FIFO or a planted
    // link can neither hang the host nor point the lock somewhere else.
    const int fd = openat(file.dir, file.name.c_str(),
                          O_RDWR | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY, 0600);
    if (fd < 0) return LockResult::failed;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        if (errno == 0 || errno == EEXIST) errno = EINVAL;
        return LockResult::failed;
    }
    // A record lock on the first byte beside the whole-file lock: the first
    // can be looked at without being taken (probeFileLock), the second keeps
    // out a holder of an earlier version, which takes that one alone. Bound
    // to this open file, not the process, so no other close drops it.
    struct flock first {};
    first.l_type = F_WRLCK;
    first.l_whence = SEEK_SET;
    first.l_len = 1;
    if (fcntl(fd, F_OFD_SETLK, &first) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return error == EAGAIN || error == EACCES ? LockResult::heldElsewhere : LockResult::failed;
    }
    if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return error == EWOULDBLOCK ? LockResult::heldElsewhere : LockResult::failed;
    }
    lock.handle = fd;
    return LockResult::taken;
}

void releaseFileLock(FileLock& lock) {
    if (lock.handle < 0) return;
    // Cleared while still held: a later holder's line is never cut.
    if (lock.named) {
        const int cleared = ftruncate(static_cast<int>(lock.handle), 0);
        (void)cleared; // the line of a holder gone is no harm
    }
    close(static_cast<int>(lock.handle)); // closing drops the lock
    lock.handle = -1;
    lock.named = false;
}

bool writeLockHolder(FileLock& lock, const std::string& line) {
    if (lock.handle < 0) {
        errno = EBADF;
        return false;
    }
    const int fd = static_cast<int>(lock.handle);
    if (ftruncate(fd, 0) != 0) return false;
    lock.named = true;
    const std::string text = line + "\n";
    size_t done = 0;
    while (done < text.size()) {
        const ssize_t n = pwrite(fd, text.data() + done, text.size() - done, off_t(done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return false;
        done += size_t(n);
    }
    return true;
}

std::string lockHolderOf(const Folder& folder, const char* name) {
    if (!name || !*name) return {};
    const At file = at(folder, name);
    const int fd = openat(file.dir, file.name.c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return {};
    struct stat st {};
    char buffer[256];
    ssize_t n = -1;
    if (fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) n = pread(fd, buffer, sizeof buffer, 0);
    close(fd);
    return n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

LockProbe probeFileLock(const char* path) {
    return probeFileLock(Folder{}, path);
}

LockProbe probeFileLock(const Folder& folder, const char* name) {
    if (!name || !*name) {
        errno = EINVAL;
        return LockProbe::failed;
    }
    const At file = at(folder, name);
    const int fd = openat(file.dir, file.name.c_str(),
                          O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0) return errno == ENOENT ? LockProbe::free : LockProbe::failed;
    struct stat st {};
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        if (errno == 0) errno = EINVAL;
        return LockProbe::failed;
    }
    struct flock first {};
    first.l_type = F_WRLCK;
    first.l_whence = SEEK_SET;
    first.l_len = 1;
    const int asked = fcntl(fd, F_OFD_GETLK, &first);
    const int error = errno;
    close(fd);
    errno = error;
    if (asked != 0) return LockProbe::failed;
    return first.l_type == F_UNLCK ? LockProbe::free : LockProbe::held;
}

LockCheck checkFileLock(const char* path, const FileLock& lock) {
    return checkFileLock(Folder{}, path, lock);
}

LockCheck checkFileLock(const Folder& folder, const char* name, const FileLock& lock) {
    struct stat held {};
    if (lock.handle < 0 || fstat(int(lock.handle), &held) != 0) return LockCheck::failed;
    struct stat named {};
    const At file = at(folder, name);
    if (fstatat(file.dir, file.name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0)
        return errno == ENOENT ? LockCheck::replaced : LockCheck::failed;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino ? LockCheck::same
                                                                      : LockCheck::replaced;
}

bool lastErrorIsPassing() {
    switch (errno) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case ENOBUFS:
    case EINTR:
    case EAGAIN:
    case EIO:
    case EBUSY:
    case ETIMEDOUT:
        return true;
    default:
        return false;
    }
}

std::string lastSystemError() {
    const int error = errno;
    const char* text = error != 0 ? std::strerror(error) : nullptr;
    return text && *text ? std::string(text) : std::string("unknown error");
}

MoveResult moveNoReplace(const char* from, const char* to) {
    if (renameNoReplace(AT_FDCWD, from, to)) return MoveResult::moved;
    return errno == EEXIST ? MoveResult::nameTaken : MoveResult::failed;
}

MoveResult moveNoReplace(const Folder& folder, const char* from, const char* to) {
    if (!from || !to) return MoveResult::failed;
    const At source = at(folder, from);
    const At target = at(folder, to);
    if (renameNoReplace(source.dir, source.name.c_str(), target.name.c_str()))
        return MoveResult::moved;
    return errno == EEXIST ? MoveResult::nameTaken : MoveResult::failed;
}

bool openFolder(const std::string& path, Folder& folder) {
    // Read-only, as a folder must be opened to be flushed and listed.
    const int fd = open(path.empty() ? "." : path.c_str(),
                        O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
    if (fd < 0) return false;
    folder.handle = fd;
    folder.path = path;
    return true;
}

void closeFolder(Folder& folder) {
    if (folder.handle >= 0) close(int(folder.handle));
    folder.handle = -1;
}

FolderCheck checkFolder(const Folder& folder) {
    struct stat held {};
    if (folder.handle < 0 || fstat(int(folder.handle), &held) != 0) return FolderCheck::failed;
    struct stat named {};
    if (stat(folder.path.empty() ? "." : folder.path.c_str(), &named) != 0)
        return errno == ENOENT || errno == ENOTDIR ? FolderCheck::moved : FolderCheck::failed;
    return held.st_dev == named.st_dev && held.st_ino == named.st_ino ? FolderCheck::same
                                                                      : FolderCheck::replaced;
}

bool flushFolder(const Folder& folder) {
    if (folder.handle < 0) return flushFolderOf((folder.path.empty() ? "./" : folder.path).c_str());
    // Some file systems have nothing to flush in a folder and say so.
    return fsync(int(folder.handle)) == 0 || errno == EINVAL;
}

bool flushFolderOf(const char* path) {
    if (!path || !*path) {
        errno = EINVAL;
        return false;
    }
    const int dir = open(directoryOf(path).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir < 0) return false;
    // Some file systems have nothing to flush in a folder and say so.
    const bool synced = fsync(dir) == 0 || errno == EINVAL;
    const int error = errno;
    close(dir);
    errno = error;
    return synced;
}

namespace {

// The file a chain of symbolic links ends at; a link to a file not yet made
// names the file to make. Gives up (ELOOP) after as many links as the
// system follows.
bool resolveLinks(int dir, std::string& path) {
    for (int hops = 0; hops < 40; ++hops) {
        struct stat st {};
        if (fstatat(dir, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0) return errno == ENOENT;
        if (!S_ISLNK(st.st_mode)) return true;
        std::string target(size_t(st.st_size > 0 ? st.st_size : 255) + 1, '\0');
        const ssize_t n = readlinkat(dir, path.c_str(), target.data(), target.size());
        if (n < 0) return false;
        target.resize(size_t(n));
        if (target.empty() || target[0] != '/') {
            const size_t slash = path.rfind('/');
            if (slash != std::string::npos) target = path.substr(0, slash + 1) + target;
        }
        path = target;
    }
    errno = ELOOP;
    return false;
}

// Closes fd and removes the temporary, keeping the errno that told why.
WriteResult abandon(int fd, int dir, const std::string& temporary) {
    const int error = errno;
    if (fd >= 0) close(fd);
    unlinkat(dir, temporary.c_str(), 0);
    errno = error;
    return WriteResult::failed;
}

} // namespace

WriteResult writeFileSafely(const SafeWrite& write) {
    if (!write.path || !*write.path || !write.temporarySuffix || (!write.data && write.size != 0)) {
        errno = EINVAL;
        return WriteResult::failed;
    }
    const At named = write.folder ? at(*write.folder, write.path) : At{AT_FDCWD, write.path};
    const int dir = named.dir;
    std::string target = named.name;
    if (write.followLink && !resolveLinks(dir, target)) return WriteResult::failed;
    const std::string temporary = target + write.temporarySuffix;

    // The mode and owner of what is replaced, else of the file named, else
    // owner-only: the registry holds password hashes.
    mode_t mode = 0600;
    uid_t owner = uid_t(-1);
    gid_t group = gid_t(-1);
    struct stat st {};
    const At permissions = !write.permissionsFrom ? At{}
                           : write.folder         ? at(*write.folder, write.permissionsFrom)
                                                  : At{AT_FDCWD, write.permissionsFrom};
    if (fstatat(dir, target.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode)) {
        mode = st.st_mode & 07777;
        owner = st.st_uid;
        group = st.st_gid;
    } else if (write.permissionsFrom &&
               fstatat(permissions.dir, permissions.name.c_str(), &st, 0) == 0 &&
               S_ISREG(st.st_mode)) {
        mode = st.st_mode & 0777;
    }

    // The temporary's name is this process's own; one left by a crash of an
    // earlier process with the same number is replaced, never written
    // through (a link there would send the bytes elsewhere).
    if (unlinkat(dir, temporary.c_str(), 0) != 0 && errno != ENOENT) return WriteResult::failed;
    const int fd =
        openat(dir, temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return WriteResult::failed;
    if (fchmod(fd, mode) != 0) return abandon(fd, dir, temporary);
    if (owner != uid_t(-1) && (owner != geteuid() || group != getegid())) {
        // Only root may give a file away; anyone else keeps his own.
        if (fchown(fd, owner, group) != 0 && errno != EPERM) return abandon(fd, dir, temporary);
    }
    if (!withinFileSizeLimit(0, write.size) ||
        !writeAll(fd, static_cast<const unsigned char*>(write.data), write.size) || fsync(fd) != 0)
        return abandon(fd, dir, temporary);
    if (close(fd) != 0) return abandon(-1, dir, temporary);
    if (write.noReplace) {
        if (!renameNoReplace(dir, temporary.c_str(), target.c_str()))
            return abandon(-1, dir, temporary);
    } else if (renameat(dir, temporary.c_str(), dir, target.c_str()) != 0) {
        return abandon(-1, dir, temporary);
    }

    const int folder = openat(dir, directoryOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    bool synced = folder >= 0 && (fsync(folder) == 0 || errno == EINVAL);
    if (folder >= 0) {
        const int error = errno;
        close(folder);
        errno = error;
    }
    return synced ? WriteResult::written : WriteResult::renamedUnflushed;
}

namespace {

// An open file that is a regular one; otherwise closed, with errno kept: a
// failed fstat is a failure, never a sign of what the file is.
OpenResult regularOrNot(int fd, struct stat& st) {
    if (fstat(fd, &st) != 0) {
        const int error = errno;
        close(fd);
        errno = error;
        return OpenResult::failed;
    }
    if (S_ISREG(st.st_mode)) return OpenResult::opened;
    close(fd);
    return OpenResult::notRegular;
}

} // namespace

OpenResult openRegularFile(const char* path, ReadableFile& file) {
    return openRegularFile(Folder{}, path, file);
}

OpenResult openRegularFile(const Folder& folder, const char* name, ReadableFile& file) {
    file = {};
    struct stat st {};
    const At named = at(folder, name);
    const char* path = named.name.c_str();
    // Looked at before it is opened: opening a FIFO or some devices blocks
    // or has effects of its own.
    if (fstatat(named.dir, path, &st, 0) != 0)
        return errno == ENOENT ? OpenResult::missing : OpenResult::failed;
    if (!S_ISREG(st.st_mode)) return OpenResult::notRegular;
    const int fd = openat(named.dir, path, O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT ? OpenResult::missing : OpenResult::failed;
    // It may have been swapped between the look and the open. A look that
    // fails tells nothing of what the file is.
    if (const OpenResult kind = regularOrNot(fd, st); kind != OpenResult::opened) return kind;
    file.handle = fd;
    file.size = uint64_t(st.st_size);
    return OpenResult::opened;
}

bool readExactly(ReadableFile& file, void* buffer, size_t size) {
    auto* at = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const ssize_t n = read(int(file.handle), at, size);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) return false;
        if (n == 0) {
            errno = ENODATA; // the file is shorter than it was
            return false;
        }
        at += n;
        size -= size_t(n);
    }
    return true;
}

void closeReadableFile(ReadableFile& file) {
    if (file.handle >= 0) close(int(file.handle));
    file.handle = -1;
}

OpenResult openForAppend(const Folder& folder, const char* name, AppendableFile& file) {
    file = {};
    if (!name || !*name) {
        errno = EINVAL;
        return OpenResult::failed;
    }
    const At named = at(folder, name);
    struct stat st {};
    if (fstatat(named.dir, named.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) == 0 &&
        !S_ISREG(st.st_mode))
        return OpenResult::notRegular;
    const int fd = openat(
        named.dir, named.name.c_str(),
        O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_NOCTTY | O_CLOEXEC, 0600);
    if (fd < 0)
        return errno == ELOOP || errno == ENXIO ? OpenResult::notRegular : OpenResult::failed;
    if (const OpenResult kind = regularOrNot(fd, st); kind != OpenResult::opened) return kind;
    file.handle = fd;
    file.size = uint64_t(st.st_size);
    file.sizeLimit = fileSizeLimit();
    file.volume = uint64_t(st.st_dev);
    file.index = uint64_t(st.st_ino);
    return OpenResult::opened;
}

bool appendBytes(AppendableFile& file, const void* data, size_t size) {
    if (!withinFileSizeLimit(file.size, size, file.sizeLimit)) return false;
    if (!writeAll(int(file.handle), static_cast<const unsigned char*>(data), size)) return false;
    file.size += size;
    return true;
}

bool flushAppendableFile(AppendableFile& file) {
    return fsync(int(file.handle)) == 0;
}

void closeAppendableFile(AppendableFile& file) {
    if (file.handle >= 0) close(int(file.handle));
    file.handle = -1;
}

uint32_t processId() {
    return uint32_t(getpid());
}

PathKind pathKindOf(const char* path) {
    return pathKindOf(Folder{}, path);
}

PathKind pathKindOf(const Folder& folder, const char* name) {
    struct stat st {};
    const At file = at(folder, name);
    if (fstatat(file.dir, file.name.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0)
        return PathKind::missing;
    return S_ISREG(st.st_mode) ? PathKind::regular : PathKind::other;
}

bool fileStampOf(const char* path, FileStamp& stamp) {
    return fileStampOf(Folder{}, path, stamp);
}

bool fileStampOf(const Folder& folder, const char* name, FileStamp& stamp) {
    struct stat st {};
    const At file = at(folder, name);
    if (fstatat(file.dir, file.name.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode)) return false;
    stamp.size = static_cast<uint64_t>(st.st_size);
    stamp.volume = static_cast<uint64_t>(st.st_dev);
    stamp.identity = static_cast<uint64_t>(st.st_ino);
    stamp.modified = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    // Set by the system at every change, and by no one at will.
    stamp.changed = int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return true;
}

std::vector<std::string> currentDirectoryNames() {
    return directoryNames(Folder{});
}

std::vector<std::string> directoryNames(const Folder& folder) {
    std::vector<std::string> names;
    // A listing of its own, so that the held handle's position is never moved.
    const int fd = folder.handle >= 0
                       ? openat(int(folder.handle), ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)
                       : open(folder.path.empty() ? "." : folder.path.c_str(),
                              O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return names;
    DIR* dir = fdopendir(fd);
    if (!dir) {
        close(fd);
        return names;
    }
    while (const dirent* entry = readdir(dir)) {
        const std::string_view name = entry->d_name;
        if (name != "." && name != "..") names.emplace_back(name);
    }
    closedir(dir);
    return names;
}

bool removePath(const Folder& folder, const char* name) {
    const At file = at(folder, name);
    if (unlinkat(file.dir, file.name.c_str(), 0) == 0) return true;
    if (errno != EISDIR && errno != EPERM) return false;
    return unlinkat(file.dir, file.name.c_str(), AT_REMOVEDIR) == 0;
}

bool renamePath(const char* from, const char* to) {
    return std::rename(from, to) == 0;
}

std::string pathKindWords(const char* path, bool followLink) {
    struct stat st {};
    if ((followLink ? stat(path, &st) : lstat(path, &st)) != 0) return {};
    if (S_ISREG(st.st_mode)) return {};
    if (S_ISFIFO(st.st_mode)) return "a FIFO";
    if (S_ISDIR(st.st_mode)) return "a directory";
    if (S_ISCHR(st.st_mode) || S_ISBLK(st.st_mode)) return "a device";
    if (S_ISSOCK(st.st_mode)) return "a socket";
    if (S_ISLNK(st.st_mode)) return "a symbolic link";
    return "not a regular file";
}

namespace {

FileIdentity identityFrom(int got, const struct stat& st) {
    FileIdentity identity;
    if (got != 0) return identity;
    identity.known = true;
    identity.device = uint64_t(st.st_dev);
    identity.index = uint64_t(st.st_ino);
    return identity;
}

} // namespace

FileIdentity fileIdentityOf(const char* path) {
    struct stat st {};
    const int got = stat(path, &st);
    return identityFrom(got, st);
}

FileIdentity standardInputIdentity() {
    struct stat st {};
    const int got = fstat(STDIN_FILENO, &st);
    return identityFrom(got, st);
}

std::string systemUserName() {
    // The account of the effective user; the environment can't forge it.
    char buffer[4096];
    passwd entry{};
    passwd* found = nullptr;
    if (getpwuid_r(geteuid(), &entry, buffer, sizeof buffer, &found) == 0 && found &&
        found->pw_name && *found->pw_name)
        return found->pw_name;
    return "uid " + std::to_string(unsigned(geteuid()));
}

void writeStandardError(const std::string& text) {
    // Standard error may be a file at the process's size limit too.
    struct stat st {};
    if (fstat(STDERR_FILENO, &st) == 0 && S_ISREG(st.st_mode) &&
        !withinFileSizeLimit(uint64_t(st.st_size), text.size()))
        return;
    size_t at = 0;
    while (at < text.size()) {
        const ssize_t n = write(STDERR_FILENO, text.data() + at, text.size() - at);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) return;
        at += size_t(n);
    }
}
