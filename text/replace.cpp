#include "text/replace.h"

#include <string>
#include <string_view>

#include "text/ascii.h"

namespace {

// The first exact occurrence of token at or after from, or npos.
size_t findIn(std::string_view string, std::string_view token, size_t from) {
    if (string.size() < token.size()) return std::string_view::npos;
    for (size_t p = from; p + token.size() <= string.size(); ++p)
        if (string.compare(p, token.size(), token) == 0) return p;
    return std::string_view::npos;
}

} // namespace

// The search always resumes in the source after the replaced occurrence, so a
// replacement that contains the token is not replaced again.
Text replaceAll(const char* source, const char* token, const char* replacement) {
    std::string_view s(source ? source : "", textLength(source));
    std::string_view t(token ? token : "", textLength(token));
    std::string_view r(replacement ? replacement : "", textLength(replacement));
    // An empty token would match everywhere without ever moving on.
    if (t.empty()) return Text(s);

    std::string result;
    size_t read = 0;
    for (size_t p = findIn(s, t, read); p != std::string_view::npos; p = findIn(s, t, read)) {
        result.append(s.substr(read, p - read));
        result.append(r);
        read = p + t.size();
    }
    result.append(s.substr(read));
    return Text(std::string_view(result));
}
