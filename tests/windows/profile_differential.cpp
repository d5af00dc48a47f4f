// The portable profile reader (profileStringFromText, used on Linux) against
// the system's own GetPrivateProfileStringA, on the same file texts: every
// case writes its text to a file, asks both readers the same question and
// requires the same length and the same bytes in the buffer.
//
//   profile_differential [DIRECTORY]   (default: the current directory)
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "platform/profile_reader.h"

using namespace std::string_literals;

namespace {

struct Case {
    const char* name;
    std::string text;
    const char* section;
    const char* key;
    const char* fallback;
    uint32_t size;
    bool noFile = false;
    // Where this reader knowingly answers otherwise: its answer. The system's
    // is printed beside it.
    const char* deliberately = nullptr;
};

const std::string bigValue(4000, '7');

const Case cases[] = {
    // The plug-in's own file and its usual mistakes.
    {"plain", "[Config]\r\nMaxOwnedFreqs=5\r\nInviteExpireSeconds=60\r\n", "Config",
     "InviteExpireSeconds", "30", 16},
    {"missing file", "", "Config", "MaxOwnedFreqs", "3", 16, true},
    {"empty file", "", "Config", "MaxOwnedFreqs", "3", 16},
    {"missing section", "[Other]\nMaxOwnedFreqs=5\n", "Config", "MaxOwnedFreqs", "3", 16},
    {"missing key", "[Config]\nAutoSaveDelay=10\n", "Config", "MaxOwnedFreqs", "3", 16},
    {"empty value", "[Config]\nMaxOwnedFreqs=\n", "Config", "MaxOwnedFreqs", "3", 16},
    {"blank value", "[Config]\nK= \t \n", "Config", "K", "300", 16},
    {"no trailing newline", "[Config]\nJ=1\nK=5", "Config", "K", "d", 16},
    {"section as last line", "[Config]", "Config", "K", "d", 16},
    {"value on the last line cut", "[Config]\nK=12345678901234567890", "Config", "K", "d", 16},

    // Case of names.
    {"names ignore case", "[cONFIG]\nmaxownedFREQS=5\n", "Config", "MaxOwnedFreqs", "3", 16},
    {"wanted names in another case", "[Config]\nMaxOwnedFreqs=5\n", "CONFIG", "maxownedfreqs", "3",
     16},
    {"non-ASCII letters differ in case", "[Config]\n\xC4K=5\n", "Config", "\xE4K", "d", 16},

    // Spaces and tabs.
    {"blanks around a key and value", "[Config]\n \tMaxOwnedFreqs \t= \t7 \t\n", "Config",
     "MaxOwnedFreqs", "3", 16},
    {"blanks inside the brackets", "[ Config ]\nK=5\n", "Config", "K", "d", 16},
    {"tabs inside the brackets", "[\tConfig\t]\nK=5\n", "Config", "K", "d", 16},
    {"blanks before the bracket", "  \t[Config]\nK=5\n", "Config", "K", "d", 16},
    {"blanks around the wanted names", "[Config]\nK=5\n", " Config\t", "\tK ", "d", 16},
    {"blanks inside a value kept", "[Config]\nK=10 minutes\n", "Config", "K", "d", 16},
    {"blank inside a key name", "[Config]\nMax Owned=4\n", "Config", "Max Owned", "d", 16},
    {"vertical tab and form feed", "[Config]\n\vK\f=\v5\f\n", "Config", "K", "d", 16},
    {"no-break space around a value",
     "[Config]\nK=\xA0"
     "5\xA0\n",
     "Config", "K", "d", 16},
    {"end-of-file byte around a value",
     "[Config]\nK=\x1a"
     "5\x1a\n",
     "Config", "K", "d", 16},

    // Quotes.
    {"double quotes", "[Config]\nK=\"a b\"\n", "Config", "K", "d", 16},
    {"single quotes", "[Config]\nK='12'\n", "Config", "K", "d", 16},
    {"blanks inside quotes kept", "[Config]\nK=\" 5 \"\n", "Config", "K", "d", 16},
    {"blanks outside quotes", "[Config]\nK=  '5'  \n", "Config", "K", "d", 16},
    {"only one pair", "[Config]\nK=\"\"5\"\"\n", "Config", "K", "d", 16},
    {"empty quotes", "[Config]\nK=\"\"\n", "Config", "K", "d", 16},
    {"mismatched quotes", "[Config]\nK=\"5'\n", "Config", "K", "d", 16},
    {"lone quote", "[Config]\nK=\"\n", "Config", "K", "d", 16},
    {"quote at the end only", "[Config]\nK=5\"\n", "Config", "K", "d", 16},
    {"quotes around a key", "[Config]\n\"K\"=5\n", "Config", "K", "d", 16},
    {"quoted value cut", "[Config]\nK=\"123456\"\n", "Config", "K", "d", 4},
    {"quoted value one longer than the buffer", "[Config]\nK=\"1234\"\n", "Config", "K", "d", 4},
    // The system drops the last character of a quoted value that is exactly
    // one byte shorter than the buffer, though it fits.
    {"quoted value just fits", "[Config]\nK=\"123\"\n", "Config", "K", "d", 4, false, "123"},
    {"quoted 15 characters", "[Config]\nK=\"123456789012345\"\n", "Config", "K", "d", 16, false,
     "123456789012345"},
    {"quoted 16 characters", "[Config]\nK=\"1234567890123456\"\n", "Config", "K", "d", 16},

    // Comments.
    {"comment line", "[Config]\n;K=9\nK=4\n", "Config", "K", "d", 16},
    {"indented comment", "[Config]\n \t; K=9\nK=4\n", "Config", "K", "d", 16},
    {"commented section", ";[Config]\nK=9\n[Config]\nK=4\n", "Config", "K", "d", 16},
    {"comment after a value", "[Config]\nAutoSaveDelay=300 ; five minutes\n", "Config",
     "AutoSaveDelay", "300", 32},
    {"comment after a section", "[Config] ; settings\nK=5\n", "Config", "K", "d", 16},
    {"comment after a section with brackets", "[Config] ; [x]\nK=5\n", "Config", "K", "d", 16},
    {"key on the section line", "[Config]K=5\nJ=6\n", "Config", "K", "d", 16},
    {"'#' line", "[Config]\n#K=9\n", "Config", "K", "d", 16},
    {"asking for a commented key", "[Config]\n;K=9\n", "Config", ";K", "d", 16},

    // Duplicate sections and keys, and which section a line belongs to.
    {"first key wins", "[Config]\nK=1\nK=2\n", "Config", "K", "d", 16},
    {"duplicate key in another case", "[Config]\nk=1\nK=2\n", "Config", "K", "d", 16},
    {"duplicate section, key in the second", "[Config]\nJ=1\n[config]\nK=2\n", "Config", "K", "d",
     16},
    {"duplicate section, key in both", "[Config]\nK=1\n[Config]\nK=2\n", "Config", "K", "d", 16},
    {"wanted section second", "[Other]\nK=1\n[Config]\nK=2\n", "Config", "K", "d", 16},
    {"key after the section ended", "[Config]\nJ=1\n[Other]\nK=2\n", "Config", "K", "d", 16},
    {"key before any section", "K=1\n[Config]\nJ=2\n", "Config", "K", "d", 16},
    {"section name is whole", "[Config2]\nK=1\n", "Config", "K", "d", 16},
    {"key name is whole", "[Config]\nMaxOwnedFreqsX=1\nMaxOwned=2\nMaxOwnedFreqs=3\n", "Config",
     "MaxOwnedFreqs", "d", 16},
    {"line without '=' before the key", "[Config]\nK\nK=5\n", "Config", "K", "d", 16},
    {"line without '=' alone", "[Config]\nK\n", "Config", "K", "d", 16},
    {"later '=' belongs to the value", "[Config]\nK=a=b\n", "Config", "K", "d", 16},
    {"empty key name", "[Config]\n=5\nK=6\n", "Config", "K", "d", 16},
    {"section line without ']'", "[Config]\n[Other\nK=5\n", "Config", "K", "d", 16},
    {"unclosed section", "[Config\nK=5\n", "Config", "K", "d", 16},
    {"']' inside a section name", "[Con]fig]\nK=5\n", "Con]fig", "K", "d", 16},
    {"empty section name", "[]\nK=1\n[Config]\nK=2\n", "Config", "K", "d", 16},

    // Line ends and odd bytes.
    {"CRLF", "[Config]\r\nK=5\r\nJ=6\r\n", "Config", "K", "d", 16},
    {"CRLF with quotes", "[Config]\r\nK=\"5\"\r\n", "Config", "K", "d", 16},
    {"lone CR", "[Config]\rK=5\r", "Config", "K", "d", 16},
    {"lone CR then LF lines", "[Config]\rK=5\nJ=6\n", "Config", "J", "d", 16},
    {"lone CR before LF lines", "[Config]\rK=5\nJ=6\n", "Config", "K", "d", 16},
    {"CR inside a value", "[Config]\nK=5\r6\n", "Config", "K", "d", 16},
    {"blank lines", "\n\n  \r\n[Config]\n\n\t\nK=5", "Config", "K", "d", 16},
    {"UTF-8 byte order mark", "\xEF\xBB\xBF[Config]\nK=5\n", "Config", "K", "d", 16},
    {"UTF-16 with byte order mark",
     "\xFF\xFE[\0C\0o\0n\0f\0i\0g\0]\0\r\0\n\0K\0=\0"
     "5\0\r\0\n\0"s,
     "Config", "K", "d", 16},
    {"UTF-16 big-endian",
     "\xFE\xFF\0[\0C\0o\0n\0f\0i\0g\0]\0\n\0K\0=\0"
     "5\0\n"s,
     "Config", "K", "d", 16},
    {"UTF-16 value beyond ASCII", "\xFF\xFE[\0C\0]\0\n\0K\0=\0\xE4\0\x00\x4E\n\0"s, "C", "K", "d",
     16},
    {"UTF-16 without byte order mark",
     "[\0C\0]\0\n\0K\0=\0"
     "5\0\n\0"s,
     "C", "K", "d", 16},
    {"high bytes", "[Config]\nK=\xE4\xF6\xFF\n", "Config", "K", "d", 16},
    {"NUL inside a value", "[Config]\nK=5\0junk\n"s, "Config", "K", "d", 16},
    {"NUL right after '='", "[Config]\nK=\0junk\n"s, "Config", "K", "d", 16},
    {"NUL lines before", "\0\0\n[Config]\n\0\nK=5\n"s, "Config", "K", "d", 16},

    // Long values and small buffers.
    {"value cut", "[Config]\nK=1234567890123456789\n", "Config", "K", "d", 16},
    {"value just fits", "[Config]\nK=123456789012345\n", "Config", "K", "d", 16},
    {"long value", "[Config]\nK=" + bigValue + "\nJ=2\n", "Config", "K", "d", 16},
    {"key after a long value", "[Config]\nL=" + bigValue + "\nK=2\n", "Config", "K", "d", 16},
    {"one byte buffer", "[Config]\nK=5\n", "Config", "K", "d", 1},
    {"two byte buffer", "[Config]\nK=56\n", "Config", "K", "d", 2},
    {"default cut", "", "Config", "K", "12345", 3},
    {"default loses trailing spaces", "", "Config", "K", "30  ", 16},
    {"default keeps leading spaces", "", "Config", "K", " 30", 16},
    {"default of blanks", "", "Config", "K", "   ", 16},
    {"empty default", "[Config]\n", "Config", "K", "", 16},
    {"null default", "[Config]\n", "Config", "K", nullptr, 16},
};

std::string shown(const char* bytes, size_t length) {
    std::string text = "\"";
    for (size_t i = 0; i < length; ++i) {
        const auto c = static_cast<unsigned char>(bytes[i]);
        if (c < 0x20 || c >= 0x7F || c == '"' || c == '\\') {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\x%02X", c);
            text += escape;
        } else {
            text += static_cast<char>(c);
        }
    }
    return text + "\"";
}

bool writeFile(const std::string& path, const std::string& text) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool ok = std::fwrite(text.data(), 1, text.size(), file) == text.size();
    return std::fclose(file) == 0 && ok;
}

} // namespace

