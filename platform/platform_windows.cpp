#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

bool currentDirectory(char* buffer, uint32_t size) {
    if (!buffer || size == 0) return false;
    // On success the length without the terminator comes back; when the
    // buffer is too small, the size it would need (terminator included).
    const DWORD length = GetCurrentDirectoryA(size, buffer);
    if (length == 0 || length >= size) {
        buffer[0] = '\0';
        return false;
    }
    return true;
}

const char configFileSuffix[] = "\\freqs.ini";

std::string currentDirectoryPath() {
    std::string path(MAX_PATH, '\0');
    for (int tries = 0; tries < 4; ++tries) {
        const DWORD length = GetCurrentDirectoryA(DWORD(path.size()), path.data());
        if (length == 0) return {};
        if (length < path.size()) {
            path.resize(length);
            if (path.back() != '\\' && path.back() != '/') path += '\\';
            return path;
        }
        path.resize(length + 1); // it changed or did not fit: the size it needs
    }
    return {};
}

ProfileFileState profileFileState(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND
                   ? ProfileFileState::missing
                   : ProfileFileState::unreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return ProfileFileState::missing;
    const HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return ProfileFileState::unreadable;
    CloseHandle(handle);
    return ProfileFileState::readable;
}

size_t profileReadLimit() {
    return SIZE_MAX;
}

uint32_t readProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    return GetPrivateProfileStringA(section, key, defaultValue, buffer, size, path);
}

std::vector<std::string> readProfileKeyNames(const char* section, const char* path) {
    // With no key, the system's reader lists the section's keys, each ended
    // by a zero; a list that filled the buffer may be cut, so it grows.
    std::vector<char> buffer(4096);
    for (;;) {
        const DWORD length = GetPrivateProfileStringA(section, nullptr, "", buffer.data(),
                                                      DWORD(buffer.size()), path);
        if (length + 2 < buffer.size() || buffer.size() >= (size_t(1) << 24)) {
            std::vector<std::string> names;
            for (size_t at = 0; at < length;) {
                const std::string name(buffer.data() + at);
                at += name.size() + 1;
                if (!name.empty()) names.push_back(name);
            }
            return names;
        }
        buffer.resize(buffer.size() * 4);
    }
}

// Renames from to to, refusing to overwrite an existing file.
static bool renameNoReplace(const char* from, const char* to) {
    if (!from || !to) return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
    return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
}

bool localTimeOf(int64_t seconds, std::tm& result) {
    if (seconds < 0) return false;
    const __time64_t t = seconds;
    return _localtime64_s(&result, &t) == 0;
}

LockResult takeFileLock(const char* path, FileLock& lock) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LockResult::failed;
    }
    // Shared reading and writing, so that readers (the registry tool) may open
    // the file; the byte-range lock below is what excludes a second host. Not
    // shared for deletion: while it is held, the lock file can be neither
    // deleted nor renamed over, so its name always leads to the held file (a
    // deletion shared in would leave it "delete pending", a name that no
    // second open can reach, and every save after would fail its check).
    // A look at the lock (probeFileLock) holds an open that asks to delete
    // for an instant, which this open, sharing no deletion, is refused. It is
    // not waited out here (the plug-in takes the lock under the loader lock):
    // a host refused it tries again at its next connection and autosave.
    const HANDLE file =
        CreateFileA(path, GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                    OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return LockResult::failed;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        SetLastError(ERROR_INVALID_PARAMETER);
        return LockResult::failed;
    }
    OVERLAPPED at{};
    if (!LockFileEx(file, LOCKFILE_EXCLUSIVE_LOCK | LOCKFILE_FAIL_IMMEDIATELY, 0, 1, 0, &at)) {
        const DWORD error = GetLastError();
        CloseHandle(file);
        SetLastError(error);
        return error == ERROR_LOCK_VIOLATION || error == ERROR_IO_PENDING
                   ? LockResult::heldElsewhere
                   : LockResult::failed;
    }
    lock.handle = reinterpret_cast<intptr_t>(file);
    return LockResult::taken;
}

void releaseFileLock(FileLock& lock) {
    if (lock.handle == -1) return;
    const HANDLE file = reinterpret_cast<HANDLE>(lock.handle);
    // Cleared while still held: a later holder's line is never cut.
    if (lock.named) {
        LARGE_INTEGER start{};
        if (SetFilePointerEx(file, start, nullptr, FILE_BEGIN)) SetEndOfFile(file);
    }
    CloseHandle(file); // closing drops the lock
    lock.handle = -1;
    lock.named = false;
}

