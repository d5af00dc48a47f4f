// The program's system code on Windows (system/system_windows.cpp) on the
// system's real calls: a copy whose source can't be opened leaves the target
// as it was, and a file that is no library is refused in words without the
// system's unfilled inserts.
//
//   system_check DIRECTORY
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>

#include "system/files.h"
#include "system/plugin_loader.h"
#include "tests/windows/check_support.h"

namespace {

// Another program holds the source open and shares nothing: the copy fails
// and the target keeps its bytes.
void copyOfASourceThatCannotBeOpened(const std::string& directory) {
    const std::string from = directory + "\\held.teams";
    const std::string to = directory + "\\Zandrel.teams";
    writeFile(from, "source");
    writeFile(to, "target");
    const HANDLE held =
        CreateFileA(from.c_str(), GENERIC_READ, 0, nullptr, OPEN_EXISTING, 0, nullptr);
    CHECK(held != INVALID_HANDLE_VALUE);
    std::string reason;
    CHECK(!copyFileReplacing(from, to, reason));
    std::printf("  a source held open: %s\n", reason.c_str());
    CHECK(!reason.empty());
    CHECK(readFile(to) == "target");
    CloseHandle(held);
    CHECK(copyFileReplacing(from, to, reason));
    CHECK(readFile(to) == "source");
}

void aFileThatIsNoLibrary(const std::string& directory) {
    const std::string path = directory + "\\not-a-plugin.dll";
    writeFile(path, "plain text, no library");
    std::string error;
    void* library = openPluginLibrary(path, error);
    CHECK(library == nullptr);
    std::printf("  a text file as the plug-in: %s\n", error.c_str());
    CHECK(!error.empty());
    CHECK(error.find('%') == std::string::npos);
    if (library) closePluginLibrary(library);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::printf("usage: system_check DIRECTORY\n");
        return 2;
    }
    CreateDirectoryA(argv[1], nullptr);
    char full[MAX_PATH];
    if (!GetFullPathNameA(argv[1], sizeof full, full, nullptr)) return 2;
    copyOfASourceThatCannotBeOpened(full);
    aFileThatIsNoLibrary(full);
    std::printf("the program's system code: %s\n", checksFailed == 0 ? "passed" : "FAILED");
    return checksFailed == 0 ? 0 : 1;
}
