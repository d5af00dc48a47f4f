#include "fake_platform.h"

#include "platform/platform.h"
#include "platform/profile_reader.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <new>
#include <set>

const char fakeDirectory[] = "/fake";
const char configFileSuffix[] = "/freqs.ini";

namespace {

// A file's bytes are shared with the handles open on it, as an inode is: a
// file renamed or removed while open is still the one read or appended to.
using Contents = std::shared_ptr<std::string>;

struct Directory {
    std::map<std::string, Contents, std::less<>> files;
    std::set<std::string, std::less<>> locked;
    std::map<intptr_t, Contents> readers;
    std::map<intptr_t, size_t> readAt;
    std::map<intptr_t, Contents> appenders;
    std::map<intptr_t, std::string> locks;
    std::map<intptr_t, Contents> lockFiles; // what each lock is held on
    intptr_t nextHandle = 3;
};

int writesToThrowOn = 0;
bool currentDirectoryThrows = false;

Directory& directory() {
    static Directory d;
    return d;
}

// The name in the one directory, or false (ENOENT) for a path outside it.
bool nameOf(const char* path, std::string& name) {
    if (!path) {
        errno = EINVAL;
        return false;
    }
    std::string_view p = path;
    const std::string_view full = fakeDirectory;
    if (p.size() > full.size() && p.substr(0, full.size()) == full && p[full.size()] == '/')
        p.remove_prefix(full.size() + 1);
    else if (p.substr(0, 2) == "./")
        p.remove_prefix(2);
    if (p.empty() || p.find('/') != std::string_view::npos) {
        errno = ENOENT;
        return false;
    }
    name = p;
    return true;
}

Contents* find(const std::string& name) {
    auto it = directory().files.find(name);
    return it == directory().files.end() ? nullptr : &it->second;
}

} // namespace

void throwOnNextWrites(int count) {
    writesToThrowOn = count;
}

void throwOnCurrentDirectory(bool on) {
    currentDirectoryThrows = on;
}

void clearFakeFiles() {
    directory() = Directory{};
}

void setFakeFile(std::string_view name, std::string_view bytes) {
    directory().files[std::string(name)] = std::make_shared<std::string>(bytes);
}

const std::string* fakeFile(std::string_view name) {
    auto it = directory().files.find(name);
    return it == directory().files.end() ? nullptr : it->second.get();
}

std::string currentDirectoryPath() {
    if (currentDirectoryThrows) throw std::bad_alloc();
    return std::string(fakeDirectory) + "/";
}

ProfileFileState profileFileState(const char* path) {
    std::string name;
    return nameOf(path, name) && find(name) ? ProfileFileState::readable
                                            : ProfileFileState::missing;
}

bool currentDirectory(char* buffer, uint32_t size) {
    if (!buffer || size == 0) return false;
    if (sizeof fakeDirectory > size) {
        buffer[0] = '\0';
        return false;
    }
    std::memcpy(buffer, fakeDirectory, sizeof fakeDirectory);
    return true;
}

// As the POSIX reader: the first MiB.
size_t profileReadLimit() {
    return size_t(1) << 20;
}

uint32_t readProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* path) {
    std::string name;
    const Contents* file = nameOf(path, name) ? find(name) : nullptr;
    if (!file) return profileStringFromText(nullptr, 0, section, key, defaultValue, buffer, size);
    const size_t length = std::min((*file)->size(), profileReadLimit());
    return profileStringFromText((*file)->data(), length, section, key, defaultValue, buffer, size);
}

MoveResult moveNoReplace(const char* from, const char* to) {
    std::string source, target;
    if (!nameOf(from, source) || !nameOf(to, target)) return MoveResult::failed;
    Contents* file = find(source);
    if (!file) {
        errno = ENOENT;
        return MoveResult::failed;
    }
    if (find(target)) {
        errno = EEXIST;
        return MoveResult::nameTaken;
    }
    Contents moved = *file;
    directory().files.erase(source);
    directory().files[target] = std::move(moved);
    return MoveResult::moved;
}

WriteResult writeFileSafely(const SafeWrite& write) {
    if (writesToThrowOn > 0) {
        --writesToThrowOn;
        throw std::bad_alloc();
    }
    std::string target;
    if (!write.temporarySuffix || (!write.data && write.size != 0)) {
        errno = EINVAL;
        return WriteResult::failed;
    }
    if (!write.path || !*write.path) {
        errno = EINVAL;
        return WriteResult::failed;
    }
    if (!nameOf(write.path, target)) return WriteResult::failed;
    // A stale temporary is replaced; whatever the outcome, none is left.
    directory().files.erase(target + write.temporarySuffix);
    if (write.noReplace && find(target)) {
        errno = EEXIST;
        return WriteResult::failed;
    }
    directory().files[target] =
        std::make_shared<std::string>(static_cast<const char*>(write.data), write.size);
    return WriteResult::written;
}

OpenResult openRegularFile(const char* path, ReadableFile& file) {
    file = {};
    std::string name;
    if (!nameOf(path, name)) return OpenResult::missing;
    const Contents* found = find(name);
    if (!found) {
        errno = ENOENT;
        return OpenResult::missing;
    }
    Directory& d = directory();
    file.handle = d.nextHandle++;
    file.size = (*found)->size();
    d.readers[file.handle] = *found;
    d.readAt[file.handle] = 0;
    return OpenResult::opened;
}

bool readExactly(ReadableFile& file, void* buffer, size_t size) {
    Directory& d = directory();
    auto reader = d.readers.find(file.handle);
    if (reader == d.readers.end()) {
        errno = EBADF;
        return false;
    }
    size_t& at = d.readAt[file.handle];
    const std::string& bytes = *reader->second;
    const size_t available = at < bytes.size() ? bytes.size() - at : 0;
    const size_t got = std::min(size, available);
    std::memcpy(buffer, bytes.data() + at, got);
    at += got;
    if (got < size) {
        errno = ENODATA; // the file is shorter than it was
        return false;
    }
    return true;
}

