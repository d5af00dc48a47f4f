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
#include <tuple>

const char fakeDirectory[] = "/fake";
const char configFileSuffix[] = "/freqs.ini";

namespace {

// A file's bytes are shared with the handles open on it, as an inode is: a
// file renamed or removed while open is still the one read or appended to.
using Contents = std::shared_ptr<std::string>;

// A change of the folder: `name` now names `to` (null: nothing), and `gone`,
// when not empty, names nothing (a rename's source).
struct FolderChange {
    std::string name;
    Contents to;
    std::string gone;
};

// A name and the folder it is in: the one the process started in, or the
// one put in its place.
struct Name {
    std::string name;
    bool inReplacement = false;
    bool operator<(const Name& other) const {
        return std::tie(inReplacement, name) < std::tie(other.inReplacement, other.name);
    }
};

struct Directory {
    // The folder this process started in, its current directory, wherever
    // it is moved; and what stands at its name (fakeDirectory) now.
    std::map<std::string, Contents, std::less<>> files;
    FakeFolderAtName atName = FakeFolderAtName::same;
    // The folder put in its place: plain files, with no power-loss account.
    std::map<std::string, Contents, std::less<>> replacement;
    std::map<intptr_t, bool> folders; // each held folder: the replacement?
    std::map<intptr_t, Contents> readers;
    std::map<intptr_t, size_t> readAt;
    std::map<intptr_t, Contents> appenders;
    std::map<intptr_t, Name> locks;
    std::map<intptr_t, Contents> lockFiles; // what each lock is held on
    intptr_t nextHandle = 3;
    // What a power cut keeps: the names as of the folder's last flush, the
    // changes since, and each file's bytes as of its last flush.
    std::map<std::string, Contents, std::less<>> durable;
    std::vector<FolderChange> pending;
    std::map<Contents, std::string> flushed;
    uint64_t steps = 0;
    std::string standardError;
    std::vector<FakeWrite> writes;
};

struct PlanState {
    FaultPlan plan;
    uint64_t calls = 0;
    uint64_t kindCalls = 0;
    uint64_t fired = 0;
    bool recording = false;
    std::vector<const char*> kinds;
};

void (*powerStepHook)() = nullptr;

Directory& directory() {
    static Directory d;
    return d;
}

PlanState& planState() {
    static PlanState p;
    return p;
}

void step() {
    ++directory().steps;
    if (powerStepHook) powerStepHook();
}

// Each change allocates first and then changes the maps, so that a
// std::bad_alloc leaves the folder as it was, as a failed system call would.
void record(FolderChange change, const std::string& name, const Contents& to) {
    Directory& d = directory();
    d.pending.reserve(d.pending.size() + 1);
    if (to) {
        d.files[name] = to;
    } else {
        d.files.erase(name);
    }
    if (!change.gone.empty()) d.files.erase(change.gone);
    d.pending.push_back(std::move(change));
    step();
}

void bindName(const std::string& name, const Contents& contents) {
    record({name, contents, {}}, name, contents);
}

void unbindName(const std::string& name) {
    record({name, nullptr, {}}, name, nullptr);
}

void moveName(const std::string& from, const std::string& to) {
    if (from == to) return;
    const Contents moved = directory().files[from];
    record({to, moved, from}, to, moved);
}

// The same in either folder; the replacement keeps no account of power loss.
void bindName(const Name& name, const Contents& contents) {
    if (!name.inReplacement) return bindName(name.name, contents);
    directory().replacement[name.name] = contents;
}

void unbindName(const Name& name) {
    if (!name.inReplacement) return unbindName(name.name);
    directory().replacement.erase(name.name);
}

void moveName(const Name& from, const std::string& to) {
    if (!from.inReplacement) return moveName(from.name, to);
    auto& files = directory().replacement;
    if (from.name == to) return;
    const Contents moved = files[from.name];
    files[to] = moved;
    files.erase(from.name);
}

void flushFile(const Contents& contents) {
    directory().flushed[contents] = *contents;
    step();
}

void flushFolder() {
    Directory& d = directory();
    d.durable = d.files;
    d.pending.clear();
    step();
}

// What each kind of call can do when it fails.
enum Can { fails = 1, throws = 2 };

struct CallKind {
    const char* name;
    int can;
};

constexpr CallKind callKinds[] = {
    {"currentDirectory", fails},
    {"currentDirectoryPath", fails | throws},
    {"profileFileState", fails},
    {"readProfileString", 0},
    {"readProfileKeyNames", 0},
    {"moveNoReplace", fails},
    {"flushFolderOf", fails},
    {"writeFileSafely", fails | throws},
    {"folderFlushOfWrite", fails},
    {"openRegularFile", fails},
    {"readExactly", fails},
    {"closeReadableFile", 0},
    {"openForAppend", fails},
    {"appendBytes", fails},
    {"flushAppendableFile", fails},
    {"closeAppendableFile", 0},
    {"pathKindOf", fails},
    {"fileStampOf", fails},
    {"pathKindWords", throws},
    {"fileIdentityOf", fails},
    {"standardInputIdentity", 0},
    {"systemUserName", fails | throws},
    {"directoryNames", fails | throws},
    {"removePath", fails},
    {"renamePath", fails},
    {"processId", 0},
    {"localTimeOf", fails},
    {"takeFileLock", fails},
    {"releaseFileLock", 0},
    {"checkFileLock", fails},
    {"writeLockHolder", fails},
    {"lockHolderOf", 0},
    {"probeFileLock", fails},
    {"openFolder", fails},
    {"closeFolder", 0},
    {"checkFolder", fails},
    {"lastErrorIsPassing", 0},
    {"writeStandardError", 0},
    {"lastSystemError", throws},
};

int abilitiesOf(std::string_view kind) {
    for (const CallKind& k : callKinds)
        if (kind == k.name) return k.can;
    return 0;
}

} // namespace

