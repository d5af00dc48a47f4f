// The registry survives every fault of the disk and the directory: each case
// sets up a fault, then plays a short session through the built plug-in
// (load, connect, a registration, an autosave, a second connection, unload)
// in a process of its own with a time limit. Each case checks that the
// registry's bytes that existed are still on disk under a known name, that
// the session ran to its end (no hang, no crash), and that the operator was
// told. Run as root, each session drops to the user nobody, so that
// permissions bite; a full disk is a small tmpfs mounted for the case.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "fake_clock.h"
#include "isolated_session.h"
#include "platform/platform.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "temp_dir.h"
#include "time_zone_guard.h"

namespace fs = std::filesystem;

namespace {

using namespace isolated;

constexpr unsigned sessionSeconds = 20;

// Two registered freqs, as the file stood before the fault.
std::string originalImage() {
    FreqRegistry registry;
    for (uint16_t freq : {100, 200}) {
        FreqRecord r{};
        r.freq = freq;
        setTextField(r.owner, "Alice");
        registry.freqs.append(r);
    }
    return registryImage(registry);
}

// Today's backup of the registry, as the plug-in names it: its clocks stand
// at their starts throughout a session here.
std::string datedBackupName() {
    std::tm t{};
    localTimeOf(int32_t(fakeWallStart), t);
    char name[64];
    std::snprintf(name, sizeof name, "%s.%04d-%02d-%02d", registryFileName, t.tm_year + 1900,
                  t.tm_mon + 1, t.tm_mday);
    return name;
}

void original() {
    writeBytes(registryFileName, originalImage());
}

// The records of a registry file, by freq number.
// The side files in the current directory: each run's own
// Zandrel.teams.unsaved.<start>-<process>.
std::vector<std::string> sideFiles() {
    std::vector<std::string> names;
    for (const auto& e : fs::directory_iterator("."))
        if (const std::string name = e.path().filename().string();
            name.rfind("Zandrel.teams.unsaved.", 0) == 0)
            names.push_back(name);
    return names;
}

std::vector<uint16_t> freqsIn(const std::string& name) {
    const std::string bytes = readBytes(name);
    FreqRegistry registry;
    addRecordsFromImage(registry, reinterpret_cast<const unsigned char*>(bytes.data()),
                        bytes.size());
    std::vector<uint16_t> freqs;
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r))
        freqs.push_back(r->freq);
    return freqs;
}

// The freqs a side file registers or changes, in freq order.
std::vector<uint16_t> freqsChangedIn(const std::string& name) {
    const DecodedChangeFile file = decodeChangeFile(readBytes(name));
    EXPECT_EQ(file.kind, ChangeFileKind::changes) << file.reason;
    std::vector<uint16_t> freqs;
    for (const FreqChange& change : file.changes)
        if (change.hasNew) freqs.push_back(change.freq);
    return freqs;
}

// The host at its limit of open files: the library itself can still be
// opened, and then the lock takes the last free one.
rlim_t openFilesBefore = 0;
void tightOpenFiles() {
    original();
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    openFilesBefore = limit.rlim_cur;
    const int lowest = open("/dev/null", O_RDONLY);
    close(lowest);
    limit.rlim_cur = rlim_t(lowest + 1);
    setrlimit(RLIMIT_NOFILE, &limit);
}
void openFilesBack() {
    rlimit limit{};
    getrlimit(RLIMIT_NOFILE, &limit);
    limit.rlim_cur = openFilesBefore;
    setrlimit(RLIMIT_NOFILE, &limit);
}

// Another host process: holds the folder's lock until this session ends.
void secondHostHoldsTheLock(const char* line = nullptr) {
    int hold[2];
    int ready[2];
    if (pipe(hold) != 0 || pipe(ready) != 0) _exit(6);
    if (fork() == 0) {
        close(hold[1]);
        FileLock lock;
        const char result = takeFileLock(registryLockFileName, lock) == LockResult::taken &&
                            (!line || writeLockHolder(lock, line));
        if (write(ready[1], &result, 1) != 1) _exit(7);
        char none;
        (void)!read(hold[0], &none, 1); // returns when the session's process ends
        _exit(0);
    }
    close(hold[0]);
    char taken = 0;
    if (read(ready[0], &taken, 1) != 1 || !taken) _exit(8);
}

