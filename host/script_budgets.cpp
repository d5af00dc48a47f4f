#include "host/script_budgets.h"

#include <cstdlib>
#include <string_view>

namespace {

constexpr size_t mib = size_t{1} << 20;
constexpr ScriptBudgets full{16 * mib, 16 * mib, 64 * mib, 64 * mib, 1024 * mib};

ScriptBudgets chosen() {
    const char* small = std::getenv("HADROK_RUN_SMALL_BUDGETS");
    if (!small || std::string_view(small) != "1") return full;
    return {full.scriptLine >> 10, full.shownFile >> 10, full.decodedText >> 10,
            full.lineText >> 10, full.runText >> 10};
}

} // namespace

const ScriptBudgets& scriptBudgets() {
    static const ScriptBudgets budgets = chosen();
    return budgets;
}

std::string budgetText(size_t bytes) {
    if (bytes >= mib) return std::to_string(bytes / mib) + " MiB";
    return std::to_string(bytes >> 10) + " KiB";
}
