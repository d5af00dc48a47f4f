// Every fault, not a table of the ones someone thought of: each script is
// played once to count the plug-in's calls to the system, its allocations
// and the steps a power cut may come after; then again failing call N (each
// class of error), again failing allocation N, and once cut after every
// step, a fresh plug-in started on what survived. After every run one
// invariant holds:
//   1. nothing crashes or hangs, and no exception leaves the plug-in;
//   2. what a successful save covered is in the registry file; what none
//      covered was told as not saved (or is in a side file told of);
//   3. a failed save is told to the operator when it happens, once, and the
//      audit log says it;
//   4. the autosave and invite timers still run, with the bot's settings;
//   5. a file the operator was told was kept is there after a cut.
// A break names the script, the fault and the step, to be replayed with
// HADROK_FAULT_LOOP_ONLY="script" and the same fault (see docs/reliability.md).
//
// HADROK_FAULT_LOOP=long plays every script with every N and every class;
// the test command plays every N of the short scripts and a sample of the
// long ones.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

#include "fake_clock.h"
#include "fake_platform.h"
#include "host/script_runner.h"
#include "host/script_text.h"
#include "host/simulator.h"
#include "loop_host.h"
#include "recover_check.h"
#include "registry/audit_log.h"
#include "registry/registry_file.h"
#include "registry/registry_store.h"
#include "system/plugin_loader.h"

