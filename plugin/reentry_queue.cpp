#include "plugin/reentry_queue.h"

#include <utility>

namespace {

// The slots of an event that point to a player's record and to a command
// record, as the event's handler reads them; -1 for none.
void recordSlots(uint32_t code, int& playerSlot, int& commandSlot) {
    playerSlot = -1;
    commandSlot = -1;
    switch (code) {
    case ArenaEnter:
        playerSlot = 1;
        break;
    case PlayerFreqChange:
        playerSlot = 0;
        break;
    case Command:
    case HelpRequest:
        playerSlot = 0;
        commandSlot = 1;
        break;
    default:
        break;
    }
}

} // namespace

Queued queueEvent(ReentryQueue& queue, const BotEvent& event) {
    if (queue.events.size() >= maxQueuedEvents) return Queued::Dropped;
    QueuedEvent held;
    held.event = event;
    int playerSlot = -1, commandSlot = -1;
    recordSlots(event.code, playerSlot, commandSlot);
    if (playerSlot >= 0 && event.slot[playerSlot] != 0) {
        held.playerSlot = playerSlot;
        held.player = *reinterpret_cast<const PlayerRecord*>(event.slot[playerSlot]);
    }
    if (commandSlot >= 0 && event.slot[commandSlot] != 0) {
        const auto& command = *reinterpret_cast<const CommandRecord*>(event.slot[commandSlot]);
        held.commandSlot = commandSlot;
        held.hasWord = command.word != nullptr;
        held.hasArgument = command.argument != nullptr;
        if (held.hasWord) held.word = command.word;
        if (held.hasArgument) held.argument = command.argument;
    }
    queue.events.push_back(std::move(held));
    if (queue.noted) return Queued::Again;
    queue.noted = true;
    return Queued::First;
}

bool takeQueuedEvent(ReentryQueue& queue, QueuedEvent& held, BotEvent& event) {
    if (queue.events.empty()) return false;
    held = std::move(queue.events.front());
    queue.events.pop_front();
    event = held.event;
    if (held.playerSlot >= 0)
        event.slot[held.playerSlot] = reinterpret_cast<uintptr_t>(&held.player);
    if (held.commandSlot >= 0) {
        held.command = CommandRecord{};
        held.command.word = held.hasWord ? held.word.c_str() : nullptr;
        held.command.argument = held.hasArgument ? held.argument.c_str() : nullptr;
        event.slot[held.commandSlot] = reinterpret_cast<uintptr_t>(&held.command);
    }
    return true;
}