bool writeLockHolder(FileLock& lock, const std::string& line) {
    if (lock.handle == -1) {
        SetLastError(ERROR_INVALID_HANDLE);
        return false;
    }
    const HANDLE file = reinterpret_cast<HANDLE>(lock.handle);
    LARGE_INTEGER start{};
    if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN) || !SetEndOfFile(file)) return false;
    lock.named = true;
    // The first byte is the one locked, which no other process can read.
    const std::string text = " " + line + "\n";
    DWORD written = 0;
    return WriteFile(file, text.data(), DWORD(text.size()), &written, nullptr) &&
           written == text.size();
}

static std::string lockHolderOf(const char* path) {
    if (!path || !*path) return {};
    // Shared every way, so that the holder's open (no deletion shared) is
    // never in conflict; never through a link.
    const HANDLE file =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) return {};
    char buffer[256];
    DWORD n = 0;
    OVERLAPPED at{};
    at.Offset = 1; // past the locked byte
    const bool read =
        GetFileType(file) == FILE_TYPE_DISK && ReadFile(file, buffer, sizeof buffer, &n, &at);
    CloseHandle(file);
    return read && n > 0 ? std::string(buffer, size_t(n)) : std::string();
}

LockProbe probeFileLock(const char* path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LockProbe::failed;
    }
    // The holder's open shares no deletion, so an open that asks to delete
    // is refused while it is there; nothing is locked, and the open is
    // closed at once (a holder starting meanwhile tries its open again).
    const HANDLE file =
        CreateFileA(path, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_SHARING_VIOLATION) return LockProbe::held;
        return error == ERROR_FILE_NOT_FOUND ? LockProbe::free : LockProbe::failed;
    }
    CloseHandle(file);
    return LockProbe::free;
}

LockCheck checkFileLock(const char* path, const FileLock& lock) {
    BY_HANDLE_FILE_INFORMATION held{};
    if (lock.handle == -1 ||
        !GetFileInformationByHandle(reinterpret_cast<HANDLE>(lock.handle), &held))
        return LockCheck::failed;
    const HANDLE named =
        CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? LockCheck::replaced
                                                                              : LockCheck::failed;
    }
    BY_HANDLE_FILE_INFORMATION now{};
    const bool known = GetFileInformationByHandle(named, &now);
    CloseHandle(named);
    if (!known) return LockCheck::failed;
    return held.dwVolumeSerialNumber == now.dwVolumeSerialNumber &&
                   held.nFileIndexHigh == now.nFileIndexHigh &&
                   held.nFileIndexLow == now.nFileIndexLow
               ? LockCheck::same
               : LockCheck::replaced;
}

bool lastErrorIsPassing() {
    switch (GetLastError()) {
    case ERROR_TOO_MANY_OPEN_FILES:
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
    case ERROR_NO_SYSTEM_RESOURCES:
    case ERROR_WORKING_SET_QUOTA:
    case ERROR_IO_DEVICE:
    case ERROR_CRC:
    case ERROR_SEM_TIMEOUT:
        return true;
    case 0:
        break;
    default:
        return false;
    }
    switch (errno) {
    case EMFILE:
    case ENFILE:
    case ENOMEM:
    case EINTR:
    case EAGAIN:
    case EIO:
        return true;
    default:
        return false;
    }
}

std::string lastSystemError() {
    // Calls of the system set its last error; calls of the C library set
    // errno. Whichever is set names the reason, the system's first.
    const DWORD error = GetLastError();
    if (error != 0) {
        // In the user's language (0: the system picks, falling back as it
        // does for its own messages); inserts are left in and named below,
        // as no arguments come with them.
        char text[512] = {};
        const DWORD length =
            FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                           error, 0, text, sizeof text, nullptr);
        std::string message(text, length);
        // "%1 is not a valid Win32 application.": an insert stands for the
        // file that the failed call was given.
        for (size_t at = message.find('%'); at != std::string::npos; at = message.find('%', at)) {
            if (at + 1 < message.size() && message[at + 1] >= '1' && message[at + 1] <= '9') {
                message.replace(at, 2, "the file");
                at += 8;
            } else {
                ++at;
            }
        }
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.'))
            message.pop_back();
        if (!message.empty()) return message;
        return "system error " + std::to_string(error);
    }
    const char* text = errno != 0 ? std::strerror(errno) : nullptr;
    return text && *text ? std::string(text) : std::string("unknown error");
}

MoveResult moveNoReplace(const char* from, const char* to) {
    if (renameNoReplace(from, to)) return MoveResult::moved;
    const DWORD error = GetLastError();
    return error == ERROR_ALREADY_EXISTS || error == ERROR_FILE_EXISTS ? MoveResult::nameTaken
                                                                       : MoveResult::failed;
}

