// The search for the installed copy a package upgrades: a breadth-first walk over the
// given roots that tests every folder with the installation match test, and the test of
// one chosen folder.
#include "apply/search.h"

#include <cstring>
#include <deque>

#include "apply/identity.h"
#include "io/file_ops.h"
#include "io/os.h"
#include "package/package.h"

namespace {

// Whether `folder` (with its final separator) is a root: nothing, or a drive such as
// "C:", before the separator.
bool IsRootFolder(const char* folder) {
    const size_t length = std::strlen(folder);
    if (length == 0 || !os::IsSeparator(folder[length - 1])) return false;
    if (length == 1) return true;
    return length == 3 && folder[1] == ':';
}

}  // namespace

// One root is searched completely, level by level, before the next is begun. Subfolders
// whose names begin with "." are not entered, and a subfolder whose path (with a final
// separator) would not fit 260 bytes is skipped. The current folder is restored after.
bool SearchInstalledTarget(UpgradePackage& package, const std::vector<std::string>& roots) {
    CurrentFolderGuard guard;
    std::vector<os::FolderItem> items;
    for (const std::string& root : roots) {
        std::deque<std::string> queue;
        queue.push_back(root);
        while (!queue.empty()) {
            std::string folder = std::move(queue.front());
            queue.pop_front();
            if (!package.SetTargetFolder(folder.c_str())) continue;
            if (InstallationMatches(package)) return true;
            items.clear();
            if (!os::ListFolder(package.target_folder, &items)) continue;
            const std::string parent = package.target_folder;  // ends with a separator
            for (const os::FolderItem& item : items) {
                if (!item.is_folder || !item.representable || item.name.empty() || item.name[0] == '.') continue;
                // The child with the separator the target folder gets must fit, NUL included.
                if (parent.size() + item.name.size() + 2 > static_cast<size_t>(os::kMaxPath)) continue;
                queue.push_back(parent + item.name);
            }
        }
    }
    return false;
}

int LocateInstalledTarget(const char* package_path, char* target, const std::vector<std::string>& roots) {
    const char* placeholder = roots.empty() ? "C:\\" : roots.front().c_str();
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenFull(package_path, placeholder);
    if (!package || !package->IsValid()) return 0;
    if (!SearchInstalledTarget(*package, roots)) return 0;
    char folder[os::kMaxPath];
    std::strncpy(folder, package->target_folder, sizeof folder - 1);
    folder[sizeof folder - 1] = '\0';
    if (!IsRootFolder(folder)) {
        const size_t length = std::strlen(folder);
        if (length > 0 && os::IsSeparator(folder[length - 1])) folder[length - 1] = '\0';
    }
    GetStoredFileName(folder, target);
    return 1;
}

int CheckTargetFolder(const char* package_path, const char* folder) {
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenFull(package_path, folder);
    if (!package || !package->IsValid()) return 0;
    return InstallationMatches(*package) ? 1 : 0;
}
