#include "commands/commands.h"

void handleAbout(const CommandContext& context) {
    reply(context, "\"Hadrok\" 1.10 compiled on " __DATE__ " " __TIME__);
    Text core("DLL core version: ");
    core.append(int32_t(interfaceMajor));
    core.append(".");
    core.append(int32_t(interfaceMinor));
    reply(context, core.data);
    reply(context, "Hadrok freq registry - private freqs kept by the Hadrok developers");
}
