// LD_PRELOAD recorder: every write, flush and rename the program (and the
// plug-in it loads) makes through the C library is appended, as one line
// naming the file by its full path, to the file HADROK_RECORD names:
//   write PATH / fsync PATH / rename FROM TO / link FROM TO
// so that a test can check their order on the real file layer, which the
// fake platform's power model stands in for everywhere else.
#include <dlfcn.h>
#include <fcntl.h>
#include <limits.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdarg>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

template <typename F> F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

std::string pathOfFd(int fd) {
    char link[64];
    std::snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    char target[PATH_MAX];
    static auto readlinkNext = real<ssize_t (*)(const char*, char*, size_t)>("readlink");
    const ssize_t n = readlinkNext(link, target, sizeof target - 1);
    return n > 0 ? std::string(target, size_t(n)) : std::string("?");
}

std::string pathAt(int dir, const char* name) {
    if (!name) return "?";
    if (name[0] == '/') return name;
    std::string base;
    if (dir == AT_FDCWD) {
        char cwd[PATH_MAX];
        base = getcwd(cwd, sizeof cwd) ? cwd : "?";
    } else {
        base = pathOfFd(dir);
    }
    return base + "/" + name;
}

bool isRegular(int fd) {
    struct stat st {};
    return fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
}

void record(const std::string& line) {
    const char* file = std::getenv("HADROK_RECORD");
    if (!file) return;
    const int saved = errno;
    static auto openNext = real<int (*)(const char*, int, ...)>("open");
    static auto writeNext = real<ssize_t (*)(int, const void*, size_t)>("write");
    const int fd = openNext(file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd >= 0) {
        const std::string text = line + "\n";
        if (writeNext(fd, text.data(), text.size()) < 0) {
        }
        close(fd);
    }
    errno = saved;
}

// Only the files a test looks at: not the terminal, not the record itself.
void recordFd(const char* what, int fd) {
    if (!isRegular(fd) && std::strcmp(what, "fsync") != 0) return;
    const std::string path = pathOfFd(fd);
    const char* file = std::getenv("HADROK_RECORD");
    if (file && path == file) return;
    record(std::string(what) + " " + path);
}

} // namespace

extern "C" ssize_t write(int fd, const void* data, size_t size) {
    static auto next = real<ssize_t (*)(int, const void*, size_t)>("write");
    const ssize_t n = next(fd, data, size);
    if (n > 0) recordFd("write", fd);
    return n;
}

extern "C" int fsync(int fd) {
    static auto next = real<int (*)(int)>("fsync");
    const int result = next(fd);
    if (result == 0) recordFd("fsync", fd);
    return result;
}

extern "C" int fdatasync(int fd) {
    static auto next = real<int (*)(int)>("fdatasync");
    const int result = next(fd);
    if (result == 0) recordFd("fsync", fd);
    return result;
}

extern "C" int rename(const char* from, const char* to) {
    static auto next = real<int (*)(const char*, const char*)>("rename");
    const std::string a = pathAt(AT_FDCWD, from), b = pathAt(AT_FDCWD, to);
    const int result = next(from, to);
    if (result == 0) record("rename " + a + " " + b);
    return result;
}

extern "C" int renameat(int fromDir, const char* from, int toDir, const char* to) {
    static auto next = real<int (*)(int, const char*, int, const char*)>("renameat");
    const std::string a = pathAt(fromDir, from), b = pathAt(toDir, to);
    const int result = next(fromDir, from, toDir, to);
    if (result == 0) record("rename " + a + " " + b);
    return result;
}

extern "C" int renameat2(int fromDir, const char* from, int toDir, const char* to,
                         unsigned int flags) {
    static auto next = real<int (*)(int, const char*, int, const char*, unsigned int)>("renameat2");
    const std::string a = pathAt(fromDir, from), b = pathAt(toDir, to);
    const int result = next(fromDir, from, toDir, to, flags);
    if (result == 0) record("rename " + a + " " + b);
    return result;
}

extern "C" int linkat(int fromDir, const char* from, int toDir, const char* to, int flags) {
    static auto next = real<int (*)(int, const char*, int, const char*, int)>("linkat");
    const std::string a = pathAt(fromDir, from), b = pathAt(toDir, to);
    const int result = next(fromDir, from, toDir, to, flags);
    if (result == 0) record("rename " + a + " " + b);
    return result;
}
