// What the fault tables share: a session of the built plug-in played in a
// process of its own, as the user nobody when the tests run as root (so that
// permissions bite), under a time limit (so that a hang ends the case, not
// the test run), with every line the plug-in sends written to a transcript
// that the test reads back. Also the small disk that a case mounts, taken
// away however the case ends.
#pragma once

#include <dlfcn.h>
#include <fcntl.h>
#include <grp.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "host_event.h"
#include "hostlink/host_interface.h"

namespace isolated {

constexpr uid_t nobody = 65534;

// Where the session's lines go; set in the child only.
inline int transcriptFd = -1;

// The host's callback in the session: one line of the transcript per event.
extern "C" inline void recordSessionLine(BotEvent& event) {
    const char* text =
        reinterpret_cast<const char*>(event.code == Echo ? event.slot[0] : event.slot[3]);
    std::string line =
        (event.code == Echo ? "echo: " : "chat: ") + std::string(text ? text : "(null)") + "\n";
    if (write(transcriptFd, line.data(), line.size()) < 0) _exit(4);
}

inline void send(void (*talk)(BotEvent&), uint32_t handle, uint32_t code, uintptr_t slot0 = 0,
                 uintptr_t slot1 = 0, uintptr_t slot2 = 0) {
    BotEvent event = hostEvent(handle, code, slot0, slot1, slot2);
    talk(event);
}

inline std::string readBytes(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

inline void writeBytes(const std::string& name, const std::string& bytes) {
    std::ofstream(name, std::ios::binary) << bytes;
}

// Writes in the current directory until its file system is full.
inline void fillDisk() {
    const int fd = open("filler", O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const std::string block(4096, 'f');
    while (fd >= 0 && write(fd, block.data(), block.size()) > 0) {
    }
    const std::string byte(1, 'f');
    while (fd >= 0 && write(fd, byte.data(), 1) > 0) {
    }
    if (fd >= 0) close(fd);
}

// The plug-in the sessions load, where the user nobody can read it: the
// build may lie in a folder that only its owner may enter (a checkout in a
// fresh mktemp -d), so it is copied once into a folder of its own that
// anyone may read, removed when the test program ends.
inline const std::string& sessionPluginPath() {
    struct Copy {
        std::string folder, path;
        ~Copy() {
            std::error_code ignored;
            if (!folder.empty()) std::filesystem::remove_all(folder, ignored);
        }
    };
    static const Copy copy = [] {
        Copy made;
        std::string pattern =
            (std::filesystem::temp_directory_path() / "hadrok-plugin-XXXXXX").string();
        if (!mkdtemp(pattern.data()) || chmod(pattern.c_str(), 0755) != 0) return made;
        made.folder = pattern;
        made.path = pattern + "/" +
                    std::filesystem::path(HADROK_FAKE_CLOCK_PLUGIN_PATH).filename().string();
        std::error_code error;
        std::filesystem::copy_file(HADROK_FAKE_CLOCK_PLUGIN_PATH, made.path, error);
        if (error) made.path.clear();
        return made;
    }();
    return copy.path;
}

struct Ended {
    int status = 0;
    std::string transcript;
};

// Runs `session` in a child process: first into `folder` (when given), then
// the time limit, then as nobody when root. The child ends with status 0 when
// the session returns; its transcript comes back whole.
template <class Session> Ended runIsolated(unsigned seconds, const char* folder, Session session) {
    Ended ended;
    // Made here, in this process, so that no child makes a copy of its own.
    if (sessionPluginPath().empty()) {
        ADD_FAILURE() << "no copy of " << HADROK_FAKE_CLOCK_PLUGIN_PATH << " that nobody can read";
        ended.status = -1;
        return ended;
    }
    int lines[2];
    if (pipe(lines) != 0) {
        ADD_FAILURE() << "no pipe: " << std::strerror(errno);
        ended.status = -1;
        return ended;
    }
    const pid_t child = fork();
    if (child < 0) {
        ADD_FAILURE() << "no child: " << std::strerror(errno);
        close(lines[0]);
        close(lines[1]);
        ended.status = -1;
        return ended;
    }
    if (child == 0) {
        close(lines[0]);
        transcriptFd = lines[1];
        if (folder && chdir(folder) != 0) _exit(3);
        alarm(seconds);
        if (geteuid() == 0 &&
            (setgroups(0, nullptr) != 0 || setgid(nobody) != 0 || setuid(nobody) != 0))
            _exit(5);
        session();
        _exit(0);
    }
    close(lines[1]);
    char chunk[4096];
    for (ssize_t n; (n = read(lines[0], chunk, sizeof chunk)) > 0;)
        ended.transcript.append(chunk, size_t(n));
    close(lines[0]);
    waitpid(child, &ended.status, 0);
    return ended;
}

// The session ran to its end: no hang past its limit, no crash.
inline void expectEndedNormally(const Ended& ended, unsigned seconds) {
    EXPECT_TRUE(WIFEXITED(ended.status) && WEXITSTATUS(ended.status) == 0)
        << (WIFSIGNALED(ended.status) && WTERMSIG(ended.status) == SIGALRM
                ? "the session hung past " + std::to_string(seconds) + " s"
                : "the session ended abnormally, status " + std::to_string(ended.status))
        << "\n"
        << ended.transcript;
}

// A small tmpfs over a folder, for a full disk, unmounted however the case
// ends (the process leaves the folder first, or the unmount would fail).
struct SmallDisk {
    std::filesystem::path folder;
    bool mounted = false;
    int error = 0;

    explicit SmallDisk(const std::filesystem::path& where) : folder(where) {
        mounted = mount("tmpfs", folder.c_str(), "tmpfs", 0, "size=256k") == 0;
        if (!mounted) error = errno;
    }
    ~SmallDisk() {
        if (!mounted) return;
        std::error_code ignored;
        const auto here = std::filesystem::current_path(ignored);
        const auto rel = here.lexically_relative(folder);
        if (!ignored && !rel.empty() && *rel.begin() != "..")
            std::filesystem::current_path(folder.parent_path(), ignored);
        if (umount(folder.c_str()) != 0) umount2(folder.c_str(), MNT_DETACH);
    }
    SmallDisk(const SmallDisk&) = delete;
    SmallDisk& operator=(const SmallDisk&) = delete;
};

} // namespace isolated
