// The plug-in's one export and its process-wide state.
#include "hostlink/bot_instance.h"
#include "plugin/event_handling.h"
#include "plugin/reentry_queue.h"
#include "registry/audit_log.h"

#if defined(_WIN32)
#define HADROK_EXPORT __declspec(dllexport)
#else
#define HADROK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Made when the library is loaded (the lock, then the registry file) and
// ended when it is unloaded (the last save); being declared first, it
// outlives the bot instances.
struct LoadedPlugin {
    PluginState state;
    LoadedPlugin() {
        try {
            startPluginState(state);
        } catch (...) {
            // The host must load on; the load's outcome says what was found.
        }
    }
    ~LoadedPlugin() {
        try {
            stopPluginState(state);
        } catch (...) {
        }
    }
};

LoadedPlugin loaded;
BotInstanceList instanceList;
ReentryQueue reentry;

// A call made while another runs waits for it; the operator learns once
// that the host does this.
void deferEvent(const BotEvent& event) {
    try {
        const Queued queued = queueEvent(reentry, event);
        const AuditActor bot = actorWithoutPlayer(event.handle, loaded.state.auditLogEnabled);
        if (queued == Queued::First)
            auditLog(bot, "reentry", noFreq,
                     "the host called the plug-in again before a call had returned; such calls "
                     "are handled in turn once the call before them is over");
        if (queued == Queued::Dropped && !reentry.dropNoted) {
            reentry.dropNoted = true;
            auditLog(bot, "reentry", noFreq,
                     "more than 65536 calls waited at once; calls beyond that are dropped");
        }
    } catch (...) {
    }
}

void handleOne(BotEvent& event) {
    // Nothing may cross into the host's process as an exception: a failure
    // ends this one event quietly.
    try {
        // Not in the constructor: the load's sweep writes files, which is no
        // work for the system's loader lock. Whatever becomes of it, the
        // event that brought it is handled.
        if (!loaded.state.loadSwept) {
            try {
                expireAtLoad(loaded.state);
            } catch (...) {
            }
        }
        BotInstance* instance = findInstance(instanceList, event.handle);
        if (!instance) {
            auto created = std::make_unique<BotInstance>();
            created->handle = event.handle;
            instanceList.instances.push_back(std::move(created));
            instance = instanceList.instances.back().get();
        }
        handleEvent(*instance, loaded.state, event);
    } catch (...) {
    }
}

} // namespace

extern "C" HADROK_EXPORT void talk(BotEvent& event) {
    if (reentry.running) return deferEvent(event);
    reentry.running = true;
    handleOne(event);
    QueuedEvent held;
    BotEvent next{};
    while (takeQueuedEvent(reentry, held, next))
        handleOne(next);
    reentry.running = false;
}
