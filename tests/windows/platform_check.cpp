// The Windows platform layer (platform/platform_windows.cpp) on the system's
// real calls: the tick counter, the wall clock, the current directory, the
// profile file, the crash-safe file replace, the no-replace rename and local
// time, the registry's safe write, the directory's lock and its listing,
// removes and renames. Run under TZ=UTC.
//
//   platform_check [DIRECTORY]   (default: the current directory)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <string>

#include "platform/platform.h"
#include "tests/windows/check_support.h"

namespace {

// The current directory, reached by its name.
const Folder here{};

std::string directory;

std::string pathOf(const char* name) {
    return directory + "\\" + name;
}

bool exists(const std::string& path) {
    return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

void clocks() {
    // The tick counter is the system's: the same count, moving with it.
    const DWORD before = GetTickCount();
    const uint32_t ours = tickCount();
    CHECK(ours - before < 100);
    // The system's counter moves in steps of some 16 ms.
    Sleep(200);
    const uint32_t moved = tickCount() - ours;
    CHECK(moved >= 150 && moved < 5000);

    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    const auto ticks =
        static_cast<int64_t>(static_cast<uint64_t>(now.dwHighDateTime) << 32 | now.dwLowDateTime);
    const int64_t seconds = ticks / 10000000 - 11644473600;
    int64_t wall = 0;
    CHECK(wallClock(wall));
    const int64_t difference = wall - seconds;
    CHECK(difference >= -2 && difference <= 2);
}

void currentDirectoryAndProfile() {
    char system[520];
    const DWORD length = GetCurrentDirectoryA(sizeof system, system);
    CHECK(length > 0 && length < sizeof system);

    char ours[520];
    CHECK(currentDirectory(ours, sizeof ours));
    CHECK(std::strcmp(ours, system) == 0);
    // Exactly room for the terminator, and one byte less.
    char exact[520];
    CHECK(currentDirectory(exact, length + 1));
    CHECK(std::strcmp(exact, system) == 0);
    std::memset(exact, 'x', sizeof exact);
    CHECK(!currentDirectory(exact, length));
    CHECK(exact[0] == '\0');
    CHECK(std::strcmp(configFileSuffix, "\\freqs.ini") == 0);

    // The profile file as the plug-in reads it: current directory + suffix.
    const std::string config = std::string(ours) + configFileSuffix;
    writeFile(config, "[Config]\r\nMaxOwnedFreqs=5\r\n");
    char value[16];
    std::memset(value, 0, sizeof value);
    CHECK(readProfileString("Config", "MaxOwnedFreqs", "3", value, sizeof value, config.c_str()) ==
          1);
    CHECK(std::strcmp(value, "5") == 0);
    CHECK(readProfileString("Config", "AutoSaveDelay", "300", value, sizeof value,
                            config.c_str()) == 3);
    CHECK(std::strcmp(value, "300") == 0);
    DeleteFileA(config.c_str());
    CHECK(readProfileString("Config", "MaxOwnedFreqs", "3", value, sizeof value, config.c_str()) ==
          1);
    CHECK(std::strcmp(value, "3") == 0);

    // A host started in a drive's root: the directory comes back with its
    // separator, so the path doubles it ("C:\\freqs.ini"), and that must
    // still name the file in the root.
    if (SetCurrentDirectoryA("C:\\")) {
        char root[520];
        CHECK(currentDirectory(root, sizeof root));
        const std::string doubled = std::string(root) + configFileSuffix;
        CHECK(doubled == "C:\\\\freqs.ini");
        writeFile("C:\\freqs.ini", "[Config]\nMaxOwnedFreqs=7\n");
        if (exists("C:\\freqs.ini")) {
            CHECK(readProfileString("Config", "MaxOwnedFreqs", "3", value, sizeof value,
                                    doubled.c_str()) == 1);
            CHECK(std::strcmp(value, "7") == 0);
            DeleteFileA("C:\\freqs.ini");
        } else {
            std::printf("skipped: the root of C: is not writable here\n");
        }
        SetCurrentDirectoryA(directory.c_str());
    }
}

void noReplaceRename() {
    const std::string from = pathOf("from");
    const std::string to = pathOf("to");
    writeFile(from, "first");
    writeFile(to, "second");
    CHECK(moveNoReplace(from.c_str(), to.c_str()) == MoveResult::nameTaken);
    CHECK(readFile(from) == "first");
    CHECK(readFile(to) == "second");
    DeleteFileA(to.c_str());
    CHECK(moveNoReplace(from.c_str(), to.c_str()) == MoveResult::moved);
    CHECK(!exists(from));
    CHECK(readFile(to) == "first");
    CHECK(moveNoReplace(from.c_str(), pathOf("elsewhere").c_str()) == MoveResult::failed);
    DeleteFileA(to.c_str());
}

// The registry's safe write: a directory in the temporary's place makes it
// fail with the system's words for why, and the old file stays; a backup is
// never written over an existing one.
void safeWrite() {
    const std::string path = pathOf("Zandrel.teams");
    writeFile(path, "old");
    CreateDirectoryA((path + ".tmp.1").c_str(), nullptr);
    SafeWrite write;
    write.path = path.c_str();
    write.temporarySuffix = ".tmp.1";
    write.data = "new";
    write.size = 3;
    CHECK(writeFileSafely(write) == WriteResult::failed);
    const std::string reason = lastSystemError();
    std::printf("  a directory in the temporary's place: %s\n", reason.c_str());
    CHECK(!reason.empty() && reason != "unknown error");
    CHECK(readFile(path) == "old");
    RemoveDirectoryA((path + ".tmp.1").c_str());
    CHECK(writeFileSafely(write) == WriteResult::written);
    CHECK(readFile(path) == "new");
    CHECK(!exists(path + ".tmp.1"));
    write.noReplace = true;
    write.data = "other";
    write.size = 5;
    CHECK(writeFileSafely(write) == WriteResult::failed);
    CHECK(readFile(path) == "new");
    writeFile(path + ".damaged", "kept");
    CHECK(moveNoReplace(path.c_str(), (path + ".damaged").c_str()) == MoveResult::nameTaken);
    CHECK(moveNoReplace(path.c_str(), (path + ".damaged.1").c_str()) == MoveResult::moved);
    CHECK(readFile(path + ".damaged.1") == "new");
    DeleteFileA((path + ".damaged").c_str());
    DeleteFileA((path + ".damaged.1").c_str());
    DeleteFileA(path.c_str());
}

// The directory's lock: a second process is refused while the first holds
// it, and may take it once it is released.
int tryLockInSecondProcess(const char* self) {
    std::string command =
        std::string("\"") + self + "\" --try-lock \"" + pathOf("Zandrel.teams.lock") + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process))
        return -1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 0;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hProcess);
    CloseHandle(process.hThread);
    return int(code);
}

