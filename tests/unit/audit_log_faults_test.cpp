// The audit log through the built plug-in, under floods and faults: each case
// plays a session (load, connections, commands, ticks, unload) in a process
// of its own with a time limit, then the log files and what the operator was
// told are checked. Run as root, each session drops to the user nobody, so
// that permissions bite; a full disk is a small tmpfs mounted for the case.
// The plug-in is hadrok_fake_clock.so: the sessions move its clocks, never
// wait on them.
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <optional>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "host_event.h"
#include "hostlink/host_interface.h"
#include "isolated_session.h"
#include "platform/platform.h"
#include "temp_dir.h"
#include "time_zone_guard.h"

namespace fs = std::filesystem;

namespace {

using namespace isolated;

constexpr unsigned sessionSeconds = 60;
// The other host's lock, held by the test's process while a case asks it;
// the session inherits it and can end it as if that host had stopped.
FileLock otherHost;

std::vector<std::string> linesOf(const std::string& bytes) {
    std::istringstream in(bytes);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

// Every line of the log and of its generations, oldest first.
std::vector<std::string> allLogLines() {
    std::vector<std::string> lines;
    for (int n = 5; n >= 0; --n) {
        const std::string name = n == 0 ? "hadrok.log" : "hadrok.log." + std::to_string(n);
        if (!fs::is_regular_file(name)) continue;
        for (std::string& line : linesOf(readBytes(name)))
            lines.push_back(std::move(line));
    }
    return lines;
}

size_t countOf(const std::string& text, const std::string& part) {
    size_t count = 0;
    for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

// Two entries glued together show as a second date and time inside a line.
void expectNoGluedLines(const std::vector<std::string>& lines) {
    const std::regex stamp("\\d{4}-\\d\\d-\\d\\d \\d\\d:\\d\\d:\\d\\d");
    for (const std::string& line : lines) {
        const auto found = std::distance(std::sregex_iterator(line.begin(), line.end(), stamp),
                                         std::sregex_iterator());
        EXPECT_LE(found, 1) << line;
    }
}

// The log ends 20 bytes before a page of the small disk is full, so that
// the next line, on a full disk, is cut after 20 bytes.
void padLogToCutNextLine() {
    const uint64_t size = fs::exists("hadrok.log") ? fs::file_size("hadrok.log") : 0;
    uint64_t pad = (4096 - 20 - size % 4096 + 4096) % 4096;
    if (pad < 2) pad += 4096;
    const int fd = open("hadrok.log", O_WRONLY | O_APPEND | O_CREAT, 0600);
    const std::string line = std::string(pad - 1, 'p') + "\n";
    if (fd < 0 || write(fd, line.data(), line.size()) != ssize_t(line.size())) _exit(10);
    close(fd);
}

// After the folder was renamed (and another put at its name) mid-session:
// the lines before and after the move, and the unload's save, are all in
// the held folder (the current directory, which went with it), across the
// rotation the grown log brought; the folder at the old name holds nothing.
void expectHeldFolderLog(bool replaced) {
    EXPECT_TRUE(fs::exists("hadrok.log.1"));
    const std::string log = readBytes("hadrok.log.1") + readBytes("hadrok.log");
    EXPECT_EQ(countOf(log, "!freg freq=101: registered\n"), 1u);
    EXPECT_EQ(countOf(log, "player=\"Op\" level=2 !freqkill: deleted the freqs of \"Ann\": 101"),
              1u)
        << log;
    EXPECT_EQ(countOf(log, "!freg freq=102: registered\n"), 1u) << log;
    EXPECT_EQ(countOf(log, "bot=0 save: saved Zandrel.teams (1 freq)\n"), 1u) << log;
    EXPECT_TRUE(fs::exists("Zandrel.teams"));
    EXPECT_EQ(fs::exists("../case"), replaced);
    if (replaced) {
        EXPECT_TRUE(fs::is_empty("../case"));
    }
}

// The plug-in loaded in the session's process, one bot in an arena of the
// players below; its lines go to the transcript.
struct Session {
    void* library = nullptr;
    void (*talk)(BotEvent&) = nullptr;
    void (*advanceClock)(int64_t milliseconds) = nullptr;
    std::vector<PlayerRecord> players;
    std::vector<PlayerNode> nodes;
    PlayerNode* head = nullptr;
    ArenaSettingsRecord settings{};
    PlayerRecord self{};

    Session() : players(5), nodes(5) {
        const char* names[] = {"Op", "Mal", "Vic", "Ann", "Bob"};
        for (size_t i = 0; i < players.size(); ++i) {
            players[i].ident = uint16_t(i + 1);
            players[i].operatorLevel = i == 0 ? 2 : 0;
            std::memcpy(players[i].name, names[i], std::strlen(names[i]));
            nodes[i] = {&players[i], head};
            head = &nodes[i];
        }
        settings.freqLimit = 10000;
        self.freq = 9999;
        library = dlopen(sessionPluginPath().c_str(), RTLD_NOW | RTLD_LOCAL);
        if (!library) _exit(9);
        talk = reinterpret_cast<void (*)(BotEvent&)>(dlsym(library, "talk"));
        advanceClock = reinterpret_cast<void (*)(int64_t)>(dlsym(library, "advancePluginClock"));
        if (!talk || !advanceClock) _exit(12);
    }

    void connect() {
        send(talk, 1, Connect, 6u << 16, reinterpret_cast<uintptr_t>(&recordSessionLine),
             reinterpret_cast<uintptr_t>(&head));
        send(talk, 1, ArenaSettings, reinterpret_cast<uintptr_t>(&settings));
        send(talk, 1, ArenaEnter, 0, reinterpret_cast<uintptr_t>(&self));
    }

    PlayerRecord& player(const char* name) {
        for (PlayerRecord& p : players)
            if (std::strcmp(p.name, name) == 0) return p;
        _exit(11);
    }

    void command(const char* who, const char* word, const std::string& argument) {
        CommandRecord record{{}, word, argument.c_str()};
        send(talk, 1, Command, reinterpret_cast<uintptr_t>(&player(who)),
             reinterpret_cast<uintptr_t>(&record));
    }

    void tick() { send(talk, 1, Tick); }

    void unload() {
        dlclose(library);
        library = nullptr;
    }
};

struct LogCase {
    const char* name;
    bool smallDisk = false;     // the folder is a 256 KiB tmpfs
    void (*asRoot)() = nullptr; // in the folder, before the session drops to nobody
    void (*play)(Session&);     // in the folder, after the plug-in is loaded
    void (*verify)(const std::string& transcript); // in the folder, afterwards
    bool anotherHost = false; // this process holds the registry's lock meanwhile
};

std::ostream& operator<<(std::ostream& out, const LogCase& c) {
    return out << c.name;
}

const char noSpace[] =
    "echo: Audit log hadrok.log cannot be written (No space left on device); changes are not "
    "logged.";

const LogCase cases[] = {
    // 100,000 wrong passwords from one player within an hour, among
    // operators' lines and changes to the registry.
    {"flood_of_wrong_passwords", false, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Vic", "freg", "100:pw");
         s.command("Op", "freqkill", "Vic");
         s.command("Ann", "freg", "101:secret");
         for (int i = 0; i < 100000; ++i) {
             s.command("Mal", "fjoin", "101:guess" + std::to_string(i));
             if (i % 10000 == 5000) s.command("Ann", "fname", "101:name" + std::to_string(i));
             if (i % 100 == 0) s.tick();
             s.advanceClock(36);
         }
         s.command("Ann", "fgrant", "101:Bob");
     },
     [](const std::string&) {
         const std::vector<std::string> lines = allLogLines();
         std::string log;
         for (const std::string& line : lines)
             log += line + "\n";
         EXPECT_EQ(countOf(log, "player=\"Op\" level=2 !freqkill: deleted the freqs of \"Vic\": "
                                "100; snapshot "),
                   1u);
         EXPECT_EQ(countOf(log, "!freg freq=100: registered"), 1u);
         EXPECT_EQ(countOf(log, "!freg freq=101: registered"), 1u);
         for (int i = 5000; i < 100000; i += 10000)
             EXPECT_EQ(countOf(log, "\"name" + std::to_string(i) + "\"\n"), 1u) << i;
         EXPECT_EQ(countOf(log, "!fgrant freq=101: owner \"Ann\" -> \"Bob\""), 1u);
         // Every wrong password is in the count, in one line a minute.
         const std::regex counted(" wrong passwords? for freq=101 by \"Mal\" in the minute from ");
         uint64_t total = 0;
         size_t malLines = 0;
         for (const std::string& line : lines) {
             if (line.find("player=\"Mal\"") == std::string::npos) continue;
             ++malLines;
             if (line.ends_with("!fjoin freq=101: wrong password")) {
                 ++total;
                 continue;
             }
             const size_t colon = line.find("!fjoin: ");
             ASSERT_NE(colon, std::string::npos) << line;
             std::string digits;
             size_t at = colon + 8;
             for (; at < line.size() && (isdigit(line[at]) || line[at] == ','); ++at)
                 if (line[at] != ',') digits += line[at];
             total += std::stoull(digits);
             EXPECT_TRUE(std::regex_search(line, counted)) << line;
         }
         EXPECT_EQ(total, 100000u);
         // 3,600 s: the first line, one a minute, and the last minute's at
         // unload (so the plug-in's clock did move).
         EXPECT_GE(malLines, 60u);
         EXPECT_LE(malLines, 62u);
     }},

    // A full disk cuts a line part way; the lines after it, when space has
    // come back, are whole and on lines of their own.
    {"full_disk_then_space_again", true, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Ann", "freg", "101:pw");
         padLogToCutNextLine();
         fillDisk();
         s.command("Ann", "fname", "101:lost one");
         s.command("Ann", "fname", "101:lost two");
         s.connect();
         fs::remove("filler");
         s.command("Ann", "fname", "101:back one");
         s.command("Ann", "fname", "101:back two");
         s.connect();
     },
     [](const std::string& transcript) {
         const std::string log = readBytes("hadrok.log");
         ASSERT_FALSE(log.empty());
         EXPECT_EQ(log.back(), '\n');
         const std::vector<std::string> lines = linesOf(log);
         expectNoGluedLines(lines);
         EXPECT_EQ(countOf(log, "\n2026-01-01 00:00:00 bot=1 player=\"Ann\" level=0 !fname "
                                "freq=101: name \"lost two\" -> \"back one\"\n"),
                   1u);
         EXPECT_EQ(countOf(log, "\n2026-01-01 00:00:00 bot=1 player=\"Ann\" level=0 !fname "
                                "freq=101: name \"back one\" -> \"back two\"\n"),
                   1u);
         // The cut part of the first lost line is a line of its own.
         EXPECT_EQ(countOf(log, "\n2026-01-01 00:00:00 \n"), 1u) << log.substr(log.size() - 300);
         EXPECT_EQ(countOf(transcript, noSpace), 1u) << transcript;
     }},

    // Each spell of trouble is told once, and again after the log worked.
    {"two_spells_of_a_full_disk", true, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Ann", "freg", "101:pw");
         padLogToCutNextLine();
         fillDisk();
         s.command("Ann", "fname", "101:one");
         s.command("Ann", "fname", "101:two");
         s.connect();
         s.connect();
         fs::remove("filler");
         s.command("Ann", "fname", "101:three");
         s.connect();
         padLogToCutNextLine();
         fillDisk();
         s.command("Ann", "fname", "101:four");
         s.connect();
         s.connect();
         fs::remove("filler");
     },
     [](const std::string& transcript) {
         EXPECT_EQ(countOf(transcript, noSpace), 2u) << transcript;
         const size_t first = transcript.find(noSpace);
         // The second notice comes after the connection at which the log worked.
         EXPECT_GT(countOf(transcript.substr(first + 1), "echo: DLL plugin connected.\n"), 1u);
         EXPECT_EQ(countOf(readBytes("hadrok.log"), "!fname freq=101: name \"two\" -> \"three\""),
                   1u);
     }},

