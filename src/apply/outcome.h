// The texts that end an apply, shared by the front ends: what the user reads when the
// upgrade was applied, refused, aborted, or committed without every file.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

#include "package/package.h"

constexpr char kAppliedText[] = "The upgrade has been applied.";
constexpr char kAbortedText[] = "The upgrade process was aborted. No changes have been made to any of your files.";
constexpr char kBusyText[] = "Another upgrade of this folder is running.";

// Why an apply stopped before any change ("the target folder ... cannot be opened", say),
// as one sentence.
std::string RefusalText(const std::string& apply_failure);

// The report of a commit that could not put every file in place, line by line without line
// ends: a heading; one line per failure ("NAME: its new version is kept as PATH", "NAME:
// could not be removed", or "NAME: keeps its old version" where its verified new version
// was lost), with the reason when known, at most `listed` of them (0: all) and then one
// that counts the rest; a blank line; and the advice for the kinds of failure there were.
// `shown` turns a name or path into the text to show (the console escapes control
// characters).
std::vector<std::string> IncompleteCommitReport(const std::vector<CommitFailure>& failures, size_t listed,
                                                std::string (*shown)(const std::string&));
