// The program's system code on Linux: the plug-in's loader, the terminal
// and file copies (the script's clocks are script_clock_posix.cpp). The
// plug-in never links this file.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <iostream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include <csignal>
#include <dlfcn.h>
#include <editline/readline.h>
#include <fcntl.h>
#include <grp.h>
#include <linux/fs.h>
#include <pwd.h>
#include <sys/ioctl.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "system/files.h"
#include "system/plugin_loader.h"
#include "system/terminal.h"

// The plug-in's loader.

const char pluginFileName[] = "hadrok.so";

std::string defaultPluginPath() {
    std::error_code error;
    std::filesystem::path self = std::filesystem::read_symlink("/proc/self/exe", error);
    if (error) return "hadrok.so";
    return (self.parent_path() / pluginFileName).string();
}

void* openPluginLibrary(const std::string& path, std::string& error) {
    dlerror();
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) {
        const char* why = dlerror();
        error = why ? why : "unknown error";
    }
    return library;
}

void* pluginSymbol(void* library, const char* name) {
    return dlsym(library, name);
}

void closePluginLibrary(void* library) {
    dlclose(library);
}

bool pluginStillLoaded(const std::string& path) {
    void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    if (!still) return false;
    dlclose(still);
    return true;
}

// The terminal.

namespace {

std::string historyPath() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.hadrok_history" : std::string();
}

// One line of standard input without its line end; false at its end.
bool readPlainLine(std::string& line) {
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

// The terminal's settings before echo was turned off, for the handlers.
termios savedTerminal{};

// The signals that end a program at a prompt by default.
constexpr int endingSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Echo comes back before the signal ends the program as it would have.
extern "C" void restoreTerminal(int signal) {
    tcsetattr(STDIN_FILENO, TCSANOW, &savedTerminal);
    (void)!write(STDERR_FILENO, "\n", 1);
    struct sigaction standard {};
    standard.sa_handler = SIG_DFL;
    sigemptyset(&standard.sa_mask);
    sigaction(signal, &standard, nullptr);
    sigset_t just{};
    sigemptyset(&just);
    sigaddset(&just, signal);
    sigprocmask(SIG_UNBLOCK, &just, nullptr);
    raise(signal);
}

} // namespace

const char endOfInputKeys[] = "Ctrl-D";

void useLfLineEnds() {}

bool inputIsTerminal() {
    return isatty(STDIN_FILENO) != 0;
}

void startLineEditor() {
    using_history();
    std::string history = historyPath();
    if (!history.empty()) read_history(history.c_str());
}

bool readInputLine(const char* prompt, std::string& line) {
    std::unique_ptr<char, decltype(&std::free)> input(readline(prompt), &std::free);
    if (!input) return false;
    line = input.get();
    return true;
}

void rememberInputLine(const std::string& line) {
    add_history(line.c_str());
}

void stopLineEditor() {
    std::string history = historyPath();
    if (!history.empty()) write_history(history.c_str());
}

bool readHiddenLine(const char* prompt, std::string& line) {
    bool terminal = tcgetattr(STDIN_FILENO, &savedTerminal) == 0;
    struct sigaction previous[std::size(endingSignals)]{};
    if (terminal) {
        struct sigaction handler {};
        handler.sa_handler = restoreTerminal;
        sigemptyset(&handler.sa_mask);
        for (int signal : endingSignals)
            sigaddset(&handler.sa_mask, signal);
        handler.sa_flags = SA_RESTART;
        // A signal ignored before (as nohup ignores a hang-up) stays ignored.
        for (size_t i = 0; i < std::size(endingSignals); ++i)
            if (sigaction(endingSignals[i], nullptr, &previous[i]) == 0 &&
                previous[i].sa_handler != SIG_IGN)
                sigaction(endingSignals[i], &handler, nullptr);
        termios quiet = savedTerminal;
        quiet.c_lflag &= ~tcflag_t(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &quiet);
    }
    // Shown once echo is off, so nothing typed at it is ever echoed.
    std::fputs(prompt, stderr);
    std::fflush(stderr);
    bool got = readPlainLine(line);
    if (terminal) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &savedTerminal);
        for (size_t i = 0; i < std::size(endingSignals); ++i)
            sigaction(endingSignals[i], &previous[i], nullptr);
    }
    std::fputs("\n", stderr);
    return got;
}

