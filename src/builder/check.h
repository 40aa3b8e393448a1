// The builder's self-check: applies a freshly written package with the applicator's own
// reader and driver to a scratch copy of the old files it touches, and compares the
// result with the new files (contents and time stamps).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

struct CheckEntry {
    uint8_t operation = kOpAdd;
    std::string name;      // as in the package
    std::string old_path;  // Update and Remove
    std::string new_path;  // Add and Update
    FileIdentity new_identity;
};

// Copies the old file of every Update and Remove entry (with its time stamp) into a new
// folder under `scratch_parent`, applies the package there answering No to any question,
// and compares: every Add and Update file must equal its new version and carry its new
// time stamp, every Remove file must be gone, and nothing else may be left. The scratch
// folder is deleted afterwards; when it cannot be, its path is left in *left_behind
// (else that is emptied). False with *error saying what went wrong. All file access goes
// through the OS layer.
bool CheckPackage(const std::string& package_path, const std::vector<CheckEntry>& entries,
                  const std::string& scratch_parent, std::string* error, std::string* left_behind = nullptr);
