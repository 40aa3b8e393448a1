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
    kApplyBusy = 3,        // another apply holds the target folder; nothing was done
};

// Applies the fully opened package (with its message table attached) to its target
// folder, one apply per folder at a time (os::FolderLock). `frontend` (may be null: every question is then answered No) shows the progress
// for the length of the call only: it is opened at the start and closed before returning.
ApplyResult ApplyPackage(UpgradePackage& package, ApplyFrontEnd* frontend);

// Lends a front end to a package for one scope: the engine (PollCancel, the rebuild's
// progress, the questions) reaches its user through package.frontend only while this
// object lives, and the package holds no front end before or after.
class FrontEndScope {
public:
    FrontEndScope(UpgradePackage& package, ApplyFrontEnd* frontend);
    ~FrontEndScope();
    FrontEndScope(const FrontEndScope&) = delete;
    FrontEndScope& operator=(const FrontEndScope&) = delete;

private:
    UpgradePackage& package_;
    ApplyFrontEnd* previous_;
};

// The per-file yes/no question built from message lines `first` and `second`.
bool AskUser(UpgradePackage& package, const FileEntry& entry, int first, int second);
// Deletes the temporary files (except those kept after a failed commit) and the
// temporary folder.
void CleanUpTemporaryFiles(UpgradePackage& package);

