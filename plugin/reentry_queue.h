// A host may call talk again from inside its callback, while an earlier call
// on the same thread is still running (it handles a queued command, or
// another bot's tick, as it sends a chat line). Such a call is not handled
// there, in the middle of a walk over the registry, but queued and handled
// in order once the running call has done its work, before it returns.
// Calls from another thread are not supported.
#pragma once

#include <cstddef>
#include <deque>
#include <string>

#include "hostlink/host_interface.h"

// A queued call, with copies of what it will read from records that the host
// may free once the inner call returns: the player's record and the command's
// word and argument. The callback, the player list and the arena settings,
// which the host keeps for good, stay pointers.
struct QueuedEvent {
    BotEvent event{};
    int playerSlot = -1; // the slot that pointed to player, or -1
    PlayerRecord player{};
    int commandSlot = -1; // the slot that pointed to a command record, or -1
    bool hasWord = false;
    bool hasArgument = false;
    std::string word;
    std::string argument;
    CommandRecord command{}; // filled from the copies when the call is taken out
};

// More calls than this waiting at once means the host keeps calling from
// every callback; the rest are dropped.
constexpr size_t maxQueuedEvents = 65536;

struct ReentryQueue {
    bool running = false; // a call is being handled
    bool noted = false;   // the audit log was told that the host re-enters
    bool dropNoted = false;
    std::deque<QueuedEvent> events;
};

// What queueEvent did with a call.
enum class Queued { First, Again, Dropped };

// Copies event into the queue: First for the first re-entry the process has
// seen (the caller notes it in the audit log), Dropped when the queue is full.
Queued queueEvent(ReentryQueue& queue, const BotEvent& event);

// Takes the oldest queued call out into held and returns its event, whose
// slots point into held where the host's records were copied.
bool takeQueuedEvent(ReentryQueue& queue, QueuedEvent& held, BotEvent& event);