namespace {

// The log is flushed before the save its lines describe: every cut must keep
// the log's lines up to the save it kept.
constexpr bool logFlushedBeforeSave = true;

// --- Scripts ----------------------------------------------------------------

struct Script {
    std::string name;
    std::vector<std::string> lines;
    std::map<std::string, std::string> fixtures;
};

void PrintTo(const Script& script, std::ostream* out) {
    *out << script.name;
}

std::string readWhole(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
}

Script loadScript(const std::filesystem::path& path) {
    Script script;
    script.name = path.parent_path().filename().string() + "/" + path.filename().string();
    std::istringstream text(readWhole(path));
    // As "hadrok run" reads it: CR LF line ends and a byte-order mark pass.
    for (std::string line; std::getline(text, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (script.lines.empty() && line.starts_with("\xEF\xBB\xBF")) line.erase(0, 3);
        script.lines.push_back(line);
    }
    std::filesystem::path fixtures = path;
    fixtures.replace_extension(".files");
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(fixtures, error))
        if (entry.is_regular_file())
            script.fixtures[entry.path().filename().string()] = readWhole(entry.path());
    return script;
}

std::vector<Script> allScripts() {
    const std::filesystem::path source = HADROK_SOURCE_DIR;
    std::vector<std::filesystem::path> paths;
    for (const auto& entry : std::filesystem::directory_iterator(source / "tests/e2e"))
        if (entry.path().extension() == ".txt") paths.push_back(entry.path());
    std::sort(paths.begin(), paths.end());
    paths.push_back(source / "examples/tour.txt");
    const char* only = std::getenv("HADROK_FAULT_LOOP_ONLY");
    std::vector<Script> scripts;
    for (const auto& path : paths) {
        Script script = loadScript(path);
        if (!only || script.name.find(only) != std::string::npos)
            scripts.push_back(std::move(script));
    }
    return scripts;
}

// HADROK_FAULT_LOOP_REPLAY="what" plays only the case a finding names
// (the text after the script's name) and shows its transcript.
const char* replayed() {
    return std::getenv("HADROK_FAULT_LOOP_REPLAY");
}

bool selected(const std::string& what) {
    return !replayed() || what == replayed();
}

void showReplay(const std::string& what, const std::string& transcript) {
    if (replayed()) std::printf("--- %s:\n%s---\n", what.c_str(), transcript.c_str());
}

bool longMode() {
    const char* mode = std::getenv("HADROK_FAULT_LOOP");
    return mode && std::string(mode) == "long";
}

// --- The case in hand, told if the process dies --------------------------

char caseText[512] = "";

void setCase(const std::string& text) {
    std::snprintf(caseText, sizeof caseText, "%s", text.c_str());
}

extern "C" void onFatalSignal(int signal) {
    const char lead[] = "\nfault loop: the process died in case: ";
    if (write(2, lead, sizeof lead - 1) < 0 || write(2, caseText, std::strlen(caseText)) < 0 ||
        write(2, "\n", 1) < 0) {
    }
    std::signal(signal, SIG_DFL);
    std::raise(signal);
}

// --- One run ------------------------------------------------------------------

enum class Family { none, call, allocation };

struct Fault {
    Family family = Family::none;
    uint64_t n = 0;
    FaultClass fault = FaultClass::ioError;
    std::string kind; // of call n; a lasting fault fails every later call of it
};

std::string describe(const Fault& fault) {
    switch (fault.family) {
    case Family::none:
        return "no fault";
    case Family::call:
        return "call " + std::to_string(fault.n) + " (" + fault.kind + ") fails with " +
               faultClassName(fault.fault) +
               (fault.fault == FaultClass::accessDenied ? ", and every later " + fault.kind : "");
    case Family::allocation:
        return "allocation " + std::to_string(fault.n) + " fails";
    }
    return {};
}

bool lasting(const Fault& fault) {
    return fault.family == Family::call && fault.fault == FaultClass::accessDenied;
}

// What a power cut at one step would leave, and what was known then.
struct CutState {
    uint64_t step = 0;
    std::map<std::string, std::string> files;                 // durable only
    std::vector<std::map<std::string, std::string>> prefixes; // with 1, 2, ... pending kept
    std::string transcript;
    std::set<std::string> liveNames;
    size_t writes = 0;
    bool lastWriteUnderWay = false;
    // Every line of hadrok.log, its generations and its kept file, as they
    // stood; taken only at the first step after a write began (a save's).
    std::string liveLog;
};

struct Run {
    std::string transcript;
    std::map<uint32_t, PluginConfig> configs; // at the end, per connected bot
    uint64_t calls = 0;
    uint64_t allocations = 0;
    uint64_t steps = 0;
    uint64_t fired = 0;
    uint64_t bytes = 0;
    std::vector<const char*> kinds;
    std::vector<CutState> cuts;
    std::vector<FakeWrite> writes;
    std::vector<std::string> breaks;
};

struct Capture {
    Run* run = nullptr;
    std::FILE* transcript = nullptr;
    char** buffer = nullptr;
    bool prefixes = false;
};
Capture capture;

// The log's lines in all its files: hadrok.log, .1 to .5 and .kept.
std::string logLinesOf(const std::map<std::string, std::string>& files) {
    std::string lines;
    for (const auto& [name, bytes] : files)
        if (name.starts_with(auditLogFileName)) {
            lines += bytes;
            if (!bytes.empty() && bytes.back() != '\n') lines += '\n';
        }
    return lines;
}

std::string liveLogLines() {
    std::map<std::string, std::string> files;
    for (const std::string& name : fakeFileNames())
        if (name.starts_with(auditLogFileName)) files[name] = *fakeFile(name);
    return logLinesOf(files);
}

extern "C" void captureCut() {
    CutState cut;
    cut.step = powerSteps();
    cut.files = survivingFiles(0);
    if (capture.prefixes)
        for (size_t kept = 1; kept <= pendingFolderChanges(); ++kept)
            cut.prefixes.push_back(survivingFiles(kept));
    std::fflush(capture.transcript);
    cut.transcript = *capture.buffer ? *capture.buffer : "";
    for (std::string& name : fakeFileNames())
        cut.liveNames.insert(std::move(name));
    cut.writes = fakeWrites().size();
    cut.lastWriteUnderWay = cut.writes > 0 && fakeWrites().back().outcome == nullptr;
    if (capture.run->cuts.empty() || capture.run->cuts.back().writes != cut.writes)
        cut.liveLog = liveLogLines();
    capture.run->cuts.push_back(std::move(cut));
}

// The words a failure of this fault must be told in.
std::string reasonTold(const Fault& fault) {
    if (fault.kind == "folderFlushOfWrite") return "power cut";
    if (fault.fault == FaultClass::outOfMemory) return "not enough memory";
    return std::strerror(faultErrno(fault.fault));
}

bool hasFailureWords(std::string_view text) {
    for (const char* word : {"fail", "could not", "not handled", "power cut", "cannot"})
        if (text.find(word) != std::string_view::npos) return true;
    return false;
}

std::vector<std::string_view> linesIn(const std::string& text) {
    std::vector<std::string_view> lines;
    for (size_t at = 0; at < text.size();) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        lines.emplace_back(text.data() + at, end - at);
        at = end + 1;
    }
    return lines;
}

