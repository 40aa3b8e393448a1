// Small pieces shared by the subcommands.
#include "cli/cli_common.h"

#include <cstdio>

#include "apply/identity.h"
#include "cli/platform.h"
#include "io/codepage.h"
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

namespace {

std::string Hex(unsigned char c) {
    char hex[8];
    std::snprintf(hex, sizeof hex, "\\x%02X", c);
    return hex;
}

// `converted` is in the terminal's encoding when `ok`, else the raw bytes. UTF-8's C1
// controls (U+0080 to U+009F, which some terminals obey) are shown escaped as well.
std::string Escaped(const std::string& converted, bool ok, bool keep_lines, bool utf8) {
    std::string out;
    out.reserve(converted.size());
    for (size_t i = 0; i < converted.size(); ++i) {
        const unsigned char c = static_cast<unsigned char>(converted[i]);
        if (keep_lines && (c == '\n' || c == '\r')) {
            if (c == '\r' && i + 1 < converted.size() && converted[i + 1] == '\n') continue;
            out += '\n';
        } else if (c < 32 || c == 127 || (!ok && c >= 0x80)) {
            out += Hex(c);
        } else if (utf8 && c == 0xC2 && i + 1 < converted.size() && static_cast<unsigned char>(converted[i + 1]) < 0xA0) {
            out += Hex(c) + Hex(static_cast<unsigned char>(converted[++i]));
        } else {
            out += static_cast<char>(c);
        }
    }
    return out;
}

}  // namespace

std::string Printable(const std::string& text, bool keep_lines) {
    std::string converted;
    const bool ok = ToTerminal(text, &converted);
    return Escaped(ok ? converted : text, ok, keep_lines, ok && converted != text);
}

std::string JsonText(const std::string& text) {
    std::string utf8;
    const bool ok = os::ToUtf8(text, &utf8);
    std::string out;
    for (unsigned char c : ok ? utf8 : text) out += !ok && c >= 0x80 ? Hex(c) : std::string(1, static_cast<char>(c));
    return out;
}

void AddCodePageOption(CLI::App* command, int* code_page) {
    command->add_option("--codepage", *code_page,
                        "The ANSI code page of the package's names and texts (default 1252, Western; "
                        "on Windows only the system's own)");
}

bool UseCodePage(int code_page, const std::string& command) {
    std::string why;
    if (os::SetCodePage(code_page, &why)) return true;
    std::fprintf(stderr, "ambrel %s: error: %s\n", command.c_str(), why.c_str());
    return false;
}

bool ArgumentsInCodePage(const std::vector<std::string*>& arguments, const std::string& command) {
    for (std::string* argument : arguments) {
        std::string text;
        if (FromTerminal(*argument, &text)) {
            *argument = text;
            continue;
        }
        std::fprintf(stderr, "ambrel %s: error: \"%s\" cannot be written in code page %d\n", command.c_str(),
                     argument->c_str(), os::CodePage());
        return false;
    }
    return true;
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
