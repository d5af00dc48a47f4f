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

void addTeamsCommands(CLI::App& app) {
    CLI::App* teams = app.add_subcommand(
        "teams", "See, check and repair a registry file (Zandrel.teams) without a host");
    teams->require_subcommand(1);
    addTeamsListCommand(*teams);
    addTeamsExportCommand(*teams);
    addTeamsImportCommand(*teams);
    addTeamsCheckCommand(*teams);
    addTeamsSalvageCommand(*teams);
    addTeamsDiffCommand(*teams);
    addTeamsPasswdCommand(*teams);
    addTeamsPruneCommand(*teams);
    addTeamsRemoveCommand(*teams);
    addTeamsRestoreCommand(*teams);
    addTeamsRecoverCommand(*teams);
}
