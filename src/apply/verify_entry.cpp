// The per-entry check against the package's target folder, shared by the apply driver's
// first phase and the `verify` command.
#include <cstdio>

#include "apply/driver.h"
#include "apply/identity.h"
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
