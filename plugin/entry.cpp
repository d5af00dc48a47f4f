// The plug-in's one export and its process-wide state.
#include <algorithm>

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
        // The host must load on; after a failure the file is left as it is
        // and never saved over, and the first connection says why.
        try {
            startPluginState(state);
        } catch (const std::exception& e) {
            failedStart(&e);
        } catch (...) {
            failedStart(nullptr);
        }
    }
    void failedStart(const std::exception* failure) {
        try {
            noteFailedStart(state, failureText(failure));
        } catch (...) {
            state.store.load.outcome = LoadOutcome::unknown;
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

// An event that failed is told to the operator of its bot, once for each
// kind of failure, and logged; the next event is handled as usual.
void tellFailureOnce(uint32_t handle, const std::string& what) {
    PluginState& state = loaded.state;
    if (std::find(state.failuresTold.begin(), state.failuresTold.end(), what) !=
        state.failuresTold.end())
        return;
    state.failuresTold.push_back(what);
    const std::string line =
        "An event could not be handled (" + what + "); the plug-in goes on with the next one.";
    if (BotInstance* instance = findInstance(instanceList, handle); instance && !instance->disabled)
        echo(*instance, line.c_str());
    auditLog(actorWithoutPlayer(handle, state.auditLogEnabled), "event", noFreq,
             "not handled: " + what);
}

void tellFailure(uint32_t handle, const std::exception* failure) noexcept {
    try {
        tellFailureOnce(handle, failureText(failure));
    } catch (...) {
    }
}

std::string sweepFailed(const std::exception* failure) {
    return "Expiring unused freqs at load failed (" + failureText(failure) +
           "); the next autosave tries again.";
}

void handleOne(BotEvent& event) {
    // Nothing may cross into the host's process as an exception.
    try {
        // Not in the constructor: the load's sweep writes files, which is no
        // work for the system's loader lock. Whatever becomes of it, the
        // event that brought it is handled.
        if (!loaded.state.loadSwept) {
            try {
                expireAtLoad(loaded.state);
            } catch (const std::exception& e) {
                loaded.state.loadSweepNotice = sweepFailed(&e);
            } catch (...) {
                loaded.state.loadSweepNotice = sweepFailed(nullptr);
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
    } catch (const std::exception& e) {
        tellFailure(event.handle, &e);
    } catch (...) {
        tellFailure(event.handle, nullptr);
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
