// hadrok teams: the registry file tools, for operators who need to see or
// repair "Zandrel.teams" without a running host.
#include <cstdio>
#include <new>

#include <fmt/format.h>

#include "tools/teams_file.h"
#include "tools/teams_subcommands.h"
#include "tools/teams_write.h"

void runTeamsTool(const char* name, const std::function<int()>& work) {
    runOperatorTool(std::string("teams ") + name, work);
}

void runOperatorTool(const std::string& command, const std::function<int()>& work) {
    int status = 0;
    std::string failure;
    noteToolCommand(std::string(programFileName) + " " + command);
    try {
        status = work();
    } catch (const ToolFailure& e) {
        failure = e.what();
    } catch (const std::bad_alloc&) {
        failure = "out of memory";
    } catch (const CLI::Error&) {
        throw;
    } catch (const std::exception& e) {
        failure = fmt::format("unexpected error: {}", e.what());
    }
    if (!failure.empty()) {
        std::fflush(stdout);
        fmt::print(stderr, "{} {}: {}\n", programFileName, command, failure);
        status = teamsFailureStatus;
    }
    if (status != 0) throw CLI::RuntimeError(status);
}

namespace {

// In the order the help lists them.
const TeamsSubcommand* const subcommands[] = {
    &teamsList,   &teamsExport, &teamsImport, &teamsCheck,   &teamsSalvage, &teamsDiff,
    &teamsPasswd, &teamsPrune,  &teamsRemove, &teamsRestore, &teamsRecover,
};

} // namespace

void addTeamsCommands(CLI::App& app) {
    CLI::App* teams = app.add_subcommand(
        "teams", "See, check and repair a registry file (Zandrel.teams) without a host");
    teams->require_subcommand(1);
    for (const TeamsSubcommand* row : subcommands) {
        CLI::App* command = teams->add_subcommand(row->name, row->help);
        command->callback(
            [name = row->name, work = row->define(*command)] { runTeamsTool(name, work); });
    }
}
