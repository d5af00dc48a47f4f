// Arbitrary bytes as the registry file. A file of whole records must load and
// save back byte for byte; any other must be kept aside untouched, leaving an
// empty registry. The loaded records, whose text fields need not end within
// their width, then go through the listing and the admission with welcome.
#include <cstring>
#include <string>

#include "commands/dispatch.h"
#include "fuzz/fuzz_support.h"
#include "plugin/event_handling.h"
#include "registry/registry_file.h"

namespace {

extern "C" void checkSent(BotEvent& e) {
    const char* text = reinterpret_cast<const char*>(e.code == Echo ? e.slot[0] : e.slot[3]);
    FUZZ_CHECK(text && std::strlen(text) < 100000); // the read itself is checked by ASan
}

void showRecords(PluginState& state) {
    FreqRegistry& registry = state.registry;
    PlayerRecord player{};
    player.operatorLevel = 1; // operators see the last-used stamps too
    PlayerNode node{&player, nullptr};
    PlayerNode* head = &node;
    BotInstance bot;
    bot.handle = 1;
    bot.callback = checkSent;
    bot.playerList = &head;
    CommandRecord freqs{{}, "freqs", ""};
    handleCommand(bot, registry, &player, &freqs);
    // As each owner, join the record's freq: the admission and welcome read every field.
    for (FreqRecord* r = registry.freqs.first(); r; r = registry.freqs.next(r)) {
        std::memcpy(player.name, r->owner, sizeof player.name);
        player.freq = r->freq;
        BotEvent change{1, PlayerFreqChange, {reinterpret_cast<uintptr_t>(&player)}};
        handleEvent(bot, state, change);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    clearFakeFiles();
    std::string bytes(reinterpret_cast<const char*>(data), size);
    writeFile(registryFileName, bytes);

    PluginState state;
    FreqRegistry& registry = state.registry;
    openRegistryStore(state.store);
    const LoadReport& load = loadRegistryFile(state.store, registry);
    if (size % freqRecordSize == 0) {
        FUZZ_CHECK(load.outcome == LoadOutcome::loaded &&
                   registry.freqs.count() == size / freqRecordSize);
        FUZZ_CHECK(saveRegistryFile(state.store, registry, 0).status == SaveStatus::saved &&
                   readFile(registryFileName) == bytes);
        showRecords(state);
    } else {
        FUZZ_CHECK(load.outcome == LoadOutcome::keptAside && registry.freqs.count() == 0);
        FUZZ_CHECK(load.keptAs == std::string(registryFileName) + ".damaged");
        FUZZ_CHECK(!fakeFile(registryFileName));
        FUZZ_CHECK(readFile(load.keptAs.c_str()) == bytes);
    }
    closeRegistryStore(state.store);
    return 0;
}
