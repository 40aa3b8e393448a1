// The three-phase apply: verify every entry, rebuild new versions into a temporary folder
// and verify them, then commit. Nothing outside the temporary folder changes before the
// commit phase.
#pragma once

#include "package/package.h"

enum ApplyResult : int {
    kApplyAborted = 0,     // refused, cancelled or aborted; the target folder is untouched
    kApplyDone = 1,        // the commit phase ran to its end
    kApplyIncomplete = 2,  // committed, but some files could not be put in place; see
                           // UpgradePackage::commit_failures
};

ApplyResult ApplyPackage(UpgradePackage& package);
// The per-file yes/no question built from message lines `first` and `second`.
bool AskUser(UpgradePackage& package, const FileEntry& entry, int first, int second);
// Deletes the temporary files (except those kept after a failed commit) and the
// temporary folder.
void CleanUpTemporaryFiles(UpgradePackage& package);
// Composes the temporary file name of entry `index` into out; false when it does not fit.
bool TemporaryFileName(const UpgradePackage& package, int index, char* out, size_t size);