int faultErrno(FaultClass fault) {
    switch (fault) {
    case FaultClass::tooManyFiles:
        return EMFILE;
    case FaultClass::interrupted:
        return EINTR;
    case FaultClass::ioError:
        return EIO;
    case FaultClass::accessDenied:
        return EACCES;
    case FaultClass::noSpace:
        return ENOSPC;
    case FaultClass::fileTooLarge:
        return EFBIG;
    case FaultClass::outOfMemory:
        return ENOMEM;
    }
    return EIO;
}

namespace {

// Counts one call of `kind`; true when the plan fails it, with errno set
// (or throws std::bad_alloc when that is the plan).
bool failsHere(const char* kind) {
    PlanState& p = planState();
    ++p.calls;
    if (p.recording) p.kinds.push_back(kind);
    const FaultPlan& plan = p.plan;
    if (plan.atCall == 0) return false;
    uint64_t index = p.calls;
    if (!plan.kind.empty()) {
        if (plan.kind != kind) return false;
        index = ++p.kindCalls;
    }
    if (index < plan.atCall || index - plan.atCall >= plan.count) return false;
    if (!faultApplies(kind, plan.fault)) return false;
    ++p.fired;
    if (plan.fault == FaultClass::outOfMemory) throw std::bad_alloc();
    errno = faultErrno(plan.fault);
    return true;
}

// One call of the layer, counted and perhaps failed; while it runs, the
// fake's own allocations are its own business (fakePlatformDepth).
int depth = 0;
struct Call {
    bool failed = false;
    explicit Call(const char* kind) {
        ++depth;
        try {
            failed = failsHere(kind);
        } catch (...) {
            --depth;
            throw;
        }
    }
    ~Call() { --depth; }
    Call(const Call&) = delete;
    Call& operator=(const Call&) = delete;
};

// The name a path gives, or false (ENOENT) for a path outside the folders.
// A bare name is in the current directory, which goes with the folder
// when it is moved; the folder's full name leads to what stands there now.
bool nameOf(const char* path, Name& name) {
    if (!path) {
        errno = EINVAL;
        return false;
    }
    std::string_view p = path;
    const std::string_view full = fakeDirectory;
    name.inReplacement = false;
    if (p.size() > full.size() && p.substr(0, full.size()) == full && p[full.size()] == '/') {
        p.remove_prefix(full.size() + 1);
        if (directory().atName == FakeFolderAtName::none) p = {};
        name.inReplacement = directory().atName == FakeFolderAtName::replaced;
    } else if (p.substr(0, 2) == "./") {
        p.remove_prefix(2);
    }
    if (p.empty() || p.find('/') != std::string_view::npos) {
        errno = ENOENT;
        return false;
    }
    name.name = p;
    return true;
}

// The same for a name in a folder: a held one is reached by its handle.
bool nameOf(const Folder& folder, const char* file, Name& name) {
    if (folder.handle < 0) return nameOf((folder.path + (file ? file : "")).c_str(), name);
    auto held = directory().folders.find(folder.handle);
    if (held == directory().folders.end()) {
        errno = EBADF;
        return false;
    }
    if (!file || !*file || std::string_view(file).find('/') != std::string_view::npos) {
        errno = ENOENT;
        return false;
    }
    name.name = file;
    name.inReplacement = held->second;
    return true;
}

std::map<std::string, Contents, std::less<>>& filesOf(bool inReplacement) {
    return inReplacement ? directory().replacement : directory().files;
}

Contents* find(const Name& name) {
    auto& files = filesOf(name.inReplacement);
    auto it = files.find(name.name);
    return it == files.end() ? nullptr : &it->second;
}

} // namespace

