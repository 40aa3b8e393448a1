// Small pieces shared by the subcommands.
#include "cli/cli_common.h"

#include <cstdio>

#include "apply/identity.h"
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
        std::fprintf(stderr, "%s\n", Printable(package->RefusalReason()).c_str());
}

std::string Printable(const std::string& text, bool keep_lines) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (keep_lines && (c == '\n' || c == '\r')) {
            if (c == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
            out += '\n';
        } else if (c < 32 || c == 127) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            out += hex;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

const char* SkipReason(int state) {
    switch (state) {
    case kStateMissing: return "the file cannot be found";
    case kStateChanged: return "the file has been changed (its size or check value differs)";
    case kStateReadOnly: return "the file is read-only";
    case kStateTimeDiffers: return "the file's time stamp differs";
    case kStateExists: return "the file already exists";
    case kStateBuildFailed:
        return "its new version could not be built or did not come out right (a damaged package, or a full disk)";
    case kStatePathTooLong: return "its path is too long";
    case kStateBadOperation: return "the package gives it an unknown operation";
    case kStateLinked: return "a link or junction stands on its path, and links are never followed";
    default: return "it was skipped";
    }
}