// After somebody deleted the lock file, a second host starts in the folder.
void lockFileDeletedSecondHostStarts() {
    unlink(registryLockFileName);
    secondHostHoldsTheLock();
}

// The same, the second host writing who it is into its lock file.
void lockFileDeletedNamedHostStarts() {
    unlink(registryLockFileName);
    secondHostHoldsTheLock("host 4242 2026-12-11 06:40:00");
}

struct FaultCase {
    const char* name;
    void (*before)();           // in the directory, before the plug-in is loaded
    void (*whileLoaded)();      // after the registration, before the autosave
    const char* command;        // an operator command after the autosave, or null
    const char* told;           // what the operator must have been told
    const char* kept;           // where the original bytes must be ("@dated": today's
                                // backup), or null
    bool smallDisk = false;     // the directory is a 256 KiB tmpfs
    void (*verify)() = nullptr; // what else the case must leave behind
    void (*afterFirstConnect)() = nullptr;
    bool reconnect = false; // the bot connects again before the registration
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
    return out << c.name;
}

const FaultCase cases[] = {
    {"unreadable_file",
     [] {
         original();
         chmod(registryFileName, 0);
     },
     nullptr, nullptr,
     // A file that could not be opened is no damaged file: it stays where it
     // is, and the registration goes beside it.
     "Registry file Zandrel.teams could not be read (Permission denied) and was left in place "
     "(it could not be opened, which tells nothing of what it holds); it will not be saved over, "
     "and changes go to a side file beside it at each autosave. Next step: hadrok teams check "
     "Zandrel.teams says what "
     "is wrong with it",
     "Zandrel.teams", false,
     [] {
         EXPECT_FALSE(fs::exists("Zandrel.teams.damaged"));
         const std::vector<std::string> kept = sideFiles();
         ASSERT_EQ(kept.size(), 1u);
         EXPECT_EQ(freqsChangedIn(kept[0]), (std::vector<uint16_t>{500}));
     }},
    {"fifo_as_registry", [] { mkfifo(registryFileName, 0600); }, nullptr, nullptr,
     "could not be read (it is not a regular file) and has been kept as Zandrel.teams.damaged",
     nullptr, false,
     [] {
         struct stat st {};
         EXPECT_EQ(lstat("Zandrel.teams.damaged", &st), 0);
         EXPECT_TRUE(S_ISFIFO(st.st_mode));
     }},
    {"dev_zero_behind_a_link", [] { (void)!symlink("/dev/zero", registryFileName); }, nullptr,
     nullptr,
     "could not be read (it is not a regular file) and has been kept as Zandrel.teams.damaged",
     nullptr, false,
     [] { EXPECT_EQ(fs::read_symlink("Zandrel.teams.damaged"), fs::path("/dev/zero")); }},
    {"symlinked_registry",
     [] {
         fs::create_directory("data");
         writeBytes("data/real.teams", originalImage());
         fs::create_symlink("data/real.teams", registryFileName);
     },
     nullptr, nullptr, "AutoSave...", "@dated", false,
     [] {
         // The link stays; the file it points to gets the saves.
         EXPECT_TRUE(fs::is_symlink(registryFileName));
         const std::string saved = readBytes("data/real.teams");
         EXPECT_EQ(saved.size(), 3 * freqRecordSize);
         EXPECT_EQ(saved.substr(0, 2 * freqRecordSize), originalImage());
     }},
    {"full_disk", original, fillDisk, nullptr,
     "Saving Zandrel.teams failed (No space left on device); the file on disk is unchanged. "
     "Trying again at the next autosave.",
     "Zandrel.teams", true},
    {"read_only_directory_at_start",
     [] {
         original();
         chmod(".", 0555);
     },
     nullptr, nullptr,
     "Could not lock Zandrel.teams.lock (Permission denied), so this process does not write "
     "Zandrel.teams: its changes go to a side file of its own at each autosave, for hadrok teams "
     "recover to merge once the host is stopped.",
     "Zandrel.teams"},
    {"read_only_directory_while_loaded", original, [] { chmod(".", 0555); }, nullptr,
     "Saving Zandrel.teams failed (Permission denied); the file on disk is unchanged.",
     "Zandrel.teams"},
    {"directory_in_the_temporary_place",
     [] {
         original();
         fs::create_directories(std::string(registryFileName) + ".tmp." + std::to_string(getpid()) +
                                "/x");
     },
     nullptr, nullptr, "Saving Zandrel.teams failed (Is a directory)", "Zandrel.teams"},
    {"every_damaged_name_to_999_taken",
     [] {
         writeBytes(registryFileName, originalImage() + "x");
         writeBytes("Zandrel.teams.damaged", "taken");
         for (int n = 1; n <= 999; ++n)
             writeBytes(("Zandrel.teams.damaged." + std::to_string(n)).c_str(), "taken");
     },
     nullptr, nullptr,
     "Registry file Zandrel.teams was damaged and has been kept as Zandrel.teams.damaged.1000; "
     "starting with an empty registry. Next step: hadrok teams salvage "
     "Zandrel.teams.damaged.1000 -o salvaged.teams",
     nullptr, false,
     [] {
         EXPECT_EQ(readBytes("Zandrel.teams.damaged.1000"), originalImage() + "x");
         EXPECT_EQ(readBytes("Zandrel.teams.damaged.999"), "taken");
     }},
    // A sparse file just past the limit: kept aside by its size, never read.
    {"more_than_a_million_records",
     [] {
         const int fd = open(registryFileName, O_WRONLY | O_CREAT, 0600);
         (void)!ftruncate(fd, off_t(1048577) * off_t(freqRecordSize));
         close(fd);
     },
     nullptr, nullptr,
     "could not be read (it holds more than 1048576 records) and has been kept as "
     "Zandrel.teams.damaged",
     nullptr, false,
     [] { EXPECT_EQ(fs::file_size("Zandrel.teams.damaged"), 1048577u * freqRecordSize); }},
    // The reset still happens, as the operator asked (an empty registry fits
    // even on a full disk), but he hears that no undo copy exists.
    {"snapshot_on_a_full_disk", original, fillDisk, "freqreset",
     "chat: No undo copy of the registry could be made before !freqreset (No space left on "
     "device).",
     nullptr, true, [] { EXPECT_EQ(fs::file_size(registryFileName), 0u); }},
    {"audit_log_is_a_fifo",
     [] {
         original();
         mkfifo("hadrok.log", 0600);
     },
     nullptr, nullptr,
     "Audit log hadrok.log cannot be written (it is a symbolic link or not a regular file)",
     "@dated"},
    {"audit_log_is_a_link",
     [] {
         original();
         writeBytes("elsewhere", "");
         fs::create_symlink("elsewhere", "hadrok.log");
     },
     nullptr, nullptr,
     "Audit log hadrok.log cannot be written (it is a symbolic link or not a regular file)",
     "@dated", false, [] { EXPECT_EQ(readBytes("elsewhere"), ""); }},
    // Unrotatable, the log grows on to 2 MiB and stops there.
    {"audit_log_full_and_cannot_rotate",
     [] {
         original();
         writeBytes("hadrok.log", std::string((2 << 20) - 10, 'l'));
         for (int n = 1; n <= 5; ++n)
             fs::create_directories("hadrok.log." + std::to_string(n) + "/x");
     },
     nullptr, nullptr,
     "Audit log hadrok.log is full and could not be rotated (Directory not empty); no more lines "
     "are written to it.",
     "@dated", false,
     [] {
         EXPECT_EQ(fs::file_size("hadrok.log"), (2u << 20) - 10);
         for (int n = 1; n <= 5; ++n)
             EXPECT_TRUE(fs::exists("hadrok.log." + std::to_string(n) + "/x"));
     }},
    {"permissions_kept",
     [] {
         original();
         chmod(registryFileName, 0640);
     },
     nullptr, "freqkill", "AutoSave...", "@dated", false,
     [] {
         const auto mode = [](const std::string& name) {
             struct stat st {};
             stat(name.c_str(), &st);
             return st.st_mode & 0777;
         };
         EXPECT_EQ(mode(registryFileName), 0640u);
         EXPECT_EQ(mode(datedBackupName()), 0640u);
         bool snapshot = false;
         for (const auto& e : fs::directory_iterator("."))
             if (e.path().filename().string().rfind("Zandrel.teams.before-freqkill-", 0) == 0) {
                 snapshot = true;
                 EXPECT_EQ(mode(e.path().string()), 0640u);
             }
         EXPECT_TRUE(snapshot);
     }},
    // A passing failure is no damage: the file stays, and once the limit
    // allows, the next connection loads it.
    {"open_files_tight_at_load", tightOpenFiles, nullptr, nullptr,
     "Registry file Zandrel.teams is loaded now (2 freqs).", "@dated", false,
     [] {
         EXPECT_EQ(freqsIn(registryFileName), (std::vector<uint16_t>{100, 200, 500}));
     },
     openFilesBack, true},
    // The same, but a freq is registered before the limit allows: the file
    // is never saved over, and the registration is kept beside it (at
    // unload: the settings could not be read, so no autosave came).
    {"open_files_tight_then_a_registration", tightOpenFiles, openFilesBack, nullptr,
     "could not be read just now (Too many open files) and was left in place", "Zandrel.teams",
     false,
     [] {
         EXPECT_FALSE(fs::exists("Zandrel.teams.damaged"));
         const std::vector<std::string> kept = sideFiles();
         ASSERT_EQ(kept.size(), 1u);
         EXPECT_EQ(freqsChangedIn(kept[0]), (std::vector<uint16_t>{500}));
     }},
    {"file_size_limit_below_the_registry", original,
     [] {
         rlimit limit{};
         getrlimit(RLIMIT_FSIZE, &limit);
         limit.rlim_cur = 3 * freqRecordSize - 1;
         setrlimit(RLIMIT_FSIZE, &limit);
     },
     nullptr, "Saving Zandrel.teams failed (File too large); the file on disk is unchanged.",
     "Zandrel.teams"},
    // The host changes its directory: the registry stays beside its lock,
    // and the other folder's registry is not touched.
    {"host_moves_to_another_folder",
     [] {
         original();
         fs::create_directory("other");
         writeBytes("other/Zandrel.teams", "other host's registry");
     },
     [] {
         if (chdir("other") != 0) _exit(10);
     },
     "freqreset", "AutoSave...", "@dated", false,
     [] {
         EXPECT_EQ(readBytes("other/Zandrel.teams"), "other host's registry");
         // Nothing else there: no save, backup, snapshot or log line.
         EXPECT_EQ(std::distance(fs::directory_iterator("other"), fs::directory_iterator()), 1);
         EXPECT_TRUE(freqsIn(registryFileName).empty()); // the reset, saved at unload
         bool snapshot = false;
         for (const auto& e : fs::directory_iterator("."))
             snapshot |=
                 e.path().filename().string().rfind("Zandrel.teams.before-freqreset-", 0) == 0;
         EXPECT_TRUE(snapshot);
     }},
    {"lock_file_deleted_and_a_second_host_starts", original, lockFileDeletedSecondHostStarts,
     nullptr, "was deleted or replaced, and another host process now holds it", "Zandrel.teams",
     false,
     [] {
         const std::vector<std::string> kept = sideFiles();
         ASSERT_EQ(kept.size(), 1u);
         // What changed since the load alone: 100 and 200 are in the registry.
         EXPECT_EQ(freqsChangedIn(kept[0]), (std::vector<uint16_t>{500}));
     }},
    {"lock_file_deleted_and_a_host_that_names_itself_starts", original,
     lockFileDeletedNamedHostStarts, nullptr,
     "Not saving Zandrel.teams: Zandrel.teams.lock was deleted or replaced, and a host process "
     "(pid 4242) now holds it.",
     "Zandrel.teams", false,
     [] {
         const std::vector<std::string> kept = sideFiles();
         ASSERT_EQ(kept.size(), 1u);
         // What changed since the load alone: 100 and 200 are in the registry.
         EXPECT_EQ(freqsChangedIn(kept[0]), (std::vector<uint16_t>{500}));
     }},
};

