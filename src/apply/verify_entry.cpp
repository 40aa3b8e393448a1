// The per-entry check against the package's target folder, shared by the apply driver's
// first phase and the `verify` command.
#include <cstdio>

#include "apply/driver.h"
#include "apply/identity.h"
#include "io/file_ops.h"
#include "package/message_table.h"

Finding VerifyPackageEntry(UpgradePackage& package, int index) {
    const FileEntry& entry = package.entries[index];
    Finding too_long;
    too_long.code = kStatePathTooLong;
    too_long.line = kMsgMissing;
    if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) return too_long;
    if (HasNewIdentity(entry.Operation)) {
        // The entry's build needs its temporary file name.
        char temp[os::kMaxPath];
        if (!TemporaryFileName(package, index, temp, sizeof temp)) return too_long;
    }
    return VerifyEntry(entry, package.path_a);
}
