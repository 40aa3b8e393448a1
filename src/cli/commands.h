// The subcommands of the command-line program. Each adds itself to the application; its
// callback stores the process exit code in `exit_code`.
#pragma once

#include <CLI/CLI.hpp>

void AddInfoCommand(CLI::App& app, int& exit_code);
void AddIdentityCommand(CLI::App& app, int& exit_code);
void AddVerifyCommand(CLI::App& app, int& exit_code);
void AddApplyCommand(CLI::App& app, int& exit_code);
void AddBuildCommand(CLI::App& app, int& exit_code);
void AddKeygenCommand(CLI::App& app, int& exit_code);
void AddSignCommand(CLI::App& app, int& exit_code);

// Exit codes shared by the subcommands.
enum ExitCode : int {
    kExitOk = 0,
    kExitFailed = 1,      // aborted, findings, unreadable file
    kExitInvalid = 2,     // invalid package or usage error
    kExitIncomplete = 3,  // applied, but some files could not be put in place
    kExitSkipped = 4,     // applied, but some entries were skipped (possibly all of them)
};