// Another host process holding the directory, as a real second process.
const FaultCase secondHost = {
    "second_host_process_in_the_directory",
    original,
    nullptr,
    "freqreset",
    "Another host process uses the registry in this directory (Zandrel.teams.lock is locked), so "
    "this one does not write Zandrel.teams: its changes go to a side file of its own at each "
    "autosave, for hadrok teams recover to merge once the host is stopped.",
    "Zandrel.teams",
    false,
    [] {
        EXPECT_EQ(readBytes(registryFileName), originalImage());
        EXPECT_FALSE(fs::exists(datedBackupName()));
        // Nor any log: its lines would pass for the first host's.
        EXPECT_FALSE(fs::exists("hadrok.log"));
        for (const auto& e : fs::directory_iterator("."))
            EXPECT_EQ(e.path().filename().string().find("before-"), std::string::npos);
    }};

// The session, in the child process; its lines go to transcriptFd.
[[noreturn]] void playSession(const FaultCase& c, bool withSecondHost) {
    writeBytes("freqs.ini", "[Config]\nAutoSaveDelay=1\nMaxOwnedFreqs=5\n");
    if (withSecondHost) secondHostHoldsTheLock();
    c.before();
    void* library = dlopen(sessionPluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!library) _exit(9);
    auto talk = reinterpret_cast<void (*)(BotEvent&)>(dlsym(library, "talk"));
    PlayerRecord op{};
    op.ident = 1;
    op.operatorLevel = 1;
    std::memcpy(op.name, "Alice", 5);
    PlayerNode node{&op, nullptr};
    PlayerNode* head = &node;
    ArenaSettingsRecord settings{};
    settings.freqLimit = 10000;
    PlayerRecord self{};
    self.freq = 9999;
    const auto callback = reinterpret_cast<uintptr_t>(&recordSessionLine);
    send(talk, 1, Connect, 6u << 16, callback, reinterpret_cast<uintptr_t>(&head));
    if (c.afterFirstConnect) c.afterFirstConnect();
    if (c.reconnect) send(talk, 1, Connect, 6u << 16, callback, reinterpret_cast<uintptr_t>(&head));
    send(talk, 1, ArenaSettings, reinterpret_cast<uintptr_t>(&settings));
    send(talk, 1, ArenaEnter, 0, reinterpret_cast<uintptr_t>(&self));
    CommandRecord freg{{}, "freg", "500:pw"};
    send(talk, 1, Command, reinterpret_cast<uintptr_t>(&op), reinterpret_cast<uintptr_t>(&freg));
    if (c.whileLoaded) c.whileLoaded();
    send(talk, 1, Tick);
    if (c.command) {
        CommandRecord command{{}, c.command, "Alice"};
        send(talk, 1, Command, reinterpret_cast<uintptr_t>(&op),
             reinterpret_cast<uintptr_t>(&command));
    }
    send(talk, 2, Connect, 6u << 16, callback, reinterpret_cast<uintptr_t>(&head));
    dlclose(library);
    BotEvent end{0, Echo, {reinterpret_cast<uintptr_t>("session ended")}};
    recordSessionLine(end);
    _exit(0);
}