const char* faultClassName(FaultClass fault) {
    switch (fault) {
    case FaultClass::tooManyFiles:
        return "too many open files";
    case FaultClass::interrupted:
        return "interrupted";
    case FaultClass::ioError:
        return "I/O error";
    case FaultClass::accessDenied:
        return "access denied";
    case FaultClass::noSpace:
        return "no space";
    case FaultClass::fileTooLarge:
        return "file too large";
    case FaultClass::outOfMemory:
        return "bad_alloc";
    }
    return "?";
}

bool faultApplies(std::string_view kind, FaultClass fault) {
    const int can = abilitiesOf(kind);
    return fault == FaultClass::outOfMemory ? (can & throws) != 0 : (can & fails) != 0;
}

void setFaultPlan(const FaultPlan& plan) {
    PlanState& p = planState();
    const bool recording = p.recording;
    p = PlanState{};
    p.plan = plan;
    p.recording = recording;
}

void clearFaultPlan() {
    setFaultPlan({});
}

uint64_t platformCalls() {
    return planState().calls;
}

void recordCallKinds(bool on) {
    planState().recording = on;
    planState().kinds.clear();
}

const std::vector<const char*>& recordedCallKinds() {
    return planState().kinds;
}

int fakePlatformDepth() {
    return depth;
}

uint64_t faultsFired() {
    return planState().fired;
}

uint64_t powerSteps() {
    return directory().steps;
}

void onPowerStep(void (*hook)()) {
    powerStepHook = hook;
}

size_t pendingFolderChanges() {
    return directory().pending.size();
}

std::map<std::string, std::string> survivingFiles(size_t kept) {
    const Directory& d = directory();
    std::map<std::string, Contents, std::less<>> names = d.durable;
    for (size_t i = 0; i < kept && i < d.pending.size(); ++i) {
        const FolderChange& change = d.pending[i];
        if (!change.gone.empty()) names.erase(change.gone);
        if (change.to)
            names[change.name] = change.to;
        else
            names.erase(change.name);
    }
    std::map<std::string, std::string> files;
    for (const auto& [name, contents] : names) {
        auto flushed = d.flushed.find(contents);
        files[name] = flushed == d.flushed.end() ? std::string() : flushed->second;
    }
    return files;
}