std::vector<std::string> linesOf(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);)
        lines.push_back(line);
    return lines;
}

void mirrorIni() {
    std::error_code error;
    if (std::filesystem::exists("freqs.ini", error))
        setFakeFile("freqs.ini", readWhole("freqs.ini"));
    else
        removeFakeFile("freqs.ini");
}

bool isIniLine(std::string_view line) {
    line = trimBlanks(line);
    return line.substr(0, 3) == "ini";
}

// The facts of the counting run that the faulted runs are held to.
struct Baseline {
    Run run;
    std::map<std::string, int> failureLines;
};

// Plays the script under the fault; with cutting on, keeps what a power cut
// at every step would leave.
Run play(const Script& script, const Fault& fault, const Baseline* baseline, bool cutting,
         bool prefixes) {
    Run run;
    clearFakeFiles();
    clearFaultPlan();
    startPluginRun({});
    resetClock();
    std::error_code ignored;
    std::filesystem::remove("freqs.ini", ignored);
    for (const auto& [name, bytes] : script.fixtures) {
        setFakeFile(name, bytes);
        if (name == "freqs.ini") std::ofstream("freqs.ini", std::ios::binary) << bytes;
    }
    recordCallKinds(baseline == nullptr);
    if (lasting(fault)) {
        // From the nth call of the kind, as the counting run met it, on.
        uint64_t nth = 0;
        for (uint64_t i = 0; i < fault.n; ++i)
            nth += fault.kind == baseline->run.kinds[i];
        setFaultPlan(
            {.atCall = nth, .kind = fault.kind, .fault = fault.fault, .count = UINT64_MAX});
    } else if (fault.family == Family::call) {
        setFaultPlan({.atCall = fault.n, .kind = {}, .fault = fault.fault});
    }
    if (fault.family == Family::allocation) startPluginRun({.failAt = fault.n});

    char* buffer = nullptr;
    size_t size = 0;
    std::FILE* transcript = open_memstream(&buffer, &size);
    const auto told = [&] {
        std::fflush(transcript);
        return std::string(buffer ? buffer : "");
    };
    if (cutting) {
        capture = {&run, transcript, &buffer, prefixes};
        onPowerStep(&captureCut);
    }
    const uint64_t callLimit = baseline ? baseline->run.calls * 20 + 100000 : UINT64_MAX;
    {
        Simulator sim;
        sim.pluginPath = pluginFileName;
        sim.transcript = transcript;
        startRunBudget();
        for (const std::string& line : script.lines) {
            const std::string before = told();
            const uint64_t firedBefore = faultsFired();
            const std::string logBefore =
                fakeFile(auditLogFileName) ? *fakeFile(auditLogFileName) : std::string();
            startLineBudget();
            try {
                if (runScriptLine(sim, line) == LineResult::Exit) break;
            } catch (const ScriptError& error) {
                writeLine(sim, std::string("script error: ") + error.what());
                break;
            } catch (const HostFailure& error) {
                writeLine(sim, std::string("host failure: ") + error.what());
                break;
            }
            if (isIniLine(line)) mirrorIni();
            if (platformCalls() > callLimit) {
                run.breaks.push_back("(1) the run did not end: more than " +
                                     std::to_string(callLimit) + " calls at \"" + line + "\"");
                break;
            }
            // (3) A write that failed here is told here, with its reason,
            // and logged.
            if (fault.family == Family::call && faultsFired() > firedBefore && firedBefore == 0 &&
                (fault.kind == "writeFileSafely" || fault.kind == "folderFlushOfWrite") &&
                loadedPluginState()) {
                const std::string reason = reasonTold(fault);
                const std::string now = told().substr(before.size());
                if (now.find(reason) == std::string::npos)
                    run.breaks.push_back("(3) a failed write at \"" + line + "\" was not told (\"" +
                                         reason + "\"); the operator saw:\n" + now);
                const std::string* log = fakeFile(auditLogFileName);
                const bool logOn = loadedPluginState()->lastIniConfig.auditLog != 0;
                if (logOn && log && log->size() >= logBefore.size() &&
                    log->compare(0, logBefore.size(), logBefore) == 0 &&
                    log->find(reason, logBefore.size()) == std::string::npos)
                    run.breaks.push_back("(3) a failed write at \"" + line +
                                         "\" is not in the audit log");
            }
        }
        if (exceptionLeftPlugin()) run.breaks.push_back("(1) an exception left the plug-in");

        // (4) The timers run, with the bot's settings.
        std::string memoryImage;
        bool unchanged = false;
        bool toldNotHeld = false;
        if (PluginState* state = loadedPluginState()) {
            std::vector<std::pair<uint32_t, PluginConfig>> bots;
            for (const auto& instance : state->bots.instances)
                if (!instance->disabled && instance->callback)
                    bots.emplace_back(instance->handle, instance->iniConfig);
            for (const auto& [handle, config] : bots) {
                run.configs[handle] = config;
                if (baseline) {
                    auto counted = baseline->run.configs.find(handle);
                    // A connection that failed keeps the settings last read
                    // (never all 0), and says it failed.
                    const PluginConfig none{};
                    const bool failedConnect =
                        told().find("[" + std::to_string(handle) +
                                    "] echo: An event could not be handled") != std::string::npos &&
                        std::memcmp(&none, &config, sizeof config) != 0;
                    if (counted != baseline->run.configs.end() &&
                        std::memcmp(&counted->second, &config, sizeof config) != 0 &&
                        told().find("freqs.ini error") == std::string::npos && !failedConnect)
                        run.breaks.push_back("(4) bot " + std::to_string(handle) +
                                             " lost its settings (MaxOwnedFreqs " +
                                             std::to_string(config.maxOwnedFreqs) +
                                             ", AutoSaveDelay " +
                                             std::to_string(config.autoSaveDelay) +
                                             ") and no problem with freqs.ini was told");
                }
                const uint32_t delay = config.autoSaveDelay;
                if (delay == 0 || delay > 5000) continue;
                const size_t start = told().size();
                for (uint32_t i = 0; i < delay; ++i) {
                    BotEvent tick{};
                    tick.handle = handle;
                    tick.code = Tick;
                    deliver(sim, tick);
                }
                const std::string line = "[" + std::to_string(handle) + "] echo: AutoSave...";
                if (told().find(line, start) == std::string::npos)
                    run.breaks.push_back("(4) no autosave of bot " + std::to_string(handle) +
                                         " in " + std::to_string(delay) + " ticks");
                if (BotInstance* instance = findInstance(state->bots, handle);
                    instance && (instance->expiryCountdown == 0 ||
                                 instance->expiryCountdown > ticksPerInviteAgeing))
                    run.breaks.push_back("(4) the invite timer of bot " + std::to_string(handle) +
                                         " stands at " + std::to_string(instance->expiryCountdown));
            }
            if (exceptionLeftPlugin()) run.breaks.push_back("(1) an exception left the plug-in");
            state = loadedPluginState();
            memoryImage = registryImage(state->registry);
            unchanged = unchangedSinceLoadOrSave(state->store, state->registry);
            // Told at every connection: this process does not save.
            const std::string notHeld = lockNotice(state->store);
            toldNotHeld = !holdsRegistry(state->store) && !notHeld.empty() &&
                          told().find(notHeld) != std::string::npos;
        }
        const bool wasLoaded = loadedPluginState() != nullptr;
        // What this last unload tells: an unload earlier in the script told
        // of its own side file, which held what memory held then.
        const size_t toldBefore = fakeStandardError().size();
        unloadPlugin(sim);
        if (exceptionLeftPlugin()) run.breaks.push_back("(1) an exception left the plug-in");

        // (2) What memory held is in the file, or its failure was told.
        const std::string* file = fakeFile(registryFileName);
        const std::string& errors = fakeStandardError();
        if (wasLoaded && !unchanged && !toldNotHeld && !(file && *file == memoryImage) &&
            errors.find("hadrok: at unload,") == std::string::npos)
            run.breaks.push_back("(2) the registry file does not hold what memory held at "
                                 "unload, and no failure was told");
        for (const std::string& line :
             linesOf(errors.substr(std::min(toldBefore, errors.size())))) {
            const size_t at = line.find(unsavedFileName);
            if (at == std::string::npos || line.find("could not") != std::string::npos) continue;
            std::string name = line.substr(at);
            name = name.substr(0, name.find_first_of(" ;,()"));
            while (!name.empty() && name.back() == '.')
                name.pop_back();
            const std::string* side = fakeFile(name);
            const std::string broken = side ? checkSideFileRecovers(*side, file, memoryImage)
                                            : std::string("it is not there");
            if (!broken.empty())
                run.breaks.push_back("(2) the side file " + name + " told of at unload: " + broken);
        }
    }
    onPowerStep(nullptr);
    run.calls = platformCalls();
    run.allocations = pluginAllocations();
    run.steps = powerSteps();
    run.fired = faultsFired() + allocationFaultsFired();
    run.bytes = bytesAllocated();
    run.kinds = recordedCallKinds();
    run.writes = fakeWrites();
    std::fclose(transcript);
    run.transcript = buffer ? buffer : "";
    std::free(buffer);
    recordCallKinds(false);
    clearFaultPlan();
    setAllocationPlan({});

    // (3) Once per spell: a single fault tells each failure once.
    if (baseline && fault.family != Family::none && !lasting(fault)) {
        std::map<std::string, int> counts;
        for (const std::string& line : linesOf(run.transcript))
            if (hasFailureWords(line)) ++counts[line];
        for (const auto& [line, count] : counts) {
            auto counted = baseline->failureLines.find(line);
            const int before = counted == baseline->failureLines.end() ? 0 : counted->second;
            if (count > before + 1)
                run.breaks.push_back("(3) told " + std::to_string(count) + " times: " + line);
        }
    }
    return run;
}