    // Another process holds the registry: this one writes no log at all,
    // whatever its players and operators do.
    {"second_host_writes_nothing", false, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Ann", "freg", "101:pw");
         s.command("Mal", "fjoin", "101:guess");
         s.command("Op", "freqkill", "Ann");
         s.command("Ann", "freg", "102:pw");
         s.tick();
         s.connect();
     },
     [](const std::string& transcript) {
         EXPECT_NE(transcript.find("Another host process uses the registry in this directory"),
                   std::string::npos)
             << transcript;
         EXPECT_EQ(transcript.find("Audit log"), std::string::npos) << transcript;
         for (const auto& e : fs::directory_iterator("."))
             EXPECT_EQ(e.path().filename().string().find("hadrok.log"), std::string::npos)
                 << e.path();
     },
     true},

    // The other host stops while this one is still unchanged: this one
    // takes the lock at its next connection and from then on writes the log.
    {"lock_taken_later", false, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Ann", "fjoin", "101:pw"); // not registered: nothing changes
         // The other host stops: both its locks let go, on the open file
         // this forked session shares with it.
         flock(int(otherHost.handle), LOCK_UN);
         struct flock first {};
         first.l_type = F_UNLCK;
         first.l_whence = SEEK_SET;
         first.l_len = 1;
         fcntl(int(otherHost.handle), F_OFD_SETLK, &first);
         s.connect();
         s.command("Ann", "freg", "101:pw");
         s.command("Mal", "fjoin", "101:guess");
     },
     [](const std::string& transcript) {
         EXPECT_NE(transcript.find("This process now holds Zandrel.teams.lock"), std::string::npos)
             << transcript;
         EXPECT_EQ(
             linesOf(readBytes("hadrok.log")),
             (std::vector<std::string>{
                 "2026-01-01 00:00:00 bot=1 player=\"Ann\" level=0 !freg freq=101: registered",
                 "2026-01-01 00:00:00 bot=1 player=\"Mal\" level=0 !fjoin freq=101: wrong "
                 "password",
                 "2026-01-01 00:00:00 bot=0 save: saved Zandrel.teams (1 freq)"}));
     },
     true},

    // The host changes its current directory: the log stays beside the
    // registry, in the folder the plug-in was loaded in.
    {"log_stays_beside_the_registry", false, nullptr,
     [](Session& s) {
         s.connect();
         fs::create_directory("elsewhere");
         fs::current_path("elsewhere");
         s.command("Ann", "freg", "101:pw");
         s.command("Mal", "fjoin", "101:guess");
         s.command("Mal", "fjoin", "101:guess");
         s.unload();
     },
     [](const std::string&) {
         EXPECT_FALSE(fs::exists("elsewhere/hadrok.log"));
         const std::string log = readBytes("hadrok.log");
         EXPECT_EQ(countOf(log, "!freg freq=101: registered\n"), 1u) << log;
         // The count of the minute unload ended.
         EXPECT_EQ(countOf(log, "!fjoin: 1 wrong password for freq=101 by \"Mal\" in the minute "
                                "from 2026-01-01 00:00:00\n"),
                   1u)
             << log;
     }},

    // The folder renamed while the host runs, as an operator's "mv zone
    // zone.old": every later line, a rotation's included, is in the log of
    // the folder held, beside the registry it saves.
    {"folder_renamed_while_running", false, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Ann", "freg", "101:pw");
         fs::rename("../case", "../case.old");
         writeBytes("hadrok.log", readBytes("hadrok.log") + std::string(1 << 20, 'L') + "\n");
         s.command("Op", "freqkill", "Ann");
         s.command("Bob", "freg", "102:pw");
         s.tick();
         s.connect();
     },
     [](const std::string&) { expectHeldFolderLog(false); }},

    // The same, and another folder put at the old name: it is never written.
    {"folder_replaced_while_running", false, nullptr,
     [](Session& s) {
         s.connect();
         s.command("Ann", "freg", "101:pw");
         fs::rename("../case", "../case.old");
         fs::create_directory("../case");
         writeBytes("hadrok.log", readBytes("hadrok.log") + std::string(1 << 20, 'L') + "\n");
         s.command("Op", "freqkill", "Ann");
         s.command("Bob", "freg", "102:pw");
         s.tick();
         s.connect();
     },
     [](const std::string&) { expectHeldFolderLog(true); }},

    // A generation that may not be moved (another user's, in a sticky
    // folder): the rotation stops there, the operator is told once, no
    // generation is overwritten and the log grows on.
    {"rotation_refused_midway", false,
     [] {
         chown(".", 0, 0);
         chmod(".", 01777);
         writeBytes("hadrok.log.3", std::string(100, '3') + "\n");
     },
     [](Session& s) {
         writeBytes("hadrok.log", std::string((1 << 20) - 1, 'L') + "\n");
         for (int n : {1, 2, 4, 5})
             writeBytes("hadrok.log." + std::to_string(n), std::string(100, char('0' + n)) + "\n");
         s.connect();
         s.command("Ann", "freg", "101:pw");
         s.command("Ann", "fname", "101:one");
         s.connect();
         s.command("Ann", "fname", "101:two");
         s.connect();
     },
     [](const std::string& transcript) {
         EXPECT_EQ(countOf(transcript, "echo: Audit log hadrok.log could not be rotated "
                                       "(Operation not permitted); it grows on to at most 2 MiB."),
                   1u)
             << transcript;
         for (int n : {1, 2, 3})
             EXPECT_EQ(readBytes("hadrok.log." + std::to_string(n)),
                       std::string(100, char('0' + n)) + "\n")
                 << n;
         // The oldest went, .4 moved on to .5, and the rotation stopped at .3.
         EXPECT_EQ(readBytes("hadrok.log.5"), std::string(100, '4') + "\n");
         EXPECT_FALSE(fs::exists("hadrok.log.4"));
         const std::string log = readBytes("hadrok.log");
         EXPECT_TRUE(log.substr(0, 1 << 20) == std::string((1 << 20) - 1, 'L') + "\n");
         EXPECT_EQ(countOf(log, "!fname freq=101: name \"one\" -> \"two\""), 1u);
     }},
};

