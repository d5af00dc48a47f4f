// The program hadrok: the bot host simulator and the operator tools, one
// subcommand each.
#include "host/line_editor.h"
#include "host/subcommands.h"

int main(int argc, char** argv) {
    useLfLineEnds();
    CLI::App app{"Hadrok: the bot host simulator and operator tools for the Hadrok plug-in"};
    app.require_subcommand(1);
    // "/x" is a path on every system, never an option (the subcommands inherit
    // this).
    app.allow_windows_style_options(false);
    addRunCommand(app);
    addTeamsCommands(app);
    CLI11_PARSE(app, argc, argv);
    return 0;
}
