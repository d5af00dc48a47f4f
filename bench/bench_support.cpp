#include "bench_support.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "registry/password_hash.h"
#include "registry/registry_file.h"

const char benchWelcome[] = "Welcome %name% to freq %fnum% (%fname%), home of %fsquad%. "
                            "Your squad: %sq%, your points: %points%";
const char benchPassword[] = "open sesame";

uint64_t hostLinesSent = 0;

extern "C" void countingHost(BotEvent& event) {
    ++hostLinesSent;
    // Keep the text's address alive so the sender can't be optimised away.
    asm volatile("" : : "r"(event.slot[0]), "r"(event.slot[3]) : "memory");
}

std::string readWholeFile(const std::string& name) {
    std::string bytes;
    if (std::FILE* file = std::fopen(name.c_str(), "rb")) {
        char buffer[65536];
        size_t n;
        while ((n = std::fread(buffer, 1, sizeof buffer, file)) != 0)
            bytes.append(buffer, n);
        std::fclose(file);
    }
    return bytes;
}

std::unique_ptr<unsigned char[]> readAndUnscramble(const char* name, size_t& got) {
    got = 0;
    std::FILE* file = std::fopen(name, "rb");
    if (!file) return nullptr;
    std::fseek(file, 0, SEEK_END);
    const size_t size = size_t(std::ftell(file));
    std::fseek(file, 0, SEEK_SET);
    auto buffer = std::make_unique_for_overwrite<unsigned char[]>(size);
    got = std::fread(buffer.get(), 1, size, file);
    std::fclose(file);
    for (size_t offset = 0; offset + 4 <= got; offset += 4) {
        uint32_t word;
        std::memcpy(&word, buffer.get() + offset, 4);
        word ^= recordKey;
        std::memcpy(buffer.get() + offset, &word, 4);
    }
    // Keep the unscrambled words alive, so the loop can't be optimised away.
    asm volatile("" : : "r"(buffer.get()) : "memory");
    return buffer;
}

PlayerRecord makePlayer(const char* name, const char* squad, uint16_t freq, uint16_t ident) {
    PlayerRecord p;
    std::memset(&p, 0, sizeof p);
    p.ident = ident;
    std::strncpy(p.name, name, sizeof p.name - 1);
    std::strncpy(p.squad, squad, sizeof p.squad - 1);
    p.freq = freq;
    p.pointsA = 123456;
    p.pointsB = 7890;
    return p;
}

void connectBot(BotInstance& bot, uint32_t auditLog) {
    bot.handle = 1;
    bot.callback = countingHost;
    bot.iniConfig = {3, 30, 300, auditLog, 0};
    bot.autoSaveCountdown = 0x7FFFFFFF; // no autosave inside a measurement
}

std::unique_ptr<BenchRegistry> makeBenchRegistry(uint32_t records, uint32_t invites) {
    auto bench = std::make_unique<BenchRegistry>();
    FreqRegistry& registry = bench->registry;
    const uint32_t hash = hashPassword(benchPassword, uint32_t(std::strlen(benchPassword)));

    for (uint32_t i = 0; i < records; ++i) {
        const uint16_t freq = uint16_t(100 + i); // all 65,536 numbers at the large size
        const std::string n = std::to_string(i);
        char owner[20] = {};
        std::strncpy(owner, ("owner" + n).c_str(), sizeof owner - 1);
        FreqRecord* r = addFreq(registry, freq, owner, hash);
        setTextField(r->welcome, benchWelcome);
        setTextField(r->freqName, "The " + n + " Squadron");
        setTextField(r->allowedSquad, "squad" + n);
        r->lastUsed = 1700000000;
        bench->targetFreq = freq;
    }

    // Four other players on the target freq, then the spread, then the one
    // invite that admits, last of all.
    const uint32_t onTarget = 4;
    for (uint32_t k = 0; k + 1 < invites; ++k) {
        uint16_t freq = bench->targetFreq;
        if (k >= onTarget) {
            // Any freq but the target, scattered over the registry.
            uint32_t index = uint32_t((uint64_t(k) * 2654435761u) % (records - 1));
            freq = uint16_t(100 + index);
        }
        addInvite(registry, freq, "guest" + std::to_string(k));
    }
    addInvite(registry, bench->targetFreq, "Bob");

    bench->invited = makePlayer("Bob", "Blue", bench->targetFreq, 1);
    bench->stranger = makePlayer("Mallory", "Red", bench->targetFreq, 2);
    return bench;
}

BenchRegistry& benchRegistry(uint32_t records) {
    static std::map<uint32_t, std::unique_ptr<BenchRegistry>> built;
    auto& slot = built[records];
    if (!slot)
        slot = makeBenchRegistry(records, records == largeRecords ? largeInvites : smallInvites);
    return *slot;
}