// A fresh plug-in on what survived: it starts, takes a connection and ends
// without an exception; a registry file there loads whole unless it is the
// one the script started with.
void startAfresh(const Script& script, std::vector<std::string>& breaks) {
    clearFaultPlan();
    startPluginRun({});
    Simulator sim;
    char* buffer = nullptr;
    size_t size = 0;
    sim.transcript = open_memstream(&buffer, &size);
    sim.pluginPath = pluginFileName;
    const std::string* file = fakeFile(registryFileName);
    const std::string before = file ? *file : std::string();
    const bool there = file != nullptr;
    loadPlugin(sim);
    const LoadOutcome outcome = loadedPluginState()->store.load.outcome;
    auto fixture = script.fixtures.find(registryFileName);
    const bool asGiven = fixture != script.fixtures.end() && fixture->second == before;
    if (there && !asGiven && outcome != LoadOutcome::loaded)
        breaks.push_back("(2) the registry file left does not load whole (" +
                         loadNotice(loadedPluginState()->store.load) + ")");
    if (there && outcome == LoadOutcome::loaded &&
        registryImage(loadedPluginState()->registry) != before)
        breaks.push_back("(2) the registry file left loads as other records than it holds");
    BotEvent connect{};
    connect.handle = 1;
    connect.code = Connect;
    connect.slot[0] = uintptr_t(interfaceMajor) << 16 | interfaceMinor;
    connect.slot[1] = reinterpret_cast<uintptr_t>(&hostCallback);
    connect.slot[2] = reinterpret_cast<uintptr_t>(&sim.playerListHead);
    deliver(sim, connect);
    unloadPlugin(sim);
    if (exceptionLeftPlugin()) breaks.push_back("(1) an exception left the fresh plug-in");
    std::fclose(sim.transcript);
    std::free(buffer);
}

