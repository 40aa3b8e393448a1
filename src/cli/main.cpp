// Entry point of the `ambrel` command-line program: the apply engine and the package
// builder for terminals and scripts.
#include <CLI/CLI.hpp>

#include <iostream>

#include "cli/commands.h"
#include "ambrel_version.h"

int main(int argc, char** argv) {
    CLI::App app{
        "ambrel: upgrades an installed program's folder from one version to the next, in place.\n"
        "Every file is verified before anything changes; new versions are rebuilt into a\n"
        "temporary folder and verified before they replace the old ones."};
    app.name("ambrel");
    app.require_subcommand(1);
    app.set_version_flag("--version", "ambrel " AMBREL_VERSION);
    int exit_code = 0;
    AddInfoCommand(app, exit_code);
    AddIdentityCommand(app, exit_code);
    AddVerifyCommand(app, exit_code);
    AddApplyCommand(app, exit_code);
    AddBuildCommand(app, exit_code);
    AddKeygenCommand(app, exit_code);
    AddSignCommand(app, exit_code);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& e) {
        int code = app.exit(e);
        // Help and version exit 0; every usage error exits 2 after the usage line of the
        // command it concerns.
        if (code == 0) return 0;
        const std::vector<CLI::App*> chosen = app.get_subcommands();
        const CLI::App* command = chosen.empty() ? &app : chosen.back();
        const std::string name = command == &app ? "ambrel" : "ambrel " + command->get_name();
        std::cerr << CLI::Formatter().make_usage(command, name);
        return kExitInvalid;
    }
    return exit_code;
}