int main(int argc, char** argv) {
    char directory[MAX_PATH];
    const char* base = argc > 1 ? argv[1] : ".";
    if (!GetFullPathNameA(base, sizeof directory, directory, nullptr)) {
        std::printf("cannot resolve %s\n", base);
        return 2;
    }
    CreateDirectoryA(directory, nullptr);

    int passed = 0;
    int failed = 0;
    int number = 0;
    for (const Case& c : cases) {
        // One file per case: the system caches profile files, so a file
        // rewritten at once could be read from the cache.
        const std::string path =
            std::string(directory) + "\\profile-case-" + std::to_string(++number) + ".ini";
        DeleteFileA(path.c_str());
        if (!c.noFile && !writeFile(path, c.text)) {
            std::printf("FAIL: %s: cannot write %s\n", c.name, path.c_str());
            ++failed;
            continue;
        }

        // Both buffers start full of a mark byte, so bytes written past the
        // terminator or past the size are seen too.
        std::vector<char> system(c.size + 8, '#');
        std::vector<char> ours(c.size + 8, '#');
        const DWORD systemLength = GetPrivateProfileStringA(c.section, c.key, c.fallback,
                                                            system.data(), c.size, path.c_str());
        const uint32_t ourLength =
            profileStringFromText(c.noFile ? nullptr : c.text.data(), c.text.size(), c.section,
                                  c.key, c.fallback, ours.data(), c.size);
        DeleteFileA(path.c_str());

        if (c.deliberately) {
            const std::string want = c.deliberately;
            const bool ok =
                ourLength == want.size() && std::string(ours.data()) == want && ours[c.size] == '#';
            std::printf("%s: %s (buffer %u): ours %s, the system's %s\n", ok ? "known" : "FAIL",
                        c.name, c.size, shown(ours.data(), ourLength).c_str(),
                        shown(system.data(), systemLength).c_str());
            ++(ok ? passed : failed);
            continue;
        }
        if (systemLength == ourLength && system == ours) {
            ++passed;
            continue;
        }
        ++failed;
        std::printf("FAIL: %s (buffer %u)\n  system: %lu %s\n  ours:   %u %s\n", c.name, c.size,
                    static_cast<unsigned long>(systemLength),
                    shown(system.data(), system.size()).c_str(), ourLength,
                    shown(ours.data(), ours.size()).c_str());
    }
    std::printf("profile reader against GetPrivateProfileStringA:\n%d passed, %d failed\n", passed,
                failed);
    return failed == 0 ? 0 : 1;
}
