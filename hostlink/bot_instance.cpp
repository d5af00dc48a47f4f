#include "hostlink/bot_instance.h"

#include <new>

BotInstance* findInstance(BotInstanceList& list, uint32_t handle) {
    if (auto it = list.found.find(handle); it != list.found.end()) return it->second;
    for (auto& instance : list.instances) {
        if (instance->handle == handle) {
            // Only a shortcut: failing to remember it is no failure to find it.
            try {
                list.found.emplace(handle, instance.get());
            } catch (const std::bad_alloc&) {
            }
            return instance.get();
        }
    }
    return nullptr;
}

void sendEvent(BotInstance& instance, BotEvent& event) {
    if (!instance.callback || instance.handle == 0) return;
    event.handle = instance.handle;
    instance.callback(event);
}

void echo(BotInstance& instance, const char* text) {
    BotEvent event{};
    event.code = Echo;
    event.slot[0] = reinterpret_cast<uintptr_t>(text);
    sendEvent(instance, event);
}

static void say(BotInstance& instance, SayMode mode, uint32_t target, const char* text) {
    BotEvent event{};
    event.code = Say;
    event.slot[0] = mode;
    event.slot[2] = target;
    event.slot[3] = reinterpret_cast<uintptr_t>(text);
    sendEvent(instance, event);
}

void sendPrivate(BotInstance& instance, const PlayerRecord& player, const char* text) {
    say(instance, PrivateMessage, player.ident, text);
}

void sendToFreq(BotInstance& instance, uint16_t freq, const char* text) {
    say(instance, FreqMessage, freq, text);
}