void restoreFiles(const std::map<std::string, std::string>& files) {
    const std::string standardError = directory().standardError;
    clearFakeFiles();
    for (const auto& [name, bytes] : files)
        setFakeFile(name, bytes);
    directory().standardError = standardError;
}

void clearFakeFiles() {
    directory() = Directory{};
}

void setFakeFile(std::string_view name, std::string_view bytes) {
    Directory& d = directory();
    auto contents = std::make_shared<std::string>(bytes);
    d.files[std::string(name)] = contents;
    d.durable[std::string(name)] = contents;
    d.flushed[contents] = *contents;
    d.writes.push_back({std::string(name), *contents, "written", true});
}

void removeFakeFile(std::string_view name) {
    directory().files.erase(std::string(name));
    directory().durable.erase(std::string(name));
}

const std::string* fakeFile(std::string_view name) {
    auto it = directory().files.find(name);
    return it == directory().files.end() ? nullptr : it->second.get();
}

std::vector<std::string> fakeFileNames() {
    std::vector<std::string> names;
    for (const auto& [name, contents] : directory().files)
        names.push_back(name);
    return names;
}

const std::vector<FakeWrite>& fakeWrites() {
    return directory().writes;
}

const std::string& fakeStandardError() {
    return directory().standardError;
}

std::string currentDirectoryPath() {
    const Call call("currentDirectoryPath");
    if (call.failed) return {};
    return std::string(fakeDirectory) + "/";
}

ProfileFileState profileFileState(const char* path) {
    const Call call("profileFileState");
    if (call.failed) return ProfileFileState::unreadable;
    Name name;
    return nameOf(path, name) && find(name) ? ProfileFileState::readable
                                            : ProfileFileState::missing;
}

