// `ambrel build` in builds made without the suffix-array library: says so.
#include <cstdio>

#include "cli/commands.h"

void AddBuildCommand(CLI::App& app, int& exit_code) {
    CLI::App* cmd = app.add_subcommand("build", "Make a package (not available in this build)");
    cmd->allow_extras();
    cmd->callback([&exit_code] {
        std::fprintf(stderr, "ambrel: the package builder is not part of this build; use the Linux build of ambrel.\n");
        exit_code = kExitInvalid;
    });
}