// Every move here is made with MOVEFILE_WRITE_THROUGH, which returns once the
// move is on the disk; the system has no flush of a folder of its own.
bool flushFolderOf(const char* path) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return false;
    }
    return true;
}

namespace {

WriteResult abandon(HANDLE file, const std::string& temporary) {
    const DWORD error = GetLastError();
    if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
    DeleteFileA(temporary.c_str());
    SetLastError(error);
    return WriteResult::failed;
}

} // namespace

namespace {

// A file on a disk and its size: anything else (a pipe, a device) is not a
// regular file; a size the system can't tell is a failure like any other,
// never a sign of what the file is.
OpenResult diskFileSize(HANDLE handle, uint64_t& size) {
    SetLastError(0);
    const DWORD type = GetFileType(handle);
    if (type != FILE_TYPE_DISK) {
        if (type == FILE_TYPE_UNKNOWN && GetLastError() != 0) return OpenResult::failed;
        return OpenResult::notRegular;
    }
    LARGE_INTEGER bytes{};
    if (!GetFileSizeEx(handle, &bytes)) return OpenResult::failed;
    size = uint64_t(bytes.QuadPart);
    return OpenResult::opened;
}

void closeKeepingError(HANDLE handle) {
    const DWORD error = GetLastError();
    CloseHandle(handle);
    SetLastError(error);
}

} // namespace

WriteResult writeFileSafely(const SafeWrite& write) {
    if (write.folder) {
        // The held folder can't be renamed: its path still leads to it.
        const std::string path = write.folder->path + (write.path ? write.path : "");
        const std::string permissions =
            write.permissionsFrom ? write.folder->path + write.permissionsFrom : std::string();
        SafeWrite byPath = write;
        byPath.folder = nullptr;
        byPath.path = write.path ? path.c_str() : nullptr;
        byPath.permissionsFrom = write.permissionsFrom ? permissions.c_str() : nullptr;
        return writeFileSafely(byPath);
    }
    if (!write.path || !*write.path || !write.temporarySuffix || (!write.data && write.size != 0)) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return WriteResult::failed;
    }
    // Links are rare here and permissions come from the directory, so the
    // path is written as it is named.
    // Windows never replaces a read-only file; told before anything is written,
    // as every version of the system does not get to that rule the same way.
    if (!write.noReplace) {
        const DWORD attributes = GetFileAttributesA(write.path);
        if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return WriteResult::failed;
        }
    }
    const std::string temporary = std::string(write.path) + write.temporarySuffix;
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return WriteResult::failed;
    const auto* p = static_cast<const unsigned char*>(write.data);
    size_t left = write.size;
    while (left > 0) {
        const DWORD chunk = left > (DWORD(1) << 30) ? (DWORD(1) << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        if (!WriteFile(file, p, chunk, &written, nullptr) || written == 0)
            return abandon(file, temporary);
        p += written;
        left -= written;
    }
    if (!FlushFileBuffers(file)) return abandon(file, temporary);
    if (!CloseHandle(file)) return abandon(INVALID_HANDLE_VALUE, temporary);
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (write.noReplace ? 0 : MOVEFILE_REPLACE_EXISTING);
    if (!MoveFileExA(temporary.c_str(), write.path, flags))
        return abandon(INVALID_HANDLE_VALUE, temporary);
    SetLastError(0);
    return WriteResult::written;
}

OpenResult openRegularFile(const char* path, ReadableFile& file) {
    file = {};
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? OpenResult::missing
                                                                              : OpenResult::failed;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return OpenResult::notRegular;
    const HANDLE handle =
        CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND ? OpenResult::missing : OpenResult::failed;
    }
    const OpenResult kind = diskFileSize(handle, file.size);
    if (kind != OpenResult::opened) {
        closeKeepingError(handle);
        return kind;
    }
    file.handle = reinterpret_cast<intptr_t>(handle);
    return OpenResult::opened;
}

bool readExactly(ReadableFile& file, void* buffer, size_t size) {
    auto* at = static_cast<unsigned char*>(buffer);
    while (size > 0) {
        const DWORD chunk = size > (DWORD(1) << 30) ? (DWORD(1) << 30) : static_cast<DWORD>(size);
        DWORD got = 0;
        if (!ReadFile(reinterpret_cast<HANDLE>(file.handle), at, chunk, &got, nullptr))
            return false;
        if (got == 0) {
            SetLastError(ERROR_HANDLE_EOF); // the file is shorter than it was
            return false;
        }
        at += got;
        size -= got;
    }
    return true;
}