void closeReadableFile(ReadableFile& file) {
    directory().readers.erase(file.handle);
    directory().readAt.erase(file.handle);
    file.handle = -1;
}

OpenResult openForAppend(const char* path, AppendableFile& file) {
    file = {};
    std::string name;
    if (!nameOf(path, name)) return OpenResult::failed;
    Directory& d = directory();
    Contents& contents = d.files[name];
    if (!contents) contents = std::make_shared<std::string>();
    file.handle = d.nextHandle++;
    file.size = contents->size();
    file.index = uint64_t(reinterpret_cast<uintptr_t>(contents.get()));
    d.appenders[file.handle] = contents;
    return OpenResult::opened;
}

bool appendBytes(AppendableFile& file, const void* data, size_t size) {
    auto appender = directory().appenders.find(file.handle);
    if (appender == directory().appenders.end()) {
        errno = EBADF;
        return false;
    }
    appender->second->append(static_cast<const char*>(data), size);
    file.size += size;
    return true;
}

bool flushAppendableFile(AppendableFile& file) {
    // Nothing is held back in memory: what was appended is the file's.
    if (directory().appenders.count(file.handle)) return true;
    errno = EBADF;
    return false;
}

void closeAppendableFile(AppendableFile& file) {
    directory().appenders.erase(file.handle);
    file.handle = -1;
}

PathKind pathKindOf(const char* path) {
    std::string name;
    return nameOf(path, name) && find(name) ? PathKind::regular : PathKind::missing;
}

bool fileStampOf(const char* path, FileStamp& stamp) {
    std::string name;
    Contents* contents = nameOf(path, name) ? find(name) : nullptr;
    if (!contents) return false;
    // The bytes themselves stand for the times: the fake has no clock of its own.
    stamp = FileStamp{};
    stamp.size = (*contents)->size();
    stamp.identity = reinterpret_cast<uintptr_t>(contents->get());
    stamp.modified = static_cast<int64_t>(std::hash<std::string>{}(**contents));
    return true;
}

std::vector<std::string> currentDirectoryNames() {
    return directoryNames({});
}

std::vector<std::string> directoryNames(const std::string&) {
    std::vector<std::string> names;
    for (const auto& [name, contents] : directory().files)
        names.push_back(name);
    return names;
}

bool removePath(const char* path) {
    std::string name;
    if (!nameOf(path, name)) return false;
    if (directory().files.erase(name) == 0) {
        errno = ENOENT;
        return false;
    }
    return true;
}

bool renamePath(const char* from, const char* to) {
    std::string source, target;
    if (!nameOf(from, source) || !nameOf(to, target)) return false;
    Contents* file = find(source);
    if (!file) {
        errno = ENOENT;
        return false;
    }
    Contents moved = *file;
    directory().files.erase(source);
    directory().files[target] = std::move(moved);
    return true;
}

uint32_t processId() {
    return 4242;
}

bool localTimeOf(int64_t seconds, std::tm& result) {
    if (seconds < 0) return false;
    const time_t t = seconds;
    return localtime_r(&t, &result) != nullptr;
}

LockResult takeFileLock(const char* path, FileLock& lock) {
    std::string name;
    if (!path || !*path) {
        errno = EINVAL;
        return LockResult::failed;
    }
    if (!nameOf(path, name)) return LockResult::failed;
    Directory& d = directory();
    // A second take, even by this process, is refused, as a second open
    // file's lock is refused by the system.
    if (d.locked.count(name)) {
        errno = EWOULDBLOCK;
        return LockResult::heldElsewhere;
    }
    Contents& contents = d.files[name];
    if (!contents) contents = std::make_shared<std::string>();
    d.locked.insert(name);
    lock.handle = d.nextHandle++;
    d.locks[lock.handle] = name;
    d.lockFiles[lock.handle] = contents;
    return LockResult::taken;
}

void releaseFileLock(FileLock& lock) {
    Directory& d = directory();
    auto held = d.locks.find(lock.handle);
    if (held != d.locks.end()) {
        d.locked.erase(held->second);
        d.locks.erase(held);
    }
    d.lockFiles.erase(lock.handle);
    lock.handle = -1;
}

LockCheck checkFileLock(const char* path, const FileLock& lock) {
    Directory& d = directory();
    auto held = d.lockFiles.find(lock.handle);
    std::string name;
    if (held == d.lockFiles.end() || !nameOf(path, name)) return LockCheck::failed;
    const Contents* now = find(name);
    return now && *now == held->second ? LockCheck::same : LockCheck::replaced;
}

bool lastErrorIsPassing() {
    return errno == EMFILE || errno == ENFILE || errno == ENOMEM || errno == EINTR ||
           errno == EAGAIN || errno == EIO;
}

std::string lastSystemError() {
    const int error = errno;
    const char* text = error != 0 ? std::strerror(error) : nullptr;
    return text && *text ? std::string(text) : std::string("unknown error");
}

std::string pathKindWords(const char*, bool) {
    return {}; // the one directory holds regular files only
}

FileIdentity fileIdentityOf(const char* path) {
    std::string name;
    FileIdentity identity;
    const Contents* file = nameOf(path, name) ? find(name) : nullptr;
    if (!file) return identity;
    identity.known = true;
    identity.index = uint64_t(reinterpret_cast<uintptr_t>(file->get()));
    return identity;
}

FileIdentity standardInputIdentity() {
    return {};
}

std::string systemUserName() {
    return "fake";
}

void writeStandardError(const std::string&) {}
