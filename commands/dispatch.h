// The dispatch of the host's parsed commands and the context every handler
// works with: the <freq>:<rest> argument form, the checks a command's row asks
// for, the replies and audit lines, and the search for a player by name.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "hostlink/bot_instance.h"
#include "registry/audit_log.h"
#include "registry/freq_registry.h"
#include "registry/registry_store.h"
#include "text/text.h"

struct CommandRow;

struct FreqArgument {
    int32_t freq = 0;     // as typed, wrapped to 32 bits
    bool wrapped = false; // the typed number lies outside the 32-bit range
    Text rest;
};

// What every command handler works with. The dispatch fills `typed` and
// `record` as the command's row asks, before the handler runs.
struct CommandContext {
    BotInstance& instance;
    FreqRegistry& registry;
    const PlayerRecord& player;
    const char* argument;            // never null: empty when the player typed nothing
    RegistryStore* store = nullptr;  // the registry's files; none where nothing is kept
    AuditLog* log = nullptr;         // the audit log; none where nothing is logged
    const CommandRow* row = nullptr; // the command's row in commands/command_table.cpp
    FreqArgument typed{};            // the freq typed and what follows its colon
    FreqRecord* record = nullptr;    // the registered freq typed, when the row checks it
};

// One private line to the commanding player.
void reply(const CommandContext& context, const char* text);

// One line in the audit log for a change the commanding player made.
void audit(const CommandContext& context, const char* command, int32_t freq,
           std::string_view change);

// A change the commanding player may repeat at will: written in full the
// first few times in his minute, then counted (registry/refusal_counts.h).
// `last` is what it set, named in the count's line.
void auditRepeat(const CommandContext& context, RepeatKind kind, int32_t freq,
                 std::string_view change, std::string_view last = {});

// A wrong password the commanding player typed: counted in the audit log
// rather than written each time, as he may repeat it at will.
void auditWrongPassword(const CommandContext& context, int32_t freq);

// "<what> "old" -> "new"", for the audit log.
Text changedFromTo(const char* what, std::string_view before, std::string_view after);

inline bool isOperator(uint32_t level) {
    return level >= 1 && level <= 12;
}
constexpr uint32_t highestServedLevel = 12;

void handleCommand(BotInstance& instance, FreqRegistry& registry, const PlayerRecord* player,
                   const CommandRecord* command, RegistryStore* store = nullptr,
                   AuditLog* log = nullptr);

// The registry as it stands, written before an operator command deletes
// freqs so that he can undo it. Returns the copy's name, or empty when none
// could be made: then the operator who typed the command, the console and
// the audit log are told why, and the command goes ahead.
std::string undoSnapshot(const CommandContext& context, const char* kind);

enum class ColonRule { Strict, Lenient };

// Splits "<freq>:<rest>"; false on a syntax error.
bool splitFreqArgument(const char* argument, ColonRule rule, FreqArgument& result);

// The first player in the host's arena list whose name equals name, ignoring case.
const PlayerRecord* findPlayerByName(const BotInstance& instance, std::string_view name);
