// Small pieces shared by the subcommands: the text table, operation words, identities
// as text, and the invalid-package report.
#pragma once

#include <CLI/CLI.hpp>

#include <memory>
#include <string>
#include <vector>

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
// Text of the code page (names, titles, descriptions, paths) made ready for a terminal: in
// the terminal's encoding (UTF-8 on POSIX systems), with control characters shown as \xHH
// (and bytes that are no text of the code page as \xHH too), so no escape sequence reaches
// the terminal. With `keep_lines`, line breaks stay (CR LF and lone CR become LF).
std::string Printable(const std::string& text, bool keep_lines = false);
// Text of the code page as UTF-8 for JSON, with bytes that are no text of it as \xHH.
std::string JsonText(const std::string& text);

// Adds --codepage to a command; `code_page` keeps its value when the option is not given.
void AddCodePageOption(CLI::App* command, int* code_page);
// Chooses the code page of the run. False, after saying why on stderr, when this system
// cannot use it.
bool UseCodePage(int code_page, const std::string& command);
// Turns command-line arguments (paths, titles, patterns) into text of the code page, in
// place. False, after naming the one it cannot hold on stderr, when the code page cannot.
bool ArgumentsInCodePage(const std::vector<std::string*>& arguments, const std::string& command);
// Why an entry with a nonzero state was skipped, in a few words.
const char* SkipReason(int state);