// Names of the registry's kept files told in text: backups, snapshots,
// .damaged, side files.
std::set<std::string> keptNamesTold(const std::string& text) {
    std::set<std::string> names;
    const std::string base = std::string(registryFileName) + ".";
    for (const std::string& line : linesOf(text)) {
        if (line.find("power cut") != std::string::npos) continue;
        for (size_t at = line.find(base); at != std::string::npos; at = line.find(base, at + 1)) {
            std::string name = line.substr(at);
            name = name.substr(0, name.find_first_of(" ;,()\"'"));
            while (!name.empty() && name.back() == '.')
                name.pop_back();
            if (name.size() > base.size() && name.find(".tmp") == std::string::npos)
                names.insert(name);
        }
    }
    return names;
}

// The invariant after a cut at one step (and for each prefix of what was
// pending there).
void checkCut(const Script& script, const Run& run, const CutState& cut,
              const std::map<std::string, std::string>& files, std::vector<std::string>& breaks,
              uint64_t& states) {
    ++states;
    // (2) The last save that succeeded, or one begun after it.
    std::set<std::string> allowed;
    bool acked = false;
    for (size_t i = cut.writes; i-- > 0;) {
        const FakeWrite& write = run.writes[i];
        if (write.name != registryFileName) continue;
        allowed.insert(write.bytes);
        const bool underWay = cut.lastWriteUnderWay && i + 1 == cut.writes;
        if (!underWay && write.outcome && std::string(write.outcome) == "written") {
            acked = true;
            break;
        }
    }
    auto registry = files.find(registryFileName);
    if (replayed()) {
        for (size_t i = 0; i < cut.writes; ++i)
            std::printf("write %zu: %s, %zu bytes, %s%s\n", i, run.writes[i].name.c_str(),
                        run.writes[i].bytes.size(),
                        run.writes[i].outcome ? run.writes[i].outcome : "under way",
                        registry != files.end() && registry->second == run.writes[i].bytes
                            ? ", as left"
                            : "");
        if (registry != files.end() && cut.writes > 0) {
            const std::string& a = registry->second;
            const std::string& b = run.writes[cut.writes - 1].bytes;
            size_t at = 0;
            while (at < a.size() && at < b.size() && a[at] == b[at])
                ++at;
            std::printf("first difference at %zu\n", at);
        }
        std::printf("left: %s\n",
                    registry == files.end()
                        ? "no registry"
                        : (std::to_string(registry->second.size()) + " bytes").c_str());
    }
    // Moved aside by the plug-in (a damaged file), the last save's bytes are
    // kept under the new name: no file in place is a state it left.
    bool movedAway = false;
    for (const auto& [name, bytes] : files)
        movedAway = movedAway || (name.starts_with(std::string(registryFileName) + ".damaged") &&
                                  allowed.count(bytes));
    if (acked) {
        if (registry == files.end() ? !movedAway : !allowed.count(registry->second))
            breaks.push_back(
                std::string("(2) after the cut the registry file does not hold the last save ") +
                (registry == files.end() ? "(it is missing)" : "(it holds other bytes)"));
    }
    // (3) The log holds the lines written before the save the cut kept.
    if (logFlushedBeforeSave && registry != files.end() && acked) {
        // Each line, as many times as it was there, in whichever of the
        // log's files it is now.
        std::map<std::string_view, size_t> after;
        const std::string afterText = logLinesOf(files);
        for (const std::string_view line : linesIn(afterText))
            ++after[line];
        // Only the state just after each save counts: lines written after
        // it (the save's own line among them) need not be kept with it.
        size_t writesBefore = 0;
        for (const CutState& earlier : run.cuts) {
            const bool justSaved = earlier.writes != writesBefore;
            writesBefore = earlier.writes;
            if (!justSaved || earlier.writes == 0 || earlier.step > cut.step) continue;
            const FakeWrite& write = run.writes[earlier.writes - 1];
            // A file the host put in place (a script's copy) is no save of
            // the plug-in's, whose lines it owes nothing.
            if (write.byTest || write.name != registryFileName || write.bytes != registry->second)
                continue;
            std::map<std::string_view, size_t> left = after;
            std::string missing;
            for (const std::string_view line : linesIn(earlier.liveLog))
                if (left[line]-- == 0) {
                    missing = std::string(line);
                    break;
                }
            if (!missing.empty()) {
                breaks.push_back("(3) the cut kept a save without the audit lines before it (save "
                                 "at step " +
                                 std::to_string(earlier.step) + " of write " +
                                 std::to_string(earlier.writes) + "; gone: " + missing + ")");
                break;
            }
        }
    }
    // (5) Each kept file told of is there.
    for (const std::string& name : keptNamesTold(cut.transcript))
        if (cut.liveNames.count(name) && !files.count(name))
            breaks.push_back("(5) " + name + " was told as kept and is gone after the cut");
    // (1) A fresh plug-in starts on what is left.
    restoreFiles(files);
    startAfresh(script, breaks);
}

