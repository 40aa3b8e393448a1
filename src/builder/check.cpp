// The builder's self-check through the applicator's reader and apply driver.
#include "builder/check.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <random>
#include <system_error>

#include "apply/driver.h"
#include "apply/frontend.h"
#include "apply/identity.h"
#include "builder/tree.h"
#include "io/os.h"
#include "package/message_table.h"
#include "package/package.h"

namespace fs = std::filesystem;

namespace {

// A silent front end: every question is answered No and remembered, as are notices.
class CheckFrontEnd : public ApplyFrontEnd {
public:
    void OpenProgress() override {}
    void CloseProgress() override {}
    void SetProgressCaption(const char*) override {}
    void SetProgressItem(int, const char*) override {}
    void RefreshProgress() override {}
    void PaintPercentBar(int) override {}
    void PumpMessages() override {}
    bool AskYesNo(const char* caption, const char* text) override {
        questions.push_back(std::string(caption) + ": " + text);
        return false;
    }
    void Inform(const char* caption, const char* text) override { notices.push_back(std::string(caption) + ": " + text); }
    bool WantsPacing() const override { return false; }

    std::vector<std::string> questions;
    std::vector<std::string> notices;
};

std::string Native(const std::string& name) {
    std::string s = name;
    std::replace(s.begin(), s.end(), '\\', os::kSeparator);
    return s;
}

// Copies a file and gives the copy the original's MS-DOS time stamp.
bool CopyWithStamp(const std::string& from, const std::string& to, std::string* error) {
    std::error_code ec;
    fs::create_directories(fs::path(to).parent_path(), ec);
    if (!fs::copy_file(from, to, fs::copy_options::overwrite_existing, ec)) {
        *error = "cannot copy " + from + " for the check: " + ec.message();
        return false;
    }
    uint32_t stamp = 0;
    os::FileHandle h = os::OpenFile(from.c_str(), os::kModeRead | os::kShareRead);
    bool ok = h != os::kInvalidHandle && os::GetFileStamp(h, &stamp);
    if (h != os::kInvalidHandle) os::CloseFile(h);
    if (ok) {
        h = os::OpenFile(to.c_str(), os::kModeReadWrite);
        ok = h != os::kInvalidHandle && os::SetFileStamp(h, stamp);
        if (h != os::kInvalidHandle) os::CloseFile(h);
    }
    if (!ok) *error = "cannot carry the time stamp of " + from + " over to the check's copy";
    return ok;
}

bool Compare(const std::string& root, const std::vector<CheckEntry>& entries, std::string* error) {
    Tree result;
    if (!ScanTree(root, {}, &result, error)) return false;
    std::map<std::string, const TreeFile*> found;
    for (const TreeFile& f : result.files) found[FoldName(f.name)] = &f;
    for (const std::string& folder : result.folders) {
        if (FoldName(folder) == FoldName(kTempFolderName)) {
            *error = "the applicator left its temporary folder " + std::string(kTempFolderName) + " behind";
            return false;
        }
    }
    for (const CheckEntry& e : entries) {
        auto it = found.find(FoldName(e.name));
        if (e.operation == kOpRemove) {
            if (it != found.end()) {
                *error = e.name + " should have been removed but is still there";
                return false;
            }
            continue;
        }
        if (it == found.end()) {
            *error = e.name + " is missing after the upgrade";
            return false;
        }
        const TreeFile& f = *it->second;
        found.erase(it);
        bool same = false;
        if (f.size != e.new_identity.size || !SameContent(e.new_path, f.path, f.size, &same, error) || !same) {
            if (error->empty()) *error = e.name + " differs from its new version after the upgrade";
            return false;
        }
        FileIdentity id;
        if (!ReadFileIdentity(f.path.c_str(), &id) || id != e.new_identity) {
            *error = e.name + " does not carry its new identity (time stamp) after the upgrade";
            return false;
        }
    }
    if (!found.empty()) {
        *error = found.begin()->second->name + " is left over after the upgrade";
        return false;
    }
    return true;
}

}  // namespace

bool CheckPackage(const std::string& package_path, const std::vector<CheckEntry>& entries,
                  const std::string& scratch_parent, std::string* error) {
    error->clear();
    std::error_code ec;
    // A fresh scratch folder with a short name: the applicator's paths hold 259 characters.
    std::mt19937 random(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    fs::path scratch;
    for (int attempt = 0;; ++attempt) {
        scratch = fs::path(scratch_parent) / ("ambrel-check-" + std::to_string(random() % 1000000));
        if (fs::create_directory(scratch, ec)) break;
        if (attempt == 20) {
            *error = "cannot make a scratch folder in " + scratch_parent + " for the check";
            return false;
        }
    }
    const std::string root = scratch.string();
    bool ok = true;
    // The applicator's paths hold 259 characters: target folder, separator and name.
    for (const CheckEntry& e : entries) {
        if (root.size() + 1 + e.name.size() > static_cast<size_t>(os::kMaxPath - 1)) {
            *error = "the check works in " + root + ", where " + e.name + " does not fit in the applicator's " +
                     std::to_string(os::kMaxPath - 1) + "-character paths (a target folder for this package may have at most " +
                     std::to_string(os::kMaxPath - 1 - e.name.size()) + " characters, its final separator included); " +
                     "use --no-check";
            ok = false;
            break;
        }
    }
    for (const CheckEntry& e : entries) {
        if (!ok) break;
        if (e.operation == kOpAdd) continue;
        if (!CopyWithStamp(e.old_path, root + os::kSeparator + Native(e.name), error)) {
            ok = false;
            break;
        }
    }
    if (ok) {
        CheckFrontEnd frontend;
        std::unique_ptr<UpgradePackage> package =
            UpgradePackage::OpenFull(package_path.c_str(), (root + os::kSeparator).c_str());
        if (!package->IsValid()) {
            *error = "the package does not read back";
            if (!package->RefusalReason().empty()) *error += ": " + package->RefusalReason();
            ok = false;
        } else {
            package->AttachMessages(MessageTable::LoadFromResource(nullptr, {MessageTable::kResourceId, nullptr}));
            const ApplyResult result = ApplyPackage(*package, &frontend);
            package.reset();
            if (!frontend.questions.empty()) {
                *error = "applying the package asked a question: " + frontend.questions.front();
                ok = false;
            } else if (result != kApplyDone) {
                *error = result == kApplyIncomplete ? "applying the package could not put every file in place"
                                                    : "applying the package was aborted";
                if (!frontend.notices.empty()) *error += ": " + frontend.notices.front();
                ok = false;
            }
        }
    }
    if (ok) ok = Compare(root, entries, error);
    fs::remove_all(scratch, ec);
    return ok;
}
