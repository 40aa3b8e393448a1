// `ambrel apply`: the applicator's whole flow in a terminal: validate the package, find or
// take the target folder, show what will happen, ask, apply, report.
#include <cstdio>
#include <cstring>

#include "apply/driver.h"
#include "apply/identity.h"
#include "apply/verify_entry.h"
#include "apply/outcome.h"
#include "apply/search.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/console_frontend.h"
#include "cli/platform.h"
#include "io/codepage.h"
#include "io/os.h"
#include "package/package.h"

namespace {

struct ApplyOptions {
    std::string package;
    std::string folder;
    bool yes = false;
    bool no = false;
    std::vector<std::string> roots;
    int code_page = os::CodePage();
};

void PrintPackageTexts(const UpgradePackage& package) {
    std::printf("Title:       %s\n", Printable(package.Title).c_str());
    std::printf("Description: %s\n", Printable(package.Description.get(), true).c_str());
}

// Finds the target folder: the named one, or the first folder under the roots that passes
// the installation match test. False when the search finds nothing.
bool ChooseTarget(const ApplyOptions& options, std::string* target) {
    if (!options.folder.empty()) {
        *target = options.folder;
        return true;
    }
    std::vector<std::string> roots = options.roots.empty() ? DefaultSearchRoots() : options.roots;
    std::printf("Searching for installed components...\n");
    char found[os::kMaxPath] = {};
    if (!LocateInstalledTarget(options.package.c_str(), found, roots)) {
        std::printf("No installed copy that this upgrade applies to was found under:");
        for (const std::string& root : roots) std::printf(" %s", Printable(root).c_str());
        std::printf("\nName the folder to upgrade: ambrel apply PACKAGE DIR\n");
        return false;
    }
    *target = found;
    return true;
}

// A name or path as the terminal shows it: control characters escaped.
std::string Shown(const std::string& text) { return Printable(text); }

void ReportIncomplete(const std::vector<CommitFailure>& failures) {
    const std::vector<std::string> lines = IncompleteCommitReport(failures, 0, Shown);
    // Every file is listed, indented under the heading: lines 1 to failures.size().
    for (size_t i = 0; i < lines.size(); ++i)
        std::printf("%s%s\n", i >= 1 && i <= failures.size() ? "  " : "", lines[i].c_str());
}

// Lists the entries the apply skipped, each with its reason, apart from those whose files
// already were what the upgrade makes of them (left so by an interrupted earlier run).
// Returns how many were skipped for real; *applied counts the entries now in their new
// state, whoever put them there.
size_t ReportSkipped(UpgradePackage& package, size_t* applied) {
    std::vector<int> skipped;
    size_t already = 0;
    for (size_t i = 0; i < package.entries.size(); ++i) {
        if (package.entries[i].state == kStateProceed) continue;
        if (EntryAlreadyApplied(package, static_cast<int>(i)))
            ++already;
        else
            skipped.push_back(static_cast<int>(i));
    }
    *applied = package.entries.size() - skipped.size();
    if (already != 0)
        std::printf("%zu file%s already had %s new version%s (left by an earlier, interrupted run).\n", already,
                    already == 1 ? "" : "s", already == 1 ? "its" : "their", already == 1 ? "" : "s");
    if (skipped.empty()) return 0;
    if (*applied == 0)
        std::printf("Nothing was changed: every file of the upgrade was skipped:\n");
    else
        std::printf("These files were skipped and keep their old versions:\n");
    for (int i : skipped) {
        const FileEntry& entry = package.entries[static_cast<size_t>(i)];
        std::printf("  %s: %s\n", Printable(entry.name).c_str(), SkipReason(entry.state));
    }
    return skipped.size();
}

int RunApply(ApplyOptions& options) {
    std::vector<std::string*> arguments{&options.package, &options.folder};
    for (std::string& root : options.roots) arguments.push_back(&root);
    if (!UseCodePage(options.code_page, "apply") || !ArgumentsInCodePage(arguments, "apply")) return kExitInvalid;
    ConsoleFrontEnd frontend(options.yes ? ConsoleFrontEnd::Answer::kYes
                             : options.no ? ConsoleFrontEnd::Answer::kNo
                                          : ConsoleFrontEnd::Answer::kAsk);
    // A package that will be refused is reported first: nothing is searched or asked.
    {
        auto header = UpgradePackage::OpenHeader(options.package.c_str());
        if (!header->IsValid()) {
            ReportInvalidPackage(header.get());
            return kExitInvalid;
        }
    }
    {
        auto checked = UpgradePackage::OpenFull(options.package.c_str(), ".");
        if (!checked->IsValid()) {
            ReportInvalidPackage(checked.get());
            return kExitInvalid;
        }
    }
    std::string target;
    if (!ChooseTarget(options, &target)) return kExitFailed;
    // A folder that another run is applying to is left alone at once: even reading its
    // files could keep that run from replacing them (Windows does not replace a file that
    // is open). The apply takes the lock again for itself.
    if (os::FolderLock().Acquire(target.c_str()) == os::FolderLock::kBusy) {
        std::printf("%s\n%s\n", kBusyText, kAbortedText);
        return kExitFailed;
    }

    // One package object at a time: the file is opened without sharing on Windows.
    PrintPackageTexts(*UpgradePackage::OpenHeader(options.package.c_str()));
    std::printf("Target:      %s\n", Printable(target).c_str());
    if (!options.folder.empty() && !CheckTargetFolder(options.package.c_str(), target.c_str())) {
        std::printf("\nInvalid target folder!\n"
                    "The selected directory (as shown below) does not contain the necessary files to "
                    "receive an upgrade.\n  %s\n", Printable(target).c_str());
    }
    if (!frontend.Confirm("\nApply this upgrade to " + target + "?")) {
        std::printf("%s\n", kAbortedText);
        return kExitFailed;
    }

    auto package = UpgradePackage::OpenFull(options.package.c_str(), target.c_str());
    if (!package->IsValid()) {
        ReportInvalidPackage(package.get());
        return kExitInvalid;
    }
    package->AttachMessages(LoadMessages());
    const ApplyResult result = ApplyPackage(*package, &frontend);  // closes its progress display
    if (result == kApplyBusy) {
        std::printf("%s\n%s\n", kBusyText, kAbortedText);
        return kExitFailed;
    }
    if (result == kApplyAborted) {
        if (!package->apply_failure.empty())
            std::printf("%s\n", RefusalText(Printable(package->apply_failure)).c_str());
        std::printf("%s\n", kAbortedText);
        return kExitFailed;
    }
    size_t applied = 0;
    const size_t skipped = ReportSkipped(*package, &applied);
    if (result == kApplyIncomplete) {
        ReportIncomplete(package->commit_failures);
        return kExitIncomplete;
    }
    if (skipped != 0 && applied == 0) return kExitSkipped;
    std::printf("%s\n", skipped == 0 ? kAppliedText : "The upgrade has been applied to every other file.");
    return skipped == 0 ? kExitOk : kExitSkipped;
}

}  // namespace

void AddApplyCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<ApplyOptions>();
    CLI::App* cmd = app.add_subcommand("apply", "Apply a package to the installed folder");
    cmd->add_option("PACKAGE", options->package, "The upgrade package (.upg)")->required();
    cmd->add_option("DIR", options->folder, "The folder to upgrade; searched for when omitted");
    CLI::Option* yes = cmd->add_flag("--yes,-y", options->yes, "Answer Yes to every question");
    CLI::Option* no = cmd->add_flag("--no,-n", options->no, "Answer No to every question");
    yes->excludes(no);
    cmd->add_option("--search", options->roots,
                    "Where to search for the installed copy when DIR is omitted (repeatable; default: the "
                    "current folder, on Windows the fixed drives)");
    AddCodePageOption(cmd, &options->code_page);
    cmd->footer(
        "Without DIR, the roots are searched breadth-first, one root completely before the next,\n"
        "and the first folder that passes the installation match test is the target.\n"
        "Questions are asked on the terminal (y/n). Without a terminal and without --yes or --no,\n"
        "every question is answered No (and printed). Ctrl-C is the cancel button: it asks whether\n"
        "to stop and then goes on or aborts; nothing is changed until the last phase, which cannot\n"
        "be cancelled.\n"
        "Exit codes: 0 applied, 1 aborted (no file changed) or no installed copy found,\n"
        "2 invalid package or usage error, 3 applied but some files could not be put in place\n"
        "(their new versions are kept and listed), 4 applied except for the entries that were\n"
        "skipped, each listed with its reason (when every entry was skipped nothing changed).");
    cmd->callback([options, &exit_code] { exit_code = RunApply(*options); });
}