struct Figures {
    uint64_t runs = 0;
    uint64_t faults = 0;
    uint64_t states = 0;
    std::vector<std::string> findings;
};

void report(Figures& figures, const Script& script, const std::string& what,
            const std::vector<std::string>& breaks) {
    for (const std::string& b : breaks)
        figures.findings.push_back(script.name + ": \"" + what + "\": " + b);
}

// The seed that moves the short form's sample, so that runs over time reach
// other calls and allocations: HADROK_FAULT_LOOP_SEED, or a new one each run.
// It is printed with the figures; given back, it replays the same sample.
uint64_t loopSeed() {
    static const uint64_t seed = [] {
        if (const char* given = std::getenv("HADROK_FAULT_LOOP_SEED"))
            return uint64_t(std::strtoull(given, nullptr, 10));
        std::random_device device;
        return (uint64_t(device()) << 32 | device()) % 1000000000;
    }();
    return seed;
}

// The Ns of one family to play: every one, or a sample spread over the
// whole run when there are more than `budget`, each N at a place within its
// stride that the seed chooses.
std::vector<uint64_t> sample(uint64_t count, uint64_t budget, uint64_t seed) {
    std::vector<uint64_t> ns;
    if (count <= budget) {
        for (uint64_t n = 1; n <= count; ++n)
            ns.push_back(n);
        return ns;
    }
    const double stride = double(count) / double(budget);
    const double within = double(seed % 1000) / 1000.0;
    for (uint64_t i = 0; i < budget; ++i)
        ns.push_back(1 + std::min(count - 1, uint64_t(double(i) * stride + within * stride)));
    return ns;
}

