// The plug-in's one export and its process-wide state.
#include "core/bot_instance.h"
#include "core/event_handling.h"
#include "registry/audit_log.h"
#include "registry/backups.h"
#include "registry/registry_file.h"

#if defined(_WIN32)
#define HADROK_EXPORT __declspec(dllexport)
#else
#define HADROK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// The registry is loaded when the library is loaded and saved when it is
// unloaded; being declared first, it outlives the bot instances.
struct LoadedRegistry {
    FreqRegistry registry;
    LoadedRegistry() {
        try {
            loadRegistry(registry);
        } catch (...) {
            // An unreadable file leaves the registry empty; the host must load on.
        }
    }
    ~LoadedRegistry() {
        try {
            saveWithBackups(registry, {0, nullptr, registry.auditLogEnabled},
                            registry.datedBackupsToKeep);
        } catch (...) {
        }
    }
};

LoadedRegistry loaded;
BotInstanceList instanceList;

} // namespace

extern "C" HADROK_EXPORT void talk(BotEvent& event) {
    // Nothing may cross into the host's process as an exception: a failure
    // ends this one event quietly.
    try {
        BotInstance* instance = findInstance(instanceList, event.handle);
        if (!instance) {
            auto created = std::make_unique<BotInstance>();
            created->handle = event.handle;
            instanceList.instances.push_back(std::move(created));
            instance = instanceList.instances.back().get();
        }
        handleEvent(*instance, loaded.registry, event);
    } catch (...) {
    }
}
