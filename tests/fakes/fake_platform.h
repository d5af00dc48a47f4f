// The fake platform layer: fake_platform.cpp defines everything platform.h
// declares, over one directory held in memory and the clocks of fake_clock.cpp,
// so that a program linking it (the fuzz targets) never touches the disk and
// never waits for a flush. It keeps the real layer's contracts: a replace is
// atomic, a move that must not replace refuses a taken name, the registry's
// lock is held once, and a file removed or renamed while open stays what the
// open handle sees.
//
// Two more things the real layer can't do on demand: fail any call, and say
// what a power cut would leave.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <string_view>
#include <vector>

// The current directory's full name; a path is a bare name, "./" and this
// followed by a slash before it. Nothing else exists.
extern const char fakeDirectory[];

// Every file gone, every lock dropped and every flush forgotten, as in a fresh
// empty directory; what was written to standard error is forgotten too.
void clearFakeFiles();
// A file as the test sets it up: there and durable, as if flushed long ago.
void setFakeFile(std::string_view name, std::string_view bytes);
// A file gone at once and for good, as the test's own doing.
void removeFakeFile(std::string_view name);
// The file's bytes, or nullptr when there is no file of that name.
const std::string* fakeFile(std::string_view name);
// The names in the directory, sorted.
std::vector<std::string> fakeFileNames();
// The folder held as a system's folder is, by its handle: a test moves it
// away (nothing stands at fakeDirectory after), or puts another folder in its
// place, holding files. Bare names stay in the current directory, which goes
// with the folder; the folder's full name leads to what stands there now.
// fakeFile and the others above look at the folder that was moved.
enum class FakeFolderAtName { same, none, replaced };
void moveFakeFolderAway();
void putFakeFolderInPlace(const std::map<std::string, std::string>& files);
// A file of the folder put in place, or nullptr.
const std::string* fakeFileInPlace(std::string_view name);
// Every safe write since the files were cleared that got as far as its
// temporary, with its outcome: null while it is under way. A file the test
// sets counts as written.
struct FakeWrite {
    std::string name;
    std::string bytes;
    const char* outcome = nullptr; // "written", "renamedUnflushed" or "failed"
    bool byTest = false;           // put there by setFakeFile, not by a safe write
};
const std::vector<FakeWrite>& fakeWrites();
// Every line writeStandardError was given since the files were cleared.
const std::string& fakeStandardError();

// --- The fault plan ---------------------------------------------------------
//
// Every entry of the platform layer counts as one call, under its function's
// name as its kind (the folder flush inside writeFileSafely counts as a call
// of its own, "folderFlushOfWrite", whose failure leaves the file renamed but
// unflushed). A plan fails the call it names with one class of error.
enum class FaultClass {
    tooManyFiles, // EMFILE: passes by itself
    interrupted,  // EINTR: passes
    ioError,      // EIO: passes
    accessDenied, // EACCES: stays
    noSpace,      // ENOSPC
    fileTooLarge, // EFBIG
    outOfMemory,  // std::bad_alloc thrown from the call
};
constexpr FaultClass allFaultClasses[] = {
    FaultClass::tooManyFiles, FaultClass::interrupted, FaultClass::ioError,
    FaultClass::accessDenied, FaultClass::noSpace,     FaultClass::fileTooLarge,
    FaultClass::outOfMemory,
};
const char* faultClassName(FaultClass fault);
// The errno a failed call is left with (ENOMEM for outOfMemory).
int faultErrno(FaultClass fault);

struct FaultPlan {
    // The call to fail, counted from 1 since the plan was set: among all
    // calls, or among those of `kind` when it is given. 0: none.
    uint64_t atCall = 0;
    std::string kind;
    FaultClass fault = FaultClass::ioError;
    // How many calls in a row fail from there (of `kind` when given, else of
    // any kind).
    uint64_t count = 1;
};

// Sets the plan and starts counting anew; an empty plan only counts.
void setFaultPlan(const FaultPlan& plan);
void clearFaultPlan();
// Calls counted since the plan was set, and their kinds in order when
// recording (off by default: the loop's counting run turns it on).
uint64_t platformCalls();
void recordCallKinds(bool on);
const std::vector<const char*>& recordedCallKinds();
// Above 0 while a call of the layer runs: a test that counts allocations
// leaves the fake's own out.
int fakePlatformDepth();
// How many calls the plan has failed so far.
uint64_t faultsFired();
// Whether a call of this kind can fail with this class at all: a call with no
// way to report an error (closing, the process number) never fails, and only
// calls that allocate throw std::bad_alloc.
bool faultApplies(std::string_view kind, FaultClass fault);

// --- Power loss -------------------------------------------------------------
//
// Each file has what was flushed of it and what was only written; the folder
// has the names made durable by its last flush and the changes since (a file
// made, renamed or removed). A step is one change of either.
uint64_t powerSteps();
// Called after every step, for a test that keeps what a cut there would leave.
void onPowerStep(void (*hook)());
// Folder changes not yet made durable.
size_t pendingFolderChanges();
// What a power cut now would leave: the durable names, then the first `kept`
// of the pending changes (as a disk that writes out of order may keep any of
// them), each file with the bytes last flushed.
std::map<std::string, std::string> survivingFiles(size_t kept = 0);
// The directory replaced by files, as after a restart: no handle, no lock.
void restoreFiles(const std::map<std::string, std::string>& files);