// A level-0 player who repeats, 100,000 times within an hour, a change he
// may make at will: one row per kind. Before the flood an operator deletes a
// player's freqs and two players register theirs; after it, every one of
// those lines is still in the log, and the repeats add up to 100,000 in his
// lines in full and his counted lines.
struct FloodCase {
    const char* name;
    const char* command;    // the word the flood repeats
    const char* fullChange; // how a repeat written in full ends (a prefix of its change)
    std::string (*argument)(int i);
    bool handedBack; // a hand-over: Bob hands the freq back each second time
};

std::ostream& operator<<(std::ostream& out, const FloodCase& c) {
    return out << c.name;
}

const FloodCase floods[] = {
    {"admissions_by_password", "fjoin", "admitted by password",
     [](int) { return std::string("101:secret"); }, false},
    {"name_changes", "fname", "name ", [](int i) { return std::string(i % 2 ? "102:b" : "102:a"); },
     false},
    {"squad_changes", "fsquad", "squad ",
     [](int i) { return std::string(i % 2 ? "102:Blues" : "102:Reds"); }, false},
    {"welcome_changes", "fwelc", "welcome changed",
     [](int i) { return "102:Hi %name% " + std::to_string(i); }, false},
    {"password_changes", "fpass", "password changed",
     [](int i) { return "102:pw" + std::to_string(i); }, false},
    {"invites", "finv", "invited \"Vic\"", [](int) { return std::string("102:Vic"); }, false},
    {"kicks", "fkick", "kicked \"Vic\"", [](int) { return std::string("102:Vic"); }, false},
    {"hand_overs", "fgrant", "owner ", [](int) { return std::string("102:"); }, true},
};

