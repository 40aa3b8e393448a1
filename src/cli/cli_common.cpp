// Small pieces shared by the subcommands.
#include "cli/cli_common.h"

#include <cstdio>

#include "package/package.h"

std::unique_ptr<MessageTable> LoadMessages() {
    return MessageTable::LoadFromResource(nullptr, {MessageTable::kResourceId, nullptr});
}

std::string OperationWord(const MessageTable& messages, int operation) {
    if (operation >= kOpAdd && operation <= kOpRemove) return messages.SubItem(kMsgOperationWords, operation);
    return std::to_string(operation);
}

std::string FormatIdentity(const FileIdentity& identity) {
    char text[48];
    std::snprintf(text, sizeof text, "%u 0x%04x 0x%08x", static_cast<unsigned>(identity.size),
                  static_cast<unsigned>(identity.check), static_cast<unsigned>(identity.stamp));
    return text;
}

void ReportInvalidPackage(const UpgradePackage* package) {
    std::fprintf(stderr, "Upgrade is invalid!\n");
    if (package && !package->RefusalReason().empty())
        std::fprintf(stderr, "%s\n", package->RefusalReason().c_str());
}
