// The program hadrok: the bot host simulator and the operator tools, one
// subcommand each.
#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "cli/edit_distance.h"
#include "cli/program_commands.h"
#include "cli/subcommands.h"
#include "hadrok_version.h"
#include "system/terminal.h"

namespace {

// Messages name the program as users type it, whatever argv[0] holds.
constexpr const char* commandName = programFileName;

// The subcommands that the parser selected, outermost first: the command
// path that a message about the line names.
std::vector<CLI::App*> selectedPath(CLI::App& app) {
    std::vector<CLI::App*> path{&app};
    for (;;) {
        std::vector<CLI::App*> selected = path.back()->get_subcommands();
        if (selected.empty()) return path;
        path.push_back(selected.front());
    }
}

std::string pathText(const std::vector<CLI::App*>& path) {
    std::string text = commandName;
    for (size_t i = 1; i < path.size(); ++i)
        text += " " + path[i]->get_name();
    return text;
}

std::vector<std::string> subcommandNames(const CLI::App& app) {
    std::vector<std::string> names;
    for (const CLI::App* sub : app.get_subcommands([](const CLI::App*) { return true; }))
        names.push_back(sub->get_name());
    return names;
}

std::string joined(const std::vector<std::string>& names) {
    std::string text;
    for (const std::string& name : names)
        text += (text.empty() ? "" : ", ") + name;
    return text;
}

// "unknown subcommand "lst" (did you mean "list"?); the subcommands are: ..."
// A name counts as close within two edits, or as the start of only one name.
std::string unknownSubcommand(const CLI::App& app, const std::string& word) {
    std::vector<std::string> names = subcommandNames(app);
    std::string closest;
    size_t best = 3;
    for (const std::string& name : names)
        if (size_t d = editDistance(word, name); d < best) best = d, closest = name;
    if (closest.empty()) {
        std::vector<std::string> starting;
        for (const std::string& name : names)
            if (!word.empty() && name.starts_with(word)) starting.push_back(name);
        if (starting.size() == 1) closest = starting.front();
    }
    std::string text = "unknown subcommand \"" + word + "\"";
    if (!closest.empty()) text += " (did you mean \"" + closest + "\"?)";
    return text + "; the subcommands are: " + joined(names);
}

// The words left over at the deepest selected command that has subcommands of
// its own: the first one that is not an option was meant as a subcommand.
std::string describeMistake(const std::vector<CLI::App*>& path, const CLI::ParseError& error) {
    CLI::App* last = path.back();
    std::vector<std::string> left = path.front()->remaining(true);
    if (!subcommandNames(*last).empty() && dynamic_cast<const UsageMistake*>(&error) == nullptr) {
        if (!left.empty() && !left.front().starts_with("-"))
            return unknownSubcommand(*last, left.front());
        if (left.empty())
            return "a subcommand is required: " + joined(subcommandNames(*last)) + " (see \"" +
                   pathText(path) + " --help\")";
    }
    std::string message = error.what();
    std::replace(message.begin(), message.end(), '\n', ' ');
    return message;
}

// hadrok help [COMMAND...]: the help of that command, as its --help shows it.
void addHelpCommand(CLI::App& app) {
    auto words = std::make_shared<std::vector<std::string>>();
    CLI::App* help = app.add_subcommand(
        "help", "Show the help of the program or of one of its commands, as --help does");
    help->add_option("command", *words, "the command, such as: teams check");
    help->callback([&app, words] {
        const CLI::App* target = &app;
        std::string name = app.get_name();
        for (const std::string& word : *words) {
            const CLI::App* next = nullptr;
            for (const CLI::App* sub :
                 target->get_subcommands([](const CLI::App*) { return true; }))
                if (sub->get_name() == word) next = sub;
            if (!next) throw UsageMistake(unknownSubcommand(*target, word));
            target = next;
            name += " " + word;
        }
        std::fputs(
            target->get_formatter()->make_help(target, name, CLI::AppFormatMode::Normal).c_str(),
            stdout);
    });
}

int parseCommandLine(CLI::App& app, int argc, char** argv) {
    try {
        app.parse(argc, argv);
        return 0;
    } catch (const CLI::RuntimeError& e) {
        return e.get_exit_code(); // the subcommand has said why
    } catch (const CLI::Success& e) {
        return app.exit(e); // --help, --version
    } catch (const CLI::ParseError& e) {
        std::vector<CLI::App*> path = selectedPath(app);
        std::fflush(stdout);
        std::fprintf(stderr, "%s: %s\n", pathText(path).c_str(), describeMistake(path, e).c_str());
        return usageStatus;
    }
}

// A script's "tool" line: the operator's commands on a fresh frame, the
// simulator itself left out so that no script runs another.
int commandsOfScript(const std::vector<std::string>& words) {
    CLI::App app{"Hadrok"};
    app.name(programFileName);
    app.require_subcommand(1);
    app.allow_windows_style_options(false);
    addTeamsCommands(app);
    addConfigCommands(app);
    addStatusCommand(app);
    std::vector<std::string> texts{programFileName};
    texts.insert(texts.end(), words.begin(), words.end());
    std::vector<char*> args;
    for (std::string& text : texts)
        args.push_back(text.data());
    const int status = parseCommandLine(app, int(args.size()), args.data());
    std::fflush(stdout);
    std::fflush(stderr);
    return status;
}

} // namespace

int main(int argc, char** argv) {
    useLfLineEnds();
    CLI::App app{"Hadrok: the bot host simulator and operator tools for the Hadrok plug-in"};
    app.name(programFileName);
    app.require_subcommand(1);
    // "/x" is a path on every system, never an option (the subcommands inherit
    // this).
    app.allow_windows_style_options(false);
    app.set_version_flag("--version", std::string("hadrok ") + HADROK_VERSION,
                         "Show the version and exit");
    setProgramCommands(commandsOfScript);
    addRunCommand(app);
    addTeamsCommands(app);
    addConfigCommands(app);
    addStatusCommand(app);
    addHelpCommand(app);
    // Started by a double-click, with nothing to do: the help, kept on the
    // screen until the operator has read it.
    if (argc == 1 && consoleClosesAtExit()) {
        std::fputs(app.help().c_str(), stdout);
        std::fputs("\nThis window closes when you press Enter. Open a command prompt in this "
                   "folder to run the commands above.\n",
                   stdout);
        std::fflush(stdout);
        waitForEnter();
        return 0;
    }
    // "/?" asks for help on Windows, as its own programs take it.
    std::vector<char*> args(argv, argv + argc);
    static char helpFlag[] = "--help";
    for (size_t i = 1; i < args.size(); ++i)
        if (std::string(args[i]) == "/?") args[i] = helpFlag;
    return parseCommandLine(app, int(args.size()), args.data());
}