void closeReadableFile(ReadableFile& file) {
    if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
    file.handle = -1;
}

namespace {
FileIdentity identityOfHandle(HANDLE handle);
} // namespace

static OpenResult openForAppend(const char* path, AppendableFile& file) {
    file = {};
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)))
        return OpenResult::notRegular;
    // Reading the attributes too: the size is asked of the handle below.
    const HANDLE handle =
        CreateFileA(path, FILE_APPEND_DATA | FILE_READ_ATTRIBUTES,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_ALWAYS,
                    FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return OpenResult::failed;
    const OpenResult kind = diskFileSize(handle, file.size);
    if (kind != OpenResult::opened) {
        closeKeepingError(handle);
        return kind;
    }
    file.handle = reinterpret_cast<intptr_t>(handle);
    const FileIdentity identity = identityOfHandle(handle);
    file.volume = identity.device;
    file.index = identity.index;
    return OpenResult::opened;
}

bool appendBytes(AppendableFile& file, const void* data, size_t size) {
    const auto* p = static_cast<const unsigned char*>(data);
    while (size > 0) {
        DWORD written = 0;
        const DWORD chunk = size > (DWORD(1) << 30) ? (DWORD(1) << 30) : static_cast<DWORD>(size);
        if (!WriteFile(reinterpret_cast<HANDLE>(file.handle), p, chunk, &written, nullptr) ||
            written == 0)
            return false;
        p += written;
        size -= written;
        file.size += written;
    }
    return true;
}

bool flushAppendableFile(AppendableFile& file) {
    return FlushFileBuffers(reinterpret_cast<HANDLE>(file.handle)) != 0;
}

void closeAppendableFile(AppendableFile& file) {
    if (file.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(file.handle));
    file.handle = -1;
}

uint32_t processId() {
    return uint32_t(GetCurrentProcessId());
}

PathKind pathKindOf(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathKind::missing;
    return attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)
               ? PathKind::other
               : PathKind::regular;
}

bool fileStampOf(const char* path, FileStamp& stamp) {
    // Opened for nothing but its attributes, following a link, so that the
    // stamp is the file's: its volume and index tell a file put in place by a
    // rename from the one it replaced, whatever its size and times.
    const HANDLE handle = CreateFileA(path, FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info{};
    FILE_BASIC_INFO times{};
    const bool known = GetFileType(handle) == FILE_TYPE_DISK &&
                       GetFileInformationByHandle(handle, &info) &&
                       !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                       GetFileInformationByHandleEx(handle, FileBasicInfo, &times, sizeof times);
    closeKeepingError(handle);
    if (!known) return false;
    auto join = [](DWORD high, DWORD low) { return uint64_t(high) << 32 | low; };
    stamp.size = join(info.nFileSizeHigh, info.nFileSizeLow);
    stamp.volume = info.dwVolumeSerialNumber;
    stamp.identity = join(info.nFileIndexHigh, info.nFileIndexLow);
    stamp.modified = times.LastWriteTime.QuadPart;
    // The time of the last change to the file or its attributes: unlike the
    // creation time, a rename never carries it over from the file replaced.
    stamp.changed = times.ChangeTime.QuadPart;
    return true;
}

std::vector<std::string> currentDirectoryNames() {
    return directoryNames(Folder{});
}

static std::vector<std::string> directoryNames(const std::string& folder) {
    std::vector<std::string> names;
    WIN32_FIND_DATAA found{};
    const HANDLE search = FindFirstFileA((folder + "*").c_str(), &found);
    if (search == INVALID_HANDLE_VALUE) return names;
    do {
        const std::string name = found.cFileName;
        if (name != "." && name != "..") names.push_back(name);
    } while (FindNextFileA(search, &found));
    FindClose(search);
    return names;
}

static bool removePath(const char* path) {
    if (DeleteFileA(path)) return true;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) &&
           RemoveDirectoryA(path);
}

bool renamePath(const char* from, const char* to) {
    return MoveFileA(from, to) != 0; // refuses an existing target
}

std::string pathKindWords(const char* path, bool followLink) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return {};
    if (!followLink && (attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return "a symbolic link";
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) return "a directory";
    // Devices (NUL, CON) and pipes answer with attributes too: their type
    // tells them apart from a file on a disk.
    const HANDLE handle =
        CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const DWORD type = GetFileType(handle);
    CloseHandle(handle);
    if (type == FILE_TYPE_DISK) return {};
    if (type == FILE_TYPE_PIPE) return "a FIFO";
    if (type == FILE_TYPE_CHAR) return "a device";
    return "not a regular file";
}

