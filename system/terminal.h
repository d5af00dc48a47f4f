// The program's terminal: the interactive prompt of "hadrok run" (line
// editing and a history file with libedit on Linux, a plain prompt on
// Windows), and the no-echo prompt of the registry tools. Defined in
// system_posix.cpp and system_windows.cpp.
#pragma once

#include <string>

// Standard output and error write LF line ends on every system (Windows
// would turn them into CR LF), so transcripts are the same bytes everywhere.
void useLfLineEnds();

// The keys that end the input at the prompt, for the greeting.
extern const char endOfInputKeys[];

// Whether standard input is a terminal, so that a prompt makes sense.
bool inputIsTerminal();

// Loads the history (Linux); call once before the first line.
void startLineEditor();

// Shows the prompt and reads one line without its line end; false at the end
// of the input.
bool readInputLine(const char* prompt, std::string& line);

// Adds a line read at the prompt to the history (Linux).
void rememberInputLine(const std::string& line);

// Saves the history (Linux).
void stopLineEditor();

// Shows the prompt on standard error and reads one line of standard input
// without its line end, with echo off while standard input is a terminal;
// false at the end of the input. Echo comes back whatever ends the reading,
// a signal that ends the program included.
bool readHiddenLine(const char* prompt, std::string& line);

// True when the program's console closes as it ends: on Windows, started by a
// double-click, so the console lists this process alone, and read from it.
// Never on Linux, where a program started so has no window to keep open.
bool consoleClosesAtExit();

// Waits until the operator presses Enter (or the input ends).
void waitForEnter();
