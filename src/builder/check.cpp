// The builder's self-check through the applicator's reader and apply driver.
#include "builder/check.h"

#include <algorithm>
#include <chrono>
#include <map>
#include <memory>
#include <random>
#include <thread>

#include "apply/driver.h"
#include "apply/frontend.h"
#include "apply/identity.h"
#include "apply/progress.h"
#include "builder/scoped_file.h"
#include "builder/tree.h"
#include "io/os.h"
#include "package/message_table.h"
#include "package/package.h"

namespace {

// A silent front end: every question is answered No and remembered, as are notices and
// the entry being worked on. Opening the progress display resets the engine's shared
// progress state, as every front end does: a cancel or abort of an earlier apply in this
// process must not carry over.
class CheckFrontEnd : public ApplyFrontEnd {
public:
    void OpenProgress() override { ResetProgressState(); }
    void CloseProgress() override {}
    void SetProgressCaption(const char*) override {}
    void SetProgressItem(int item, const char* text) override {
        if (item == kItemFileName) entry = text;
    }
    void RefreshProgress() override {}
    void PaintPercentBar(int) override {}
    void PumpMessages() override {}
    bool AskYesNo(const char* caption, const char* text) override {
        questions.push_back(std::string(caption) + ": " + text);
        return false;
    }
    void Inform(const char* caption, const char* text) override { notices.push_back(std::string(caption) + ": " + text); }
    bool WantsPacing() const override { return false; }
    uint32_t RebuildChunk() const override { return 64 * 1024; }

    std::vector<std::string> questions;
    std::vector<std::string> notices;
    std::string entry;  // " " before the first entry
};

std::string Native(const std::string& name) {
    std::string s = name;
    std::replace(s.begin(), s.end(), '\\', os::kSeparator);
    return s;
}

// `name` inside `folder`, with a separator between them unless the folder ends in one.
std::string InFolder(const std::string& folder, const std::string& name) {
    if (folder.empty() || os::IsSeparator(folder.back())) return folder + name;
    return folder + os::kSeparator + name;
}

// Makes a new folder with a short name in `parent`: the applicator's paths hold 259
// characters. False with *error when none can be made.
bool MakeScratchFolder(const std::string& parent, std::string* root, std::string* error) {
    std::mt19937 random(static_cast<uint32_t>(std::chrono::steady_clock::now().time_since_epoch().count()));
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::string path = InFolder(parent, "ambrel-check-" + std::to_string(random() % 1000000));
        if (os::CreateFolder(path.c_str())) {
            *root = path;
            return true;
        }
        if (os::GetAttributes(path.c_str()) == os::kInvalidAttributes) break;  // not a name clash
    }
    *error = "cannot make a scratch folder in " + parent + " for the check";
    return false;
}

// Deletes a folder and everything in it. Links are deleted, never followed. False when
// anything is left.
bool DeleteTree(const std::string& folder) {
    std::vector<os::FolderItem> items;
    bool ok = os::ListFolder(folder.c_str(), &items);
    for (const os::FolderItem& item : items) {
        if (item.name == "." || item.name == "..") continue;
        const std::string path = InFolder(folder, item.name);
        ok = (item.is_folder ? DeleteTree(path) : os::DeleteFile(path.c_str())) && ok;
    }
    return os::RemoveFolder(folder.c_str()) && ok;
}

// Deletes the scratch folder. A second try follows a short pause: on Windows a virus
// scanner or the indexer often holds a file that has just been written open for a moment.
bool DeleteScratchFolder(const std::string& root) {
    if (DeleteTree(root) || os::GetAttributes(root.c_str()) == os::kInvalidAttributes) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return DeleteTree(root);
}

// Creates the folders of `name` ("\" between them) below `root` that are not there yet;
// false with *error when one cannot be made.
bool CreateFoldersOf(const std::string& root, const std::string& name, std::string* error) {
    for (size_t cut = name.find('\\'); cut != std::string::npos; cut = name.find('\\', cut + 1)) {
        const std::string folder = InFolder(root, Native(name.substr(0, cut)));
        if (os::CreateFolder(folder.c_str())) continue;
        const uint32_t attributes = os::GetAttributes(folder.c_str());
        if (attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory) != 0) continue;
        *error = "cannot create the folder " + folder + " for the check";
        return false;
    }
    return true;
}

// Copies the bytes of one open file into another; false with *error naming the file that
// failed.
bool CopyBytes(const ScopedFile& in, const ScopedFile& out, const std::string& from, const std::string& to,
               std::string* error) {
    std::vector<uint8_t> buffer(1u << 20);
    for (;;) {
        uint32_t got = 0, put = 0;
        if (!os::ReadFile(in.get(), buffer.data(), static_cast<uint32_t>(buffer.size()), &got)) {
            *error = "cannot read " + from + " for the check";
            return false;
        }
        if (got == 0) return true;
        if (!os::WriteFile(out.get(), buffer.data(), got, &put) || put != got) {
            *error = "cannot write the check's copy " + to;
            return false;
        }
    }
}

