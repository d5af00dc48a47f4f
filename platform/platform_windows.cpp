#include "platform/platform.h"

#include <cerrno>
#include <cstring>
#include <ctime>
#include <string>

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>

uint32_t tickCount() {
    return GetTickCount();
}

int32_t currentTime() {
    return static_cast<int32_t>(time(nullptr));
}

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

uint32_t readProfileString(const char* section, const char* key, const char* defaultValue,
                           char* buffer, uint32_t size, const char* path) {
    if (!buffer || size == 0) return 0;
    return GetPrivateProfileStringA(section, key, defaultValue, buffer, size, path);
}

bool replaceFileContents(const char* path, const void* data, size_t size) {
    if (!path || !*path || (!data && size != 0)) return false;
    const std::string temporary = std::string(path) + ".tmp";

    // CREATE_ALWAYS reuses a temporary left by a crash, cutting it to zero.
    const HANDLE file = CreateFileA(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;

    bool ok = true;
    const auto* p = static_cast<const unsigned char*>(data);
    size_t left = size;
    while (ok && left > 0) {
        // WriteFile takes a 32-bit count; write large buffers in pieces.
        const DWORD chunk = left > (DWORD(1) << 30) ? (DWORD(1) << 30) : static_cast<DWORD>(left);
        DWORD written = 0;
        ok = WriteFile(file, p, chunk, &written, nullptr) && written != 0;
        p += written;
        left -= written;
    }
    ok = ok && FlushFileBuffers(file);
    ok = CloseHandle(file) && ok;
    ok = ok &&
         MoveFileExA(temporary.c_str(), path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH);
    if (!ok) DeleteFileA(temporary.c_str());
    return ok;
}

bool renameNoReplace(const char* from, const char* to) {
    if (!from || !to) return false;
    // Without MOVEFILE_REPLACE_EXISTING the move fails when to exists.
    return MoveFileExA(from, to, MOVEFILE_WRITE_THROUGH) != 0;
}

bool localTimeOf(int32_t seconds, std::tm& result) {
    if (seconds < 0) return false;
    const time_t t = seconds;
    return localtime_s(&result, &t) == 0;
}

LockResult takeFileLock(const char* path, FileLock& lock) {
    if (!path || !*path) {
        SetLastError(ERROR_INVALID_PARAMETER);
        return LockResult::failed;
    }
    // Shared access, so that readers (the registry tool) may open the file;
    // the byte-range lock below is what excludes a second host.
    const HANDLE file = CreateFileA(path, GENERIC_READ | GENERIC_WRITE,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
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
    CloseHandle(reinterpret_cast<HANDLE>(lock.handle)); // closing drops the lock
    lock.handle = -1;
}

std::string lastSystemError() {
    // Calls of the system set its last error; calls of the C library set
    // errno. Whichever is set names the reason, the system's first.
    const DWORD error = GetLastError();
    if (error != 0) {
        char text[512] = {};
        const DWORD length = FormatMessageA(
            FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, error,
            MAKELANGID(LANG_ENGLISH, SUBLANG_DEFAULT), text, sizeof text, nullptr);
        std::string message(text, length);
        while (!message.empty() && (message.back() == '\n' || message.back() == '\r' ||
                                    message.back() == ' ' || message.back() == '.'))
            message.pop_back();
        if (!message.empty()) return message;
        return "system error " + std::to_string(error);
    }
    const char* text = errno != 0 ? std::strerror(errno) : nullptr;
    return text && *text ? std::string(text) : std::string("unknown error");
}
