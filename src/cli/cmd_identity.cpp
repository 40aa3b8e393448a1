// `ambrel identity`: prints the identity (size, check value, stamp) of files, read exactly
// as the applicator reads them.
#include <cstdio>

#include "apply/identity.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "io/codepage.h"

namespace {

struct IdentityOptions {
    std::vector<std::string> files;
    int code_page = os::CodePage();
};

int RunIdentity(IdentityOptions& options) {
    std::vector<std::string*> arguments;
    for (std::string& path : options.files) arguments.push_back(&path);
    if (!UseCodePage(options.code_page, "identity") || !ArgumentsInCodePage(arguments, "identity")) return kExitInvalid;
    int result = kExitOk;
    for (const std::string& path : options.files) {
        FileIdentity id;
        if (!ReadFileIdentity(path.c_str(), &id)) {
            std::fprintf(stderr, "ambrel: cannot read the identity of %s (missing, unreadable, or dated "
                                 "outside 1980-2107)\n", Printable(path).c_str());
            result = kExitFailed;
            continue;
        }
        std::printf("%s %s\n", FormatIdentity(id).c_str(), Printable(path).c_str());
    }
    return result;
}

}  // namespace

void AddIdentityCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<IdentityOptions>();
    CLI::App* cmd = app.add_subcommand("identity", "Print the identity of files as the applicator reads it");
    cmd->add_option("FILE", options->files, "Files to read")->required();
    AddCodePageOption(cmd, &options->code_page);
    cmd->footer(
        "One line per file: SIZE CHECK STAMP PATH, the size in decimal, the 16-bit check value\n"
        "as 0x and 4 hex digits, the MS-DOS local time stamp as 0x and 8 hex digits.\n"
        "Exit codes: 0 every file was read, 1 some file could not be read.");
    cmd->callback([options, &exit_code] { exit_code = RunIdentity(*options); });
}
