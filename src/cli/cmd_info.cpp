// `ambrel info`: shows what a package holds, as text or as one JSON object.
#include <cstdio>
#include <cstring>
#include <nlohmann/json.hpp>

#include "cli/cli_common.h"
#include "cli/commands.h"
#include "io/codepage.h"
#include "package/package.h"

namespace {

struct InfoOptions {
    std::string package;
    bool json = false;
    int code_page = os::CodePage();
};

nlohmann::json IdentityJson(const FileIdentity& id) {
    return {{"size", id.size}, {"check", id.check}, {"stamp", id.stamp}};
}

nlohmann::json PackageJson(const UpgradePackage& p, const MessageTable& messages) {
    nlohmann::json entries = nlohmann::json::array();
    for (size_t i = 0; i < p.entries.size(); ++i) {
        const FileEntry& e = p.entries[i];
        nlohmann::json op = e.Operation <= kOpRemove ? nlohmann::json(OperationWord(messages, e.Operation))
                                                     : nlohmann::json(e.Operation);
        entries.push_back({{"index", i},
                           {"operation", op},
                           {"warning_policy", e.WarningPolicy},
                           {"error_policy", e.ErrorPolicy},
                           {"name", JsonText(e.name)},
                           {"description", JsonText(e.Description)},
                           {"old", HasOldIdentity(e.Operation) ? IdentityJson(e.OldIdentity) : nlohmann::json()},
                           {"new", HasNewIdentity(e.Operation) ? IdentityJson(e.NewIdentity) : nlohmann::json()}});
    }
    // Package texts are ANSI text of the code page, given as UTF-8.
    return {{"valid", p.IsValid()},
            {"compressed", p.IsCompressed()},
            {"format_version", p.FormatVersion},
            {"title", JsonText(p.Title)},
            {"description", JsonText(p.Description.get())},
            {"entry_count", p.EntryCount},
            {"progress_total", p.ProgressTotal},
            {"entries", entries}};
}

void PrintText(const UpgradePackage& p, const MessageTable& messages) {
    std::printf("Form:           %s\n", p.IsCompressed() ? "compressed ([QXZ] + zlib)" : "plain");
    std::printf("Marker:         %s\n", std::memcmp(p.Marker, kPlainMarker, sizeof kPlainMarker) == 0 ? "valid" : "invalid");
    std::printf("Format version: %u\n", static_cast<unsigned>(p.FormatVersion));
    std::printf("Title:          %s\n", Printable(p.Title).c_str());
    std::printf("Description:    ");
    for (char c : Printable(p.Description.get(), true)) {
        std::putchar(c);
        if (c == '\n') std::printf("                ");
    }
    std::printf("\nEntries:        %d\n", static_cast<int>(p.EntryCount));
    std::printf("Progress total: %u\n", static_cast<unsigned>(p.ProgressTotal));
    for (size_t i = 0; i < p.entries.size(); ++i) {
        const FileEntry& e = p.entries[i];
        std::printf("%5zu %-7s W%u E%u %s", i, OperationWord(messages, e.Operation).c_str(),
                    static_cast<unsigned>(e.WarningPolicy), static_cast<unsigned>(e.ErrorPolicy),
                    Printable(e.name).c_str());
        if (e.Description[0]) std::printf("  \"%s\"", Printable(e.Description).c_str());
        if (HasOldIdentity(e.Operation)) std::printf("  old %s", FormatIdentity(e.OldIdentity).c_str());
        if (HasNewIdentity(e.Operation)) std::printf("  new %s", FormatIdentity(e.NewIdentity).c_str());
        std::printf("\n");
    }
}

int RunInfo(InfoOptions& options) {
    if (!UseCodePage(options.code_page, "info") || !ArgumentsInCodePage({&options.package}, "info")) return kExitInvalid;
    auto header = UpgradePackage::OpenHeader(options.package.c_str());
    if (!header->IsValid()) {
        ReportInvalidPackage(header.get());
        return kExitInvalid;
    }
    header.reset();  // the package file is opened without sharing: one object at a time
    auto package = UpgradePackage::OpenFull(options.package.c_str(), ".");
    auto messages = LoadMessages();
    if (options.json) {
        std::printf("%s\n", PackageJson(*package, *messages).dump(2, ' ', false,
                                                                    nlohmann::json::error_handler_t::replace).c_str());
    } else {
        PrintText(*package, *messages);
    }
    if (!package->IsValid()) {
        ReportInvalidPackage(package.get());
        return kExitInvalid;
    }
    return kExitOk;
}

}  // namespace

void AddInfoCommand(CLI::App& app, int& exit_code) {
    auto options = std::make_shared<InfoOptions>();
    CLI::App* cmd = app.add_subcommand("info", "Show what a package holds: form, texts and every entry");
    cmd->add_option("PACKAGE", options->package, "The upgrade package (.upg)")->required();
    cmd->add_flag("--json", options->json, "Print one JSON object instead of text");
    AddCodePageOption(cmd, &options->code_page);
    cmd->footer(
        "Text output: one line per entry with index, operation, warning (W) and error (E) policy,\n"
        "name, description, and the old and new identity as SIZE 0xCHECK 0xSTAMP. Names and texts\n"
        "are text of one ANSI code page, which the package does not record (--codepage); they are\n"
        "printed in the terminal's encoding (UTF-8), with control characters as \\xHH.\n"
        "Exit codes: 0 valid package, 2 invalid package or usage error.");
    cmd->callback([options, &exit_code] { exit_code = RunInfo(*options); });
}
