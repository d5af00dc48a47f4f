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

namespace {

int failed = 0;

void check(bool ok, const char* what, int line) {
    if (ok) return;
    ++failed;
    std::printf("FAIL: line %d: %s\n", line, what);
}
#define CHECK(condition) check((condition), #condition, __LINE__)

void writeFile(const std::string& path, const std::string& contents) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return;
    std::fwrite(contents.data(), 1, contents.size(), file);
    std::fclose(file);
}

std::string readFile(const std::string& path) {
    std::FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return "<missing>";
    std::string contents;
    char chunk[256];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;)
        contents.append(chunk, n);
    std::fclose(file);
    return contents;
}

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
    std::printf("the program's system code: %s\n", failed == 0 ? "passed" : "FAILED");
    return failed == 0 ? 0 : 1;
}
