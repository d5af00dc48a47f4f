#include "cli/subcommands.h"

#include <algorithm>
#include <string>

CLI::Validator countValidator(uint64_t maximum) {
    return CLI::Validator(
        [maximum](std::string& value) -> std::string {
            bool digits = !value.empty() && value.size() <= 19 &&
                          std::all_of(value.begin(), value.end(),
                                      [](char c) { return c >= '0' && c <= '9'; });
            if (!digits || std::stoull(value) > maximum)
                return value + " is not a count (a whole number from 0 to " +
                       std::to_string(maximum) + ")";
            return "";
        },
        "N");
}