// File copies.

bool copyFileReplacing(const std::string& from, const std::string& to, std::string& reason) {
    std::error_code error;
    std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing, error);
    if (error) reason = error.message();
    return !error;
}

namespace {

bool inGroup(uid_t user, gid_t group) {
    const passwd* entry = getpwuid(user);
    if (entry == nullptr) return false;
    if (entry->pw_gid == group) return true;
    int count = 64;
    std::vector<gid_t> groups(size_t(count), 0);
    if (getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) < 0) {
        groups.resize(size_t(count));
        if (getgrouplist(entry->pw_name, entry->pw_gid, groups.data(), &count) < 0) return false;
    }
    for (int i = 0; i < count; ++i)
        if (groups[size_t(i)] == group) return true;
    return false;
}

std::string userName(uid_t user) {
    const passwd* entry = getpwuid(user);
    return entry != nullptr ? std::string(entry->pw_name) : "uid " + std::to_string(user);
}

} // namespace

std::string unreadableForTheHostsUser(const std::string& path) {
    if (geteuid() != 0) return {};
    std::filesystem::path folder = std::filesystem::path(path).parent_path();
    if (folder.empty()) folder = ".";
    struct stat file {};
    struct stat dir {};
    if (stat(path.c_str(), &file) != 0 || stat(folder.c_str(), &dir) != 0) return {};
    const uid_t host = dir.st_uid;
    // Root reads anything; a host run as root would too.
    if (host == 0) return {};
    const mode_t mode = file.st_mode & 0777;
    const bool readable = file.st_uid == host          ? (mode & S_IRUSR) != 0
                          : inGroup(host, file.st_gid) ? (mode & S_IRGRP) != 0
                                                       : (mode & S_IROTH) != 0;
    if (readable) return {};
    char octal[8];
    std::snprintf(octal, sizeof octal, "%03o", unsigned(mode));
    return "user " + userName(host) + ", who owns its folder and so likely runs the host, " +
           "could not read it (owner " + userName(file.st_uid) + ", mode " + octal + ")";
}

std::string unreplaceableWhy(const std::string& path) {
    // Never opened if not a regular file: a FIFO would block the open.
    struct stat file {};
    if (lstat(path.c_str(), &file) != 0 || !S_ISREG(file.st_mode)) return {};
    const int fd = open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC | O_NOCTTY);
    if (fd >= 0) {
        int flags = 0;
        const bool known = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        close(fd);
        if (known && (flags & FS_IMMUTABLE_FL))
            return path +
                   " is immutable (chattr +i), so neither a host nor a tool can save over "
                   "it; chattr -i " +
                   path + ", as root, mends it";
        if (known && (flags & FS_APPEND_FL))
            return path +
                   " is append-only (chattr +a), so neither a host nor a tool can save "
                   "over it; chattr -a " +
                   path + ", as root, mends it";
    }
    std::string folder = std::filesystem::path(path).parent_path().string();
    if (folder.empty()) folder = ".";
    if (access(folder.c_str(), W_OK | X_OK) != 0 && errno == EACCES)
        return "its folder " + folder + " is not writable by this user, so a new " +
               std::filesystem::path(path).filename().string() +
               " can't be put in its place; chmod u+w " + folder + " mends it";
    return {};
}

bool consoleClosesAtExit() {
    return false;
}

void waitForEnter() {
    std::string line;
    std::getline(std::cin, line);
}

std::string folderArgument(std::string typed) {
    return typed;
}