constexpr int floodRepeats = 100000;

void playFlood(Session& s, const FloodCase& c) {
    s.connect();
    s.command("Vic", "freg", "100:pw");
    s.command("Op", "freqkill", "Vic");
    s.command("Ann", "freg", "101:secret");
    s.command("Mal", "freg", "102:mine");
    s.player("Vic").freq = 102; // kicked again and again: the host does not move him here
    for (int i = 0; i < floodRepeats; ++i) {
        std::string argument = c.argument(i);
        const bool back = c.handedBack && i % 2 == 1;
        if (c.handedBack) argument += back ? "Mal" : "Bob";
        s.command(back ? "Bob" : "Mal", c.command, argument);
        if (i % 100 == 0) s.tick();
        s.advanceClock(36);
    }
    s.command("Op", "funreg", "101");
}

// The repeats a player's line tells: 1 for a line in full, the count of a
// counted one; 0 for a line of anything else.
uint64_t repeatsIn(const std::string& line, const FloodCase& c, const std::string& who) {
    const std::string prefix = "player=\"" + who + "\" level=0 !" + c.command;
    if (line.find(prefix) == std::string::npos) return 0;
    const size_t colon = line.find(": ", line.find(prefix));
    if (colon == std::string::npos) return 0;
    const std::string change = line.substr(colon + 2);
    if (change.starts_with(c.fullChange)) return 1;
    if (change.find(" by \"" + who + "\" in the minute from ") == std::string::npos) return 0;
    std::string digits;
    for (char ch : change) {
        if (ch == ',') continue;
        if (!isdigit(static_cast<unsigned char>(ch))) break;
        digits += ch;
    }
    return digits.empty() ? 0 : std::stoull(digits);
}

