// The three settings of section Config in freqs.ini, read at each connection.
#pragma once

#include <cstdint>

struct BotInstance;

struct PluginConfig {
    uint32_t maxOwnedFreqs = 0;
    uint32_t inviteExpireSeconds = 0;
    uint32_t autoSaveDelay = 0;
    uint32_t auditLog = 0; // 0 turns the audit log off
    uint32_t backups = 0;  // dated registry backups kept; 0 turns them off
};

// Reads freqs.ini from the current directory into the instance's config,
// echoing one error line for each value that is not numeric.
void loadConfig(BotInstance& instance);
