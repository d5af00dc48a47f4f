#include "cli/subcommands.h"

#include <charconv>
#include <string>

namespace {

CLI::Validator wholeNumberValidator(uint64_t maximum, std::string what) {
    return CLI::Validator(
        [maximum, what](std::string& value) -> std::string {
            // Digits only, and no more than 19 of them.
            uint64_t count = 0;
            const char* end = value.data() + value.size();
            const auto read = std::from_chars(value.data(), end, count);
            if (value.size() > 19 || read.ec != std::errc() || read.ptr != end || count > maximum)
                return value + " is not " + what + " (a whole number from 0 to " +
                       std::to_string(maximum) + ")";
            return "";
        },
        "N");
}

} // namespace

CLI::Validator countValidator(uint64_t maximum) {
    return wholeNumberValidator(maximum, "a count");
}

CLI::Validator freqValidator() {
    return wholeNumberValidator(65535, "a freq number");
}