bool currentDirectory(char* buffer, uint32_t size) {
    if (!buffer || size == 0) return false;
    const Call call("currentDirectory");
    if (call.failed || sizeof fakeDirectory > size) {
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
    const Call call("readProfileString");
    Name name;
    const Contents* file = nameOf(path, name) ? find(name) : nullptr;
    if (!file) return profileStringFromText(nullptr, 0, section, key, defaultValue, buffer, size);
    const size_t length = std::min((*file)->size(), profileReadLimit());
    return profileStringFromText((*file)->data(), length, section, key, defaultValue, buffer, size);
}

std::vector<std::string> readProfileKeyNames(const char* section, const char* path) {
    const Call call("readProfileKeyNames");
    Name name;
    const Contents* file = nameOf(path, name) ? find(name) : nullptr;
    if (!file) return {};
    const size_t length = std::min((*file)->size(), profileReadLimit());
    return profileKeyNames((*file)->data(), length, section);
}

namespace {

MoveResult moveWithin(const Name& source, const Name& target) {
    if (source.inReplacement != target.inReplacement) {
        errno = EXDEV;
        return MoveResult::failed;
    }
    if (!find(source)) {
        errno = ENOENT;
        return MoveResult::failed;
    }
    if (find(target)) {
        errno = EEXIST;
        return MoveResult::nameTaken;
    }
    moveName(source, target.name);
    return MoveResult::moved;
}

} // namespace

MoveResult moveNoReplace(const char* from, const char* to) {
    const Call call("moveNoReplace");
    if (call.failed) return MoveResult::failed;
    Name source, target;
    if (!nameOf(from, source) || !nameOf(to, target)) return MoveResult::failed;
    return moveWithin(source, target);
}

MoveResult moveNoReplace(const Folder& folder, const char* from, const char* to) {
    const Call call("moveNoReplace");
    if (call.failed) return MoveResult::failed;
    Name source, target;
    if (!nameOf(folder, from, source) || !nameOf(folder, to, target)) return MoveResult::failed;
    return moveWithin(source, target);
}

bool flushFolderOf(const char* path) {
    const Call call("flushFolderOf");
    if (call.failed) return false;
    Name name;
    if (!nameOf(path, name)) return false;
    if (!name.inReplacement) flushFolder();
    return true;
}

bool flushFolder(const Folder& folder) {
    const Call call("flushFolderOf");
    if (call.failed) return false;
    Name name;
    if (!nameOf(folder, ".flush", name)) return false;
    if (!name.inReplacement) flushFolder();
    return true;
}

// The steps of the real layer, each one a step a power cut may come after:
// the temporary made and written, flushed, renamed into place, the folder
// flushed.
WriteResult writeFileSafely(const SafeWrite& write) {
    const Call call("writeFileSafely");
    if (call.failed) return WriteResult::failed;
    Name target;
    if (!write.temporarySuffix || (!write.data && write.size != 0)) {
        errno = EINVAL;
        return WriteResult::failed;
    }
    if (!write.path || !*write.path) {
        errno = EINVAL;
        return WriteResult::failed;
    }
    if (write.folder ? !nameOf(*write.folder, write.path, target) : !nameOf(write.path, target))
        return WriteResult::failed;
    // A stale temporary is replaced; whatever the outcome, none is left.
    const Name temporary{target.name + write.temporarySuffix, target.inReplacement};
    if (find(temporary)) unbindName(temporary);
    if (write.noReplace && find(target)) {
        errno = EEXIST;
        return WriteResult::failed;
    }
    auto contents = std::make_shared<std::string>(static_cast<const char*>(write.data), write.size);
    std::vector<FakeWrite>& writes = directory().writes;
    writes.push_back({target.name, *contents, nullptr});
    const size_t record = writes.size() - 1;
    bindName(temporary, contents);
    flushFile(contents);
    moveName(temporary, target.name);
    const Call flush("folderFlushOfWrite");
    if (flush.failed) {
        directory().writes[record].outcome = "renamedUnflushed";
        return WriteResult::renamedUnflushed;
    }
    if (!target.inReplacement) flushFolder();
    directory().writes[record].outcome = "written";
    return WriteResult::written;
}

namespace {

OpenResult openFound(const Name* name, ReadableFile& file) {
    if (!name) return OpenResult::missing;
    const Contents* found = find(*name);
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

} // namespace

OpenResult openRegularFile(const char* path, ReadableFile& file) {
    file = {};
    const Call call("openRegularFile");
    if (call.failed) return OpenResult::failed;
    Name name;
    return openFound(nameOf(path, name) ? &name : nullptr, file);
}

OpenResult openRegularFile(const Folder& folder, const char* file, ReadableFile& opened) {
    opened = {};
    const Call call("openRegularFile");
    if (call.failed) return OpenResult::failed;
    Name name;
    return openFound(nameOf(folder, file, name) ? &name : nullptr, opened);
}

bool readExactly(ReadableFile& file, void* buffer, size_t size) {
    const Call call("readExactly");
    if (call.failed) return false;
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
    const Call call("closeReadableFile");
    directory().readers.erase(file.handle);
    directory().readAt.erase(file.handle);
    file.handle = -1;
}

OpenResult openForAppend(const Folder& folder, const char* file, AppendableFile& opened) {
    opened = {};
    const Call call("openForAppend");
    if (call.failed) return OpenResult::failed;
    Name name;
    if (!nameOf(folder, file, name)) return OpenResult::failed;
    Directory& d = directory();
    Contents* found = find(name);
    Contents contents = found ? *found : std::make_shared<std::string>();
    if (!found) bindName(name, contents);
    opened.handle = d.nextHandle++;
    opened.size = contents->size();
    opened.index = uint64_t(reinterpret_cast<uintptr_t>(contents.get()));
    d.appenders[opened.handle] = contents;
    return OpenResult::opened;
}

bool appendBytes(AppendableFile& file, const void* data, size_t size) {
    const Call call("appendBytes");
    if (call.failed) return false;
    auto appender = directory().appenders.find(file.handle);
    if (appender == directory().appenders.end()) {
        errno = EBADF;
        return false;
    }
    appender->second->append(static_cast<const char*>(data), size);
    file.size += size;
    step();
    return true;
}

bool flushAppendableFile(AppendableFile& file) {
    const Call call("flushAppendableFile");
    if (call.failed) return false;
    auto appender = directory().appenders.find(file.handle);
    if (appender == directory().appenders.end()) {
        errno = EBADF;
        return false;
    }
    // What was appended so far survives a power cut from now on.
    flushFile(appender->second);
    return true;
}

void closeAppendableFile(AppendableFile& file) {
    const Call call("closeAppendableFile");
    directory().appenders.erase(file.handle);
    file.handle = -1;
}

PathKind pathKindOf(const char* path) {
    const Call call("pathKindOf");
    if (call.failed) return PathKind::missing;
    Name name;
    return nameOf(path, name) && find(name) ? PathKind::regular : PathKind::missing;
}

PathKind pathKindOf(const Folder& folder, const char* file) {
    const Call call("pathKindOf");
    if (call.failed) return PathKind::missing;
    Name name;
    return nameOf(folder, file, name) && find(name) ? PathKind::regular : PathKind::missing;
}

namespace {

bool stampOf(const Contents* contents, FileStamp& stamp) {
    if (!contents) return false;
    // The bytes themselves stand for the times: the fake has no clock of its own.
    stamp = FileStamp{};
    stamp.size = (*contents)->size();
    stamp.identity = reinterpret_cast<uintptr_t>(contents->get());
    stamp.modified = static_cast<int64_t>(std::hash<std::string>{}(**contents));
    return true;
}

} // namespace

bool fileStampOf(const char* path, FileStamp& stamp) {
    const Call call("fileStampOf");
    if (call.failed) return false;
    Name name;
    return stampOf(nameOf(path, name) ? find(name) : nullptr, stamp);
}

bool fileStampOf(const Folder& folder, const char* file, FileStamp& stamp) {
    const Call call("fileStampOf");
    if (call.failed) return false;
    Name name;
    return stampOf(nameOf(folder, file, name) ? find(name) : nullptr, stamp);
}

std::vector<std::string> currentDirectoryNames() {
    return directoryNames(Folder{});
}

namespace {

std::vector<std::string> namesIn(bool inReplacement) {
    std::vector<std::string> names;
    for (const auto& [name, contents] : filesOf(inReplacement))
        names.push_back(name);
    return names;
}

} // namespace

std::vector<std::string> directoryNames(const Folder& folder) {
    const Call call("directoryNames");
    if (call.failed) return {};
    if (folder.handle < 0) {
        if (folder.path.empty()) return namesIn(false);
        Name name;
        if (!nameOf((folder.path + ".").c_str(), name)) return {};
        return namesIn(name.inReplacement);
    }
    Name name;
    if (!nameOf(folder, ".", name)) return {};
    return namesIn(name.inReplacement);
}

namespace {

bool removeName(const Name& name) {
    if (!find(name)) {
        errno = ENOENT;
        return false;
    }
    unbindName(name);
    return true;
}

} // namespace

bool removePath(const Folder& folder, const char* file) {
    const Call call("removePath");
    if (call.failed) return false;
    Name name;
    return nameOf(folder, file, name) && removeName(name);
}

bool renamePath(const char* from, const char* to) {
    const Call call("renamePath");
    if (call.failed) return false;
    Name source, target;
    if (!nameOf(from, source) || !nameOf(to, target)) return false;
    if (source.inReplacement != target.inReplacement) {
        errno = EXDEV;
        return false;
    }
    if (!find(source)) {
        errno = ENOENT;
        return false;
    }
    moveName(source, target.name);
    return true;
}

uint32_t processId() {
    const Call call("processId");
    return 4242;
}

bool localTimeOf(int64_t seconds, std::tm& result) {
    const Call call("localTimeOf");
    if (call.failed) return false;
    if (seconds < 0) return false;
    const time_t t = seconds;
    return localtime_r(&t, &result) != nullptr;
}

namespace {

LockResult lockName(const Name& name, FileLock& lock) {
    Directory& d = directory();
    // The lock belongs to the file, as the system's does: a second take of
    // it, even by this process, is refused, and a file deleted or replaced
    // under its name leaves a new one free to take.
    Contents* found = find(name);
    for (const auto& [handle, file] : d.lockFiles)
        if (found && file == *found) {
            errno = EWOULDBLOCK;
            return LockResult::heldElsewhere;
        }
    Contents contents = found ? *found : std::make_shared<std::string>();
    if (!found) bindName(name, contents);
    lock.handle = d.nextHandle++;
    d.locks[lock.handle] = name;
    d.lockFiles[lock.handle] = contents;
    return LockResult::taken;
}

} // namespace

LockResult takeFileLock(const char* path, FileLock& lock) {
    const Call call("takeFileLock");
    if (call.failed) return LockResult::failed;
    Name name;
    if (!path || !*path) {
        errno = EINVAL;
        return LockResult::failed;
    }
    if (!nameOf(path, name)) return LockResult::failed;
    return lockName(name, lock);
}

LockResult takeFileLock(const Folder& folder, const char* file, FileLock& lock) {
    const Call call("takeFileLock");
    if (call.failed) return LockResult::failed;
    Name name;
    if (!file || !*file) {
        errno = EINVAL;
        return LockResult::failed;
    }
    if (!nameOf(folder, file, name)) return LockResult::failed;
    return lockName(name, lock);
}

void releaseFileLock(FileLock& lock) {
    const Call call("releaseFileLock");
    Directory& d = directory();
    if (lock.named)
        if (auto file = d.lockFiles.find(lock.handle); file != d.lockFiles.end())
            file->second->clear();
    lock.named = false;
    d.locks.erase(lock.handle);
    d.lockFiles.erase(lock.handle);
    lock.handle = -1;
}

bool writeLockHolder(FileLock& lock, const std::string& line) {
    const Call call("writeLockHolder");
    if (call.failed) return false;
    Directory& d = directory();
    auto file = d.lockFiles.find(lock.handle);
    if (file == d.lockFiles.end()) {
        errno = EBADF;
        return false;
    }
    *file->second = line + "\n";
    lock.named = true;
    return true;
}

std::string lockHolderOf(const Folder& folder, const char* file) {
    const Call call("lockHolderOf");
    Name name;
    if (!file || !nameOf(folder, file, name)) return {};
    const Contents* found = find(name);
    return found ? (*found)->substr(0, 256) : std::string();
}
namespace {

LockProbe probeName(const Name& name) {
    // Held when a lock is on the file now at that name, as lockName refuses.
    Contents* found = find(name);
    if (!found) return LockProbe::free;
    for (const auto& [handle, file] : directory().lockFiles)
        if (file == *found) return LockProbe::held;
    return LockProbe::free;
}

} // namespace

LockProbe probeFileLock(const char* path) {
    const Call call("probeFileLock");
    if (call.failed) return LockProbe::failed;
    Name name;
    if (!path || !nameOf(path, name)) return LockProbe::failed;
    return probeName(name);
}

LockProbe probeFileLock(const Folder& folder, const char* file) {
    const Call call("probeFileLock");
    if (call.failed) return LockProbe::failed;
    Name name;
    if (!file || !nameOf(folder, file, name)) return LockProbe::failed;
    return probeName(name);
}

namespace {

LockCheck lockStill(const Name* name, const FileLock& lock) {
    Directory& d = directory();
    auto held = d.lockFiles.find(lock.handle);
    if (held == d.lockFiles.end() || !name) return LockCheck::failed;
    const Contents* now = find(*name);
    return now && *now == held->second ? LockCheck::same : LockCheck::replaced;
}

} // namespace

LockCheck checkFileLock(const char* path, const FileLock& lock) {
    const Call call("checkFileLock");
    if (call.failed) return LockCheck::failed;
    Name name;
    return lockStill(nameOf(path, name) ? &name : nullptr, lock);
}

LockCheck checkFileLock(const Folder& folder, const char* file, const FileLock& lock) {
    const Call call("checkFileLock");
    if (call.failed) return LockCheck::failed;
    Name name;
    return lockStill(nameOf(folder, file, name) ? &name : nullptr, lock);
}

bool openFolder(const std::string& path, Folder& folder) {
    const Call call("openFolder");
    if (call.failed) return false;
    Name name;
    if (!nameOf((path.empty() ? std::string("./.") : path + ".").c_str(), name)) return false;
    Directory& d = directory();
    folder.handle = d.nextHandle++;
    folder.path = path;
    d.folders[folder.handle] = name.inReplacement;
    return true;
}

void closeFolder(Folder& folder) {
    const Call call("closeFolder");
    directory().folders.erase(folder.handle);
    folder.handle = -1;
}

FolderCheck checkFolder(const Folder& folder) {
    const Call call("checkFolder");
    if (call.failed) return FolderCheck::failed;
    auto held = directory().folders.find(folder.handle);
    if (held == directory().folders.end()) {
        errno = EBADF;
        return FolderCheck::failed;
    }
    Name name;
    if (!nameOf((folder.path.empty() ? std::string("./.") : folder.path + ".").c_str(), name))
        return FolderCheck::moved;
    return name.inReplacement == held->second ? FolderCheck::same : FolderCheck::replaced;
}

void moveFakeFolderAway() {
    directory().atName = FakeFolderAtName::none;
    directory().replacement.clear();
}

void putFakeFolderInPlace(const std::map<std::string, std::string>& files) {
    Directory& d = directory();
    d.atName = FakeFolderAtName::replaced;
    d.replacement.clear();
    for (const auto& [name, bytes] : files)
        d.replacement[name] = std::make_shared<std::string>(bytes);
}

const std::string* fakeFileInPlace(std::string_view name) {
    const auto& files = directory().replacement;
    auto it = files.find(name);
    return it == files.end() ? nullptr : it->second.get();
}

bool lastErrorIsPassing() {
    const int error = errno;
    const Call call("lastErrorIsPassing");
    return error == EMFILE || error == ENFILE || error == ENOMEM || error == EINTR ||
           error == EAGAIN || error == EIO;
}

std::string lastSystemError() {
    const int error = errno;
    const Call call("lastSystemError");
    const char* text = error != 0 ? std::strerror(error) : nullptr;
    return text && *text ? std::string(text) : std::string("unknown error");
}

std::string pathKindWords(const char*, bool) {
    const Call call("pathKindWords");
    return {}; // the one directory holds regular files only
}

FileIdentity fileIdentityOf(const char* path) {
    FileIdentity identity;
    const Call call("fileIdentityOf");
    if (call.failed) return identity;
    Name name;
    const Contents* file = nameOf(path, name) ? find(name) : nullptr;
    if (!file) return identity;
    identity.known = true;
    identity.index = uint64_t(reinterpret_cast<uintptr_t>(file->get()));
    return identity;
}

FileIdentity standardInputIdentity() {
    const Call call("standardInputIdentity");
    return {};
}

std::string systemUserName() {
    const Call call("systemUserName");
    if (call.failed) return {};
    return "fake";
}

void writeStandardError(const std::string& text) {
    const Call call("writeStandardError");
    directory().standardError += text;
}