namespace {

FileIdentity identityOfHandle(HANDLE handle) {
    FileIdentity identity;
    BY_HANDLE_FILE_INFORMATION info{};
    if (handle == INVALID_HANDLE_VALUE || GetFileType(handle) != FILE_TYPE_DISK ||
        !GetFileInformationByHandle(handle, &info))
        return identity;
    identity.known = true;
    identity.device = info.dwVolumeSerialNumber;
    identity.index = uint64_t(info.nFileIndexHigh) << 32 | info.nFileIndexLow;
    return identity;
}

} // namespace

FileIdentity fileIdentityOf(const char* path) {
    const HANDLE handle =
        CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return {};
    const FileIdentity identity = identityOfHandle(handle);
    CloseHandle(handle);
    return identity;
}

FileIdentity standardInputIdentity() {
    return identityOfHandle(GetStdHandle(STD_INPUT_HANDLE));
}

std::string systemUserName() {
    char name[257] = {};
    DWORD size = sizeof name;
    if (GetUserNameA(name, &size) && name[0]) return name;
    return {};
}

void writeStandardError(const std::string& text) {
    const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
    if (error == nullptr || error == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(error, text.data(), DWORD(text.size()), &written, nullptr);
}

// A folder is held without sharing its deletion, so that it can be neither
// renamed nor removed while held: its path keeps leading to it, and each
// function below goes by that path.
bool openFolder(const std::string& path, Folder& folder) {
    const HANDLE handle = CreateFileA(path.empty() ? "." : path.c_str(), FILE_LIST_DIRECTORY,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                      FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    folder.handle = reinterpret_cast<intptr_t>(handle);
    folder.path = path;
    return true;
}

void closeFolder(Folder& folder) {
    if (folder.handle != -1) CloseHandle(reinterpret_cast<HANDLE>(folder.handle));
    folder.handle = -1;
}

FolderCheck checkFolder(const Folder& folder) {
    if (folder.handle == -1) return FolderCheck::failed;
    const FileIdentity held = identityOfHandle(reinterpret_cast<HANDLE>(folder.handle));
    if (!held.known) return FolderCheck::failed;
    const HANDLE named = CreateFileA(folder.path.empty() ? "." : folder.path.c_str(), 0,
                                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (named == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND ? FolderCheck::moved
                                                                              : FolderCheck::failed;
    }
    const FileIdentity now = identityOfHandle(named);
    CloseHandle(named);
    if (!now.known) return FolderCheck::failed;
    return sameFile(held, now) ? FolderCheck::same : FolderCheck::replaced;
}

MoveResult moveNoReplace(const Folder& folder, const char* from, const char* to) {
    if (!from || !to) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return MoveResult::failed;
    }
    return moveNoReplace((folder.path + from).c_str(), (folder.path + to).c_str());
}

bool flushFolder(const Folder& folder) {
    return flushFolderOf((folder.path.empty() ? ".\\" : folder.path).c_str());
}

OpenResult openRegularFile(const Folder& folder, const char* name, ReadableFile& file) {
    return openRegularFile((folder.path + (name ? name : "")).c_str(), file);
}

PathKind pathKindOf(const Folder& folder, const char* name) {
    return pathKindOf((folder.path + (name ? name : "")).c_str());
}

bool fileStampOf(const Folder& folder, const char* name, FileStamp& stamp) {
    return fileStampOf((folder.path + (name ? name : "")).c_str(), stamp);
}

std::vector<std::string> directoryNames(const Folder& folder) {
    return directoryNames(folder.path);
}

bool removePath(const Folder& folder, const char* name) {
    return removePath((folder.path + (name ? name : "")).c_str());
}

LockResult takeFileLock(const Folder& folder, const char* name, FileLock& lock) {
    if (!name || !*name) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LockResult::failed;
    }
    return takeFileLock((folder.path + name).c_str(), lock);
}

OpenResult openForAppend(const Folder& folder, const char* name, AppendableFile& file) {
    if (!name || !*name) {
        file = {};
        SetLastError(ERROR_INVALID_PARAMETER);
        return OpenResult::failed;
    }
    return openForAppend((folder.path + name).c_str(), file);
}

std::string lockHolderOf(const Folder& folder, const char* name) {
    if (!name || !*name) return {};
    return lockHolderOf((folder.path + name).c_str());
}

LockProbe probeFileLock(const Folder& folder, const char* name) {
    // The folder is held so that it can't be renamed: its path leads to it.
    return probeFileLock((folder.path + (name ? name : "")).c_str());
}

LockCheck checkFileLock(const Folder& folder, const char* name, const FileLock& lock) {
    return checkFileLock((folder.path + (name ? name : "")).c_str(), lock);
}
