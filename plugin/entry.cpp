// The plug-in's one export, and the one place its process state is made.
#include "plugin/event_handling.h"
#include "plugin/plugin_state.h"

#if defined(_WIN32)
#define HADROK_EXPORT __declspec(dllexport)
#else
#define HADROK_EXPORT __attribute__((visibility("default")))
#endif

namespace {

// Made when the library is loaded (the lock, then the registry file) and
// ended when it is unloaded: the last save runs first, while every part of
// the state is whole, and the parts are ended after it in the reverse order
// of PluginState's members.
struct LoadedPlugin {
    PluginState state;
    LoadedPlugin() { startPlugin(state); }
    ~LoadedPlugin() { stopPlugin(state); }
    LoadedPlugin(const LoadedPlugin&) = delete;
    LoadedPlugin& operator=(const LoadedPlugin&) = delete;
};

LoadedPlugin loaded;

} // namespace

extern "C" HADROK_EXPORT void talk(BotEvent& event) {
    hostCall(loaded.state, event);
}
