#include "host/line_editor.h"

#include <cstdio>
#include <cstdlib>
#include <iostream>
#include <memory>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#else
#include <editline/readline.h>
#include <unistd.h>
#endif

#include "host/script_text.h"

#ifdef _WIN32

const char endOfInputKeys[] = "Ctrl-Z and Enter";

void useLfLineEnds() {
    std::fflush(stdout);
    std::fflush(stderr);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
}

bool inputIsTerminal() {
    return _isatty(_fileno(stdin)) != 0;
}

void startLineEditor() {}

bool readInputLine(const char* prompt, std::string& line) {
    std::fputs(prompt, stdout);
    std::fflush(stdout);
    if (!std::getline(std::cin, line)) return false;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return true;
}

void stopLineEditor() {}

#else

namespace {

std::string historyPath() {
    const char* home = std::getenv("HOME");
    return home && *home ? std::string(home) + "/.hadrok_history" : std::string();
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
    if (!trimBlanks(line).empty()) add_history(line.c_str());
    return true;
}

void stopLineEditor() {
    std::string history = historyPath();
    if (!history.empty()) write_history(history.c_str());
}

#endif
