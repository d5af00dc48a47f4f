// What a file's bytes look like as text, for the operator's files (scripts,
// freqs.ini, JSON) that Notepad may have saved as "Unicode" (UTF-16) or in a
// legacy code page: each reader that wants UTF-8 says so in one line.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

enum class TextEncoding { utf8, utf16, legacy };

// UTF-16: a UTF-16 byte order mark, or many zero bytes. Legacy: a byte
// sequence that is not UTF-8. Anything else, plain ASCII included: UTF-8.
TextEncoding guessEncoding(std::string_view bytes);

// "NAME is saved as UTF-16 ("Unicode"); save it as UTF-8: ...", one line
// without its line end; empty for UTF-8.
std::string saveAsUtf8Advice(std::string_view name, TextEncoding encoding);
