// Small pieces shared by the subcommands: the text table, operation words, identities
// as text, and the invalid-package report.
#pragma once

#include <memory>
#include <string>

#include "package/format.h"
#include "package/message_table.h"

class UpgradePackage;

// The program's own apply-phase text table.
std::unique_ptr<MessageTable> LoadMessages();
// "Add", "Update", "Remove" from the text table; the number for any other value.
std::string OperationWord(const MessageTable& messages, int operation);
// "SIZE 0xCHCK 0xSTAMPXXX": size in decimal, check value and stamp in lowercase hex.
std::string FormatIdentity(const FileIdentity& identity);
// Prints "Upgrade is invalid!" and, when known, why, on stderr.
void ReportInvalidPackage(const UpgradePackage* package);
// Text from a package (names, titles, descriptions) made safe for a terminal: control
// characters are shown as \xHH, so no escape sequence reaches the terminal. With
// `keep_lines`, line breaks stay (CR LF and lone CR become LF).
std::string Printable(const std::string& text, bool keep_lines = false);
// Why an entry with a nonzero state was skipped, in a few words.
const char* SkipReason(int state);