// Copies a file and gives the copy the original's MS-DOS time stamp.
bool CopyWithStamp(const std::string& from, const std::string& to, std::string* error) {
    uint32_t stamp = 0;
    {
        ScopedFile in(os::OpenFile(from.c_str(), os::kModeRead | os::kShareRead));
        if (!in.ok() || !os::GetFileStamp(in.get(), &stamp)) {
            *error = "cannot open " + from + " for the check, or read its time stamp";
            return false;
        }
        ScopedFile out(os::OpenFile(to.c_str(), os::kModeCreateNew));
        if (!out.ok()) {
            *error = "cannot create the check's copy " + to;
            return false;
        }
        if (!CopyBytes(in, out, from, to, error)) return false;
    }
    // Stamped through a handle of its own once the bytes are written and closed, so that
    // closing cannot move the time on.
    ScopedFile copy(os::OpenFile(to.c_str(), os::kModeReadWrite));
    if (!copy.ok() || !os::SetFileStamp(copy.get(), stamp)) {
        *error = "cannot carry the time stamp of " + from + " over to the check's copy " + to;
        return false;
    }
    return true;
}

// Every name must fit the applicator's 259-character paths below the scratch folder.
bool NamesFit(const std::string& root, const std::vector<CheckEntry>& entries, std::string* error) {
    for (const CheckEntry& e : entries) {
        if (root.size() + 1 + e.name.size() > static_cast<size_t>(os::kMaxPath - 1)) {
            *error = "the check works in " + root + ", where " + e.name + " does not fit in the applicator's " +
                     std::to_string(os::kMaxPath - 1) + "-character paths (a target folder for this package may have at most " +
                     std::to_string(os::kMaxPath - 1 - e.name.size()) + " characters, its final separator included); " +
                     "use --no-check";
            return false;
        }
    }
    return true;
}

// The old files of every Update and Remove, with their time stamps, in the scratch folder.
bool CopyOldFiles(const std::string& root, const std::vector<CheckEntry>& entries, std::string* error) {
    for (const CheckEntry& e : entries) {
        if (e.operation == kOpAdd) continue;
        if (!CreateFoldersOf(root, e.name, error)) return false;
        if (!CopyWithStamp(e.old_path, InFolder(root, Native(e.name)), error)) return false;
    }
    return true;
}

// Applies the package to the scratch folder with the applicator's reader and driver,
// answering No to any question.
bool ApplyInScratch(const std::string& package_path, const std::string& root, std::string* error) {
    CheckFrontEnd frontend;
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenFull(package_path.c_str(), InFolder(root, "").c_str());
    if (!package->IsValid()) {
        *error = "the package " + package_path + " does not read back";
        if (!package->RefusalReason().empty()) *error += ": " + package->RefusalReason();
        return false;
    }
    package->AttachMessages(MessageTable::LoadFromResource(nullptr, {MessageTable::kResourceId, nullptr}));
    const ApplyResult result = ApplyPackage(*package, &frontend);
    const std::string apply_failure = package->apply_failure;
    const std::string not_in_place = package->commit_failures.empty() ? "" : package->commit_failures.front().name;
    package.reset();
    if (!frontend.questions.empty()) {
        *error = "applying the package asked a question: " + frontend.questions.front();
        return false;
    }
    if (result == kApplyIncomplete) {
        *error = "applying the package could not put every file in place: " + not_in_place;
        return false;
    }
    if (result != kApplyDone) {
        // What stopped it: a reason of the whole apply, else the entry it was at.
        *error = "applying the package was aborted";
        if (!apply_failure.empty())
            *error += ": " + apply_failure;
        else if (!frontend.entry.empty() && frontend.entry != " ")
            *error += " at " + frontend.entry;
        if (!frontend.notices.empty()) *error += ": " + frontend.notices.front();
        return false;
    }
    return true;
}

// Compares the scratch folder after the apply with the new files: every Add and Update
// file equal to its new version and carrying its new identity, every Remove gone, nothing
// else there (the applicator's temporary folder included).
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
        // The size was compared above: an identity of another size was read short.
        if (!ReadFileIdentity(f.path.c_str(), &id) || id.size != f.size) {
            *error = "cannot read the identity of " + f.path + " after the upgrade";
            return false;
        }
        if (id != e.new_identity) {
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
                  const std::string& scratch_parent, std::string* error, std::string* left_behind) {
    error->clear();
    if (left_behind != nullptr) left_behind->clear();
    std::string root;
    if (!MakeScratchFolder(scratch_parent, &root, error)) return false;
    const bool ok = NamesFit(root, entries, error) && CopyOldFiles(root, entries, error) &&
                    ApplyInScratch(package_path, root, error) && Compare(root, entries, error);
    if (!DeleteScratchFolder(root) && left_behind != nullptr) *left_behind = root;
    return ok;
}
