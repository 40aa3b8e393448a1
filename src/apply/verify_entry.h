// The per-entry checks of a package against its target folder: the finding shared by the
// apply driver's first phase and the `verify` command, and whether an entry is already done.
#pragma once

#include "apply/identity.h"
#include "package/package.h"

// The finding for entry `index` of the package against its target folder: composes the path
// (target folder + name) into the package's path buffer A and calls VerifyEntry. A path
// that does not fit, or an Add or Update whose temporary file name would not fit, is the
// error finding kStatePathTooLong with message line 13; a path through a link or junction
// below the target folder (which the engine never follows) is kStateLinked with line 13.
Finding VerifyPackageEntry(UpgradePackage& package, int index);

// True when entry `index`'s file already is what the entry makes of it: an Add or Update
// whose file has the new identity (size, check value and stamp), or a Remove whose file is
// gone. A run interrupted in its commit phase leaves such entries; the next run skips them
// as findings, and reports can tell them from files that still hold their old versions.
bool EntryAlreadyApplied(UpgradePackage& package, int index);