Figures loop(const Script& script, bool all) {
    Figures figures;
    setCase(script.name + ": counting run");
    Baseline baseline;
    baseline.run = play(script, {}, nullptr, true, true);
    ++figures.runs;
    report(figures, script, "no fault", baseline.run.breaks);
    if (std::getenv("HADROK_FAULT_LOOP_TRACE"))
        std::printf("%s: counting run, %llu calls, %llu allocations, %llu bytes, %llu steps:\n%s",
                    script.name.c_str(), (unsigned long long)baseline.run.calls,
                    (unsigned long long)baseline.run.allocations,
                    (unsigned long long)baseline.run.bytes, (unsigned long long)baseline.run.steps,
                    baseline.run.transcript.c_str());
    for (const std::string& line : linesOf(baseline.run.transcript))
        if (hasFailureWords(line)) ++baseline.failureLines[line];

    // A run that moves many megabytes (a script of huge texts) is sampled
    // more thinly, so that the test command stays short under the sanitizers.
    const uint64_t weight = std::max<uint64_t>(1, baseline.run.bytes / (1u << 20));
    // One run under one fault, then a fresh plug-in on what it left.
    const auto playFault = [&](const Fault& f) {
        if (!selected(describe(f))) return;
        setCase(script.name + ": " + describe(f));
        Run run = play(script, f, &baseline, false, false);
        showReplay(describe(f), run.transcript);
        ++figures.runs;
        figures.faults += run.fired;
        std::vector<std::string> breaks = run.breaks;
        startAfresh(script, breaks);
        ++figures.states;
        report(figures, script, describe(f), breaks);
    };
    // Every call, each class it can fail with.
    const uint64_t callBudget = all ? UINT64_MAX : 700 / weight;
    // The script's name mixed in, so that each script's sample moves its own way.
    const uint64_t seed = loopSeed() + std::hash<std::string>{}(script.name);
    const std::vector<uint64_t> calls = sample(baseline.run.calls, callBudget, seed);
    for (uint64_t n : calls) {
        const char* kind = baseline.run.kinds[n - 1];
        std::vector<FaultClass> classes;
        for (FaultClass fault : allFaultClasses)
            if (faultApplies(kind, fault)) classes.push_back(fault);
        // The short form plays bad_alloc where a call can throw it, and one
        // error class of the others, in turn from call to call.
        if (!all && !classes.empty()) {
            std::vector<FaultClass> errors;
            for (FaultClass fault : classes)
                if (fault != FaultClass::outOfMemory) errors.push_back(fault);
            const bool throws = errors.size() < classes.size();
            classes.clear();
            if (!errors.empty()) classes.push_back(errors[(n + seed) % errors.size()]);
            if (throws) classes.push_back(FaultClass::outOfMemory);
        }
        for (FaultClass fault : classes)
            playFault({Family::call, n, fault, kind});
    }

    // Every allocation of the plug-in.
    const uint64_t allocationBudget = all ? UINT64_MAX : 400 / weight;
    for (uint64_t n : sample(baseline.run.allocations, allocationBudget, seed / 1000))
        playFault({Family::allocation, n, FaultClass::outOfMemory, {}});

    // A cut after every step, and after each prefix of what was pending.
    for (const CutState& cut : baseline.run.cuts) {
        const std::string at = "power cut after step " + std::to_string(cut.step);
        for (size_t kept = 0; kept <= cut.prefixes.size(); ++kept) {
            // The short form keeps nothing or all that was pending.
            if (!all && kept != 0 && kept != cut.prefixes.size()) continue;
            const std::string what =
                kept == 0 ? at : at + " keeping " + std::to_string(kept) + " pending";
            if (!selected(what)) continue;
            setCase(script.name + ": " + what);
            showReplay(what, cut.transcript);
            std::vector<std::string> breaks;
            checkCut(script, baseline.run, cut, kept == 0 ? cut.files : cut.prefixes[kept - 1],
                     breaks, figures.states);
            report(figures, script, what, breaks);
        }
    }
    figures.faults += baseline.run.cuts.size();
    return figures;
}

