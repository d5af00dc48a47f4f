// The simulator's limits on what a script may make it hold, so that a typo in
// a repeat count or a runaway script can't exhaust memory.
//
// HADROK_RUN_SMALL_BUDGETS=1 in the environment divides each byte budget by
// 1024 (a MiB becomes a KiB, and the messages say so): for the tests, which
// prove every limit without building gigabytes. Everything else plays alike.
#pragma once

#include <cstddef>
#include <string>

struct ScriptBudgets {
    size_t scriptLine;  // longest script line; a longer one is not read into memory
    size_t shownFile;   // largest file "show" prints
    size_t decodedText; // longest text one escape form may build
    size_t lineText;    // what all the texts of one line may add up to
    size_t runText;     // and those of one whole run
};

// Read from the environment at the first call, the same for the whole run.
const ScriptBudgets& scriptBudgets();

// A budget as its messages name it: "16 MiB", or "16 KiB" when small.
std::string budgetText(size_t bytes);
