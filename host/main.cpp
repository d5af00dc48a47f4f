// The program hadrok: the bot host simulator and the operator tools, one
// subcommand each.
#include "host/subcommands.h"

int main(int argc, char** argv) {
    CLI::App app{"Hadrok: the bot host simulator and operator tools for the Hadrok plug-in"};
    app.require_subcommand(1);
    addRunCommand(app);
    addTeamsCommands(app);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