void directoryLock(const char* self) {
    FileLock lock;
    CHECK(takeFileLock(pathOf("Zandrel.teams.lock").c_str(), lock) == LockResult::taken);
    CHECK(tryLockInSecondProcess(self) == int(LockResult::heldElsewhere));
    releaseFileLock(lock);
    CHECK(tryLockInSecondProcess(self) == int(LockResult::taken));
}

void localTime() {
    struct Case {
        int32_t seconds;
        int year, month, day, hour, minute, second;
    };
    const Case cases[] = {
        {0, 1970, 1, 1, 0, 0, 0},
        {1767225600, 2026, 1, 1, 0, 0, 0},
        {1767225600 + 86399, 2026, 1, 1, 23, 59, 59},
        {951782400, 2000, 2, 29, 0, 0, 0},
        {INT32_MAX, 2038, 1, 19, 3, 14, 7},
    };
    for (const Case& c : cases) {
        std::tm t{};
        const bool ok = localTimeOf(c.seconds, t);
        CHECK(ok);
        const bool same = t.tm_year + 1900 == c.year && t.tm_mon + 1 == c.month &&
                          t.tm_mday == c.day && t.tm_hour == c.hour && t.tm_min == c.minute &&
                          t.tm_sec == c.second;
        if (ok && !same)
            std::printf("  %ld gave %04d-%02d-%02d %02d:%02d:%02d\n", static_cast<long>(c.seconds),
                        t.tm_year + 1900, t.tm_mon + 1, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec);
        CHECK(same);
    }
    std::tm t{};
    CHECK(!localTimeOf(-1, t));
    CHECK(!localTimeOf(INT32_MIN, t));
}

// What is at a name, the listing, and the remove and rename the audit log's
// rotation and the backups' pruning use: a rename never replaces here.
void directoryCalls() {
    writeFile(pathOf("dir-a"), "A");
    writeFile(pathOf("dir-b"), "B");
    CreateDirectoryA(pathOf("dir-d").c_str(), nullptr);
    CHECK(pathKindOf("dir-a") == PathKind::regular);
    CHECK(pathKindOf("dir-d") == PathKind::other);
    CHECK(pathKindOf("dir-missing") == PathKind::missing);
    int seen = 0;
    for (const std::string& name : currentDirectoryNames()) {
        CHECK(name != "." && name != "..");
        seen += name == "dir-a" || name == "dir-b" || name == "dir-d";
    }
    CHECK(seen == 3);
    CHECK(!renamePath("dir-a", "dir-b"));
    CHECK(readFile(pathOf("dir-b")) == "B");
    CHECK(renamePath("dir-a", "dir-c"));
    CHECK(readFile(pathOf("dir-c")) == "A" && !exists(pathOf("dir-a")));
    CHECK(removePath(here, "dir-c") && !exists(pathOf("dir-c")));
    CHECK(!removePath(here, "dir-c"));
    CHECK(removePath(here, "dir-d") && !exists(pathOf("dir-d")));
    CHECK(removePath(here, "dir-b"));
}

} // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "--try-lock") == 0) {
        FileLock lock;
        return int(takeFileLock(argv[2], lock));
    }
    char full[MAX_PATH];
    const char* base = argc > 1 ? argv[1] : ".";
    CreateDirectoryA(base, nullptr);
    if (!GetFullPathNameA(base, sizeof full, full, nullptr)) {
        std::printf("cannot resolve %s\n", base);
        return 2;
    }
    directory = full;
    SetCurrentDirectoryA(full);

    clocks();
    currentDirectoryAndProfile();
    noReplaceRename();
    localTime();
    safeWrite();
    directoryLock(argv[0]);
    directoryCalls();

    std::printf("platform layer on the system's calls:\n%d passed, %d failed\n", checksPassed,
                checksFailed);
    return checksFailed == 0 ? 0 : 1;
}
