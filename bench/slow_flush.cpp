// LD_PRELOAD shim: every fsync and fdatasync waits HADROK_FLUSH_DELAY_MS
// (default 200) before the real call, as a busy or networked disk would.
#include <dlfcn.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>

namespace {

void delay() {
    const char* text = std::getenv("HADROK_FLUSH_DELAY_MS");
    long ms = text ? std::atol(text) : 200;
    timespec wait{ms / 1000, (ms % 1000) * 1000000};
    while (nanosleep(&wait, &wait) != 0) {
    }
}

template <typename F> F real(const char* name) {
    return reinterpret_cast<F>(dlsym(RTLD_NEXT, name));
}

} // namespace

extern "C" int fsync(int fd) {
    static auto next = real<int (*)(int)>("fsync");
    delay();
    return next(fd);
}

extern "C" int fdatasync(int fd) {
    static auto next = real<int (*)(int)>("fdatasync");
    delay();
    return next(fd);
}
