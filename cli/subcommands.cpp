#include "cli/subcommands.h"

#include <charconv>
#include <string>

CLI::Validator countValidator(uint64_t maximum) {
    return CLI::Validator(
        [maximum](std::string& value) -> std::string {
            // Digits only, and no more than 19 of them.
            uint64_t count = 0;
            const char* end = value.data() + value.size();
            const auto read = std::from_chars(value.data(), end, count);
            if (value.size() > 19 || read.ec != std::errc() || read.ptr != end || count > maximum)
                return value + " is not a count (a whole number from 0 to " +
                       std::to_string(maximum) + ")";
            return "";
        },
        "N");
}
