// The interactive prompt of "hadrok run": line editing and a history file
// with libedit on Linux, a plain prompt on Windows.
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

// Saves the history (Linux).
void stopLineEditor();