class FaultLoop : public testing::TestWithParam<Script> {
  protected:
    static void SetUpTestSuite() {
        for (int signal : {SIGSEGV, SIGABRT, SIGBUS, SIGFPE, SIGALRM})
            std::signal(signal, onFatalSignal);
        home = std::filesystem::current_path();
        std::string pattern = (std::filesystem::temp_directory_path() / "hadrok-loop-XXXXXX");
        ASSERT_TRUE(mkdtemp(pattern.data()));
        folder = pattern;
        std::filesystem::current_path(folder);
    }
    static void TearDownTestSuite() {
        std::error_code ignored;
        std::filesystem::current_path(home, ignored);
        std::filesystem::remove_all(folder, ignored);
    }
    static inline std::filesystem::path home, folder;
};

TEST_P(FaultLoop, HoldsTheInvariantUnderEveryFault) {
    const Script& script = GetParam();
    alarm(longMode() ? 3600 : 300); // a hang ends the run with its case told
    const Figures figures = loop(script, longMode());
    alarm(0);
    std::printf("%s: %llu runs, %llu faults injected, %llu states checked, %zu findings "
                "(sample seed %llu: HADROK_FAULT_LOOP_SEED=%llu plays the same)\n",
                script.name.c_str(), (unsigned long long)figures.runs,
                (unsigned long long)figures.faults, (unsigned long long)figures.states,
                figures.findings.size(), (unsigned long long)loopSeed(),
                (unsigned long long)loopSeed());
    if (!figures.findings.empty())
        ADD_FAILURE() << "replay this sample with HADROK_FAULT_LOOP_SEED=" << loopSeed();
    // A few are enough to mend from; the count says how many more.
    for (size_t i = 0; i < figures.findings.size() && i < 20; ++i)
        ADD_FAILURE() << figures.findings[i];
}

std::string scriptTestName(const testing::TestParamInfo<Script>& info) {
    std::string name;
    for (char c : info.param.name)
        name += std::isalnum(static_cast<unsigned char>(c)) ? c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Scripts, FaultLoop, testing::ValuesIn(allScripts()), scriptTestName);

} // namespace