void verifyFlood(const FloodCase& c) {
    const std::vector<std::string> lines = allLogLines();
    std::string log;
    for (const std::string& line : lines)
        log += line + "\n";
    EXPECT_EQ(countOf(log, "player=\"Op\" level=2 !freqkill: deleted the freqs of \"Vic\": "
                           "100; snapshot "),
              1u);
    EXPECT_EQ(countOf(log, "player=\"Vic\" level=0 !freg freq=100: registered\n"), 1u);
    EXPECT_EQ(countOf(log, "player=\"Ann\" level=0 !freg freq=101: registered\n"), 1u);
    EXPECT_EQ(countOf(log, "player=\"Mal\" level=0 !freg freq=102: registered\n"), 1u);
    EXPECT_EQ(countOf(log, "player=\"Op\" level=2 !funreg freq=101: unregistered by an "
                           "operator; owner was \"Ann\"; record: "),
              1u);
    uint64_t total = 0;
    size_t floodLines = 0;
    for (const std::string& line : lines)
        for (const char* who : {"Mal", "Bob"})
            if (const uint64_t n = repeatsIn(line, c, who)) {
                total += n;
                ++floodLines;
            }
    EXPECT_EQ(total, uint64_t(floodRepeats));
    // 3,600 s: a few in full, then a line a minute (one for each of the two
    // players trading a freq), and the last minute's at unload.
    EXPECT_LE(floodLines, c.handedBack ? 2 * 67u : 67u);
    EXPECT_GE(floodLines, 60u);
}

