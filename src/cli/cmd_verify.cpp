// `ambrel verify`: checks every entry of a package against a folder, as the first phase of
// the apply does, and runs the installation match test. Writes nothing.
#include <cstdio>

#include "apply/identity.h"
#include "apply/verify_entry.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "io/codepage.h"
#include "package/package.h"

namespace {

struct VerifyOptions {
    std::string package;
    std::string folder;
    int code_page = os::CodePage();
};

int RunVerify(VerifyOptions& options) {
    if (!UseCodePage(options.code_page, "verify") ||
        !ArgumentsInCodePage({&options.package, &options.folder}, "verify"))
        return kExitInvalid;
    auto header = UpgradePackage::OpenHeader(options.package.c_str());
    bool header_valid = header->IsValid();
    header.reset();
    auto package = UpgradePackage::OpenFull(options.package.c_str(), options.folder.c_str());
    if (!header_valid || !package->IsValid() || package->ProgressTotal == 0) {
        ReportInvalidPackage(package.get());
        return kExitInvalid;
    }
    auto messages = LoadMessages();
    int findings = 0;
    for (size_t i = 0; i < package->entries.size(); ++i) {
        const FileEntry& entry = package->entries[i];
        Finding finding = VerifyPackageEntry(*package, static_cast<int>(i));
        std::printf("%zu %s %s ", i, OperationWord(*messages, entry.Operation).c_str(), Printable(entry.name).c_str());
        if (finding.code == kStateProceed) {
            std::printf("ok\n");
            continue;
        }
        ++findings;
        std::printf("%u %s\n", static_cast<unsigned>(finding.code), messages->Line(finding.line));
    }
    bool matches = InstallationMatches(*package);
    std::printf("installation match: %s\n", matches ? "yes" : "no (Invalid target folder!)");
    return findings == 0 ? kExitOk : kExitFailed;
}

}  // namespace

void AddVerifyCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<VerifyOptions>();
    CLI::App* cmd = app.add_subcommand("verify", "Check a folder against every entry of a package (writes nothing)");
    cmd->add_option("PACKAGE", options->package, "The upgrade package (.upg)")->required();
    cmd->add_option("DIR", options->folder, "The installed folder")->required();
    AddCodePageOption(cmd, &options->code_page);
    cmd->footer(
        "One line per entry: index, operation, name, and `ok` or the finding's state code with\n"
        "its message; then whether the folder passes the installation match test.\n"
        "Exit codes: 0 no entry has a finding, 1 some entry has one, 2 invalid package or usage error.");
    cmd->callback([options, &exit_code] { exit_code = RunVerify(*options); });
}
