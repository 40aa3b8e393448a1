// The per-entry checks against the package's target folder: the finding shared by the apply
// driver's first phase and the `verify` command, and whether an entry is already done.
#include "apply/verify_entry.h"

#include <cstdio>

#include "apply/temporary_files.h"
#include "io/file_ops.h"
#include "io/os.h"
#include "package/message_table.h"

Finding VerifyPackageEntry(UpgradePackage& package, int index) {
    const FileEntry& entry = package.entries[index];
    Finding refused;
    refused.code = kStatePathTooLong;
    refused.line = kMsgMissing;
    if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) return refused;
    if (HasNewIdentity(entry.Operation)) {
        // The entry's build needs its temporary file name.
        char temp[os::kMaxPath];
        if (!TemporaryFileName(package, index, temp, sizeof temp)) return refused;
    }
    os::Confinement confine(package.target_folder);
    if (!os::StaysInside(package.path_a)) {
        refused.code = kStateLinked;
        return refused;
    }
    return VerifyEntry(entry, package.path_a);
}

bool EntryAlreadyApplied(UpgradePackage& package, int index) {
    const FileEntry& entry = package.entries[index];
    if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) return false;
    os::Confinement confine(package.target_folder);
    if (!os::StaysInside(package.path_a)) return false;
    if (entry.Operation == kOpRemove) return os::GetAttributes(package.path_a) == os::kInvalidAttributes;
    if (!HasNewIdentity(entry.Operation) || !IsExistingFile(package.path_a)) return false;
    FileIdentity actual;
    return ReadFileIdentity(package.path_a, &actual) && actual == entry.NewIdentity;
}
