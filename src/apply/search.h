// Finding the installed copy a package upgrades: the breadth-first search over the fixed
// drives (or given roots) and the test of one chosen folder.
#pragma once

#include <string>
#include <vector>

class UpgradePackage;

// Searches `roots` breadth-first (one root completely before the next); the first folder
// that passes the installation match test becomes the package's target folder. Folders
// whose names begin with "." are not entered; paths that would not fit are skipped.
bool SearchInstalledTarget(UpgradePackage& package, const std::vector<std::string>& roots);
// Opens the package fully and searches; on success writes the found folder (without a
// final separator unless it is a root, last component as stored) into target (260 bytes).
int LocateInstalledTarget(const char* package_path, char* target, const std::vector<std::string>& roots);
// Nonzero when `folder` passes the installation match test.
int CheckTargetFolder(const char* package_path, const char* folder);