class AuditLogFloods : public testing::TestWithParam<FloodCase> {};

// The row that runs, for the case's functions, which capture nothing.
const FloodCase* floodNow = nullptr;

void runCase(const LogCase& c);

// Each row against the log that wrote every repeat in full: the operator's
// line went out of all six files.
TEST_P(AuditLogFloods, RepeatsAreCountedAndEveryOperatorAndOwnerLineStays) {
    floodNow = &GetParam();
    runCase({GetParam().name, false, nullptr, [](Session& s) { playFlood(s, *floodNow); },
             [](const std::string&) { verifyFlood(*floodNow); }});
}

INSTANTIATE_TEST_SUITE_P(Kinds, AuditLogFloods, testing::ValuesIn(floods),
                         [](const auto& info) { return std::string(info.param.name); });

void runCase(const LogCase& c) {
    TimeZoneGuard zone("UTC");
    // The clocks stand frozen (system_clock_main.cpp); a session moves them
    // in its own process only, so each case starts at the same time.
    TempDir base;
    const fs::path dir = base.path / "case";
    fs::create_directory(dir);
    const bool root = geteuid() == 0;
    if ((c.smallDisk || c.asRoot) && !root)
        GTEST_SKIP() << "this case needs root (a small tmpfs, or another user's file)";
    std::optional<SmallDisk> disk;
    if (c.smallDisk && !disk.emplace(dir).mounted)
        GTEST_SKIP() << "a full disk needs a small tmpfs, and mounting one was refused ("
                     << std::strerror(disk->error) << ")";
    if (root) {
        chown(base.path.c_str(), nobody, nobody);
        chown(dir.c_str(), nobody, nobody);
    }
    fs::current_path(dir);
    writeBytes("freqs.ini", "[Config]\nAutoSaveDelay=100000\nMaxOwnedFreqs=5\n");
    if (root) chown("freqs.ini", nobody, nobody);
    if (c.asRoot) c.asRoot();
    if (c.anotherHost) {
        ASSERT_EQ(takeFileLock("Zandrel.teams.lock", otherHost), LockResult::taken);
        if (root) chown("Zandrel.teams.lock", nobody, nobody);
    }
    const Ended ended = runIsolated(sessionSeconds, nullptr, [&] {
        Session session;
        c.play(session);
        if (session.library) session.unload();
    });
    if (c.anotherHost) releaseFileLock(otherHost);
    expectEndedNormally(ended, sessionSeconds);
    c.verify(ended.transcript);
    fs::current_path(base.path);
}

class AuditLogFaults : public testing::TestWithParam<LogCase> {};

TEST_P(AuditLogFaults, LogKeepsItsLinesAndTellsEachTrouble) {
    runCase(GetParam());
}

INSTANTIATE_TEST_SUITE_P(Cases, AuditLogFaults, testing::ValuesIn(cases),
                         [](const auto& info) { return std::string(info.param.name); });

} // namespace
