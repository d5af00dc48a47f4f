#include "commands/commands.h"
#include "hadrok_version.h"

void handleAbout(const CommandContext& context) {
    reply(context, "\"Hadrok\" " HADROK_VERSION " compiled on " __DATE__ " " __TIME__);
    Text core("DLL core version: ");
    core.append(int32_t(interfaceMajor));
    core.append(".");
    core.append(int32_t(interfaceMinor));
    reply(context, core.data);
    reply(context, "Hadrok freq registry - private freqs kept by the Hadrok developers");
}