class RegistryFaults : public testing::TestWithParam<FaultCase> {};

void runCase(const FaultCase& c, bool withSecondHost) {
    TimeZoneGuard zone("UTC");
    TempDir base;
    const fs::path dir = base.path / "case";
    fs::create_directory(dir);
    std::optional<SmallDisk> disk;
    if (c.smallDisk && !disk.emplace(dir).mounted)
        GTEST_SKIP() << "a full disk needs a small tmpfs, and mounting one was refused ("
                     << std::strerror(disk->error) << "); run as root to include this case";
    if (geteuid() == 0) {
        chown(base.path.c_str(), nobody, nobody);
        chown(dir.c_str(), nobody, nobody);
    }
    const Ended ended =
        runIsolated(sessionSeconds, dir.c_str(), [&] { playSession(c, withSecondHost); });
    const std::string& transcript = ended.transcript;
    expectEndedNormally(ended, sessionSeconds);
    EXPECT_NE(transcript.find("echo: session ended"), std::string::npos) << transcript;
    EXPECT_NE(transcript.find(c.told), std::string::npos) << "not told: " << c.told << "\n"
                                                          << transcript;
    fs::current_path(dir);
    chmod(".", 0755);
    if (c.kept) {
        const std::string kept = std::strcmp(c.kept, "@dated") == 0 ? datedBackupName() : c.kept;
        if (access(kept.c_str(), R_OK) != 0) chmod(kept.c_str(), 0600);
        EXPECT_EQ(readBytes(kept), originalImage()) << kept;
    }
    if (c.verify) c.verify();
    fs::current_path(base.path);
}

TEST_P(RegistryFaults, RegistryKeptHostGoesOnOperatorTold) {
    runCase(GetParam(), false);
}

INSTANTIATE_TEST_SUITE_P(Cases, RegistryFaults, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(RegistryFaultsTwoHosts, SecondProcessWorksInMemoryAndIsTold) {
    runCase(secondHost, true);
}

} // namespace
