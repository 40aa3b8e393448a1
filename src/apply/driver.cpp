// The three-phase apply driver: verify every entry against its old identity, rebuild the
// new versions into a temporary folder inside the target folder and verify them, then put
// them in place. Until the commit phase nothing outside the temporary folder changes; in
// the commit phase a file that cannot be put in place keeps its new version.
#include "apply/driver.h"

#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <set>
#include <string>
#include <vector>

#include "apply/frontend.h"
#include "apply/identity.h"
#include "apply/outcome.h"
#include "apply/progress.h"
#include "apply/rebuild.h"
#include "apply/temporary_files.h"
#include "apply/verify_entry.h"
#include "io/codepage.h"
#include "io/file_ops.h"
#include "io/os.h"
#include "io/stream.h"
#include "package/message_table.h"

namespace {

// The progress display for the length of one apply: opened (which also resets the shared
// progress values) when made, closed when destroyed, whatever way the apply ends.
class ProgressDisplay {
public:
    explicit ProgressDisplay(ApplyFrontEnd* frontend) : frontend_(frontend) {
        if (frontend_ != nullptr)
            frontend_->OpenProgress();
        else
            ResetProgressState();
    }
    ~ProgressDisplay() {
        if (frontend_ != nullptr) frontend_->CloseProgress();
    }
    ProgressDisplay(const ProgressDisplay&) = delete;
    ProgressDisplay& operator=(const ProgressDisplay&) = delete;

private:
    ApplyFrontEnd* frontend_;
};

// Buffer size of the old-file and output streams during the build.
constexpr uint32_t kStreamBuffer = 64 * 1024;
// What the disk takes for a new folder, at least.
constexpr uint64_t kFolderBytes = 4096;

// One apply under way: the package, what phase 1 found at each entry's path, and the
// temporary files.
struct Run {
    explicit Run(UpgradePackage& p) : package(p), temps(p.entries.size()), seen(p.entries.size()) {}
    UpgradePackage& package;
    TemporaryFiles temps;
    std::vector<os::FileState> seen;  // per entry: what its path held when verified
};

void SetItem(UpgradePackage& package, int item, const char* text) {
    if (package.frontend != nullptr) package.frontend->SetProgressItem(item, text);
}

void Refresh(UpgradePackage& package) {
    if (package.frontend != nullptr) package.frontend->RefreshProgress();
}

void ShowEntry(UpgradePackage& package, const FileEntry& entry) {
    SetItem(package, kItemFileName, entry.name);
    SetItem(package, kItemDescription, entry.Description);
    Refresh(package);
}

void Inform(UpgradePackage& package, int line) {
    if (package.frontend != nullptr) package.frontend->Inform(package.Message(kMsgCaption), package.Message(line));
}

// Appends text to the package's text buffer, cutting it at the buffer's end.
void Append(UpgradePackage& package, size_t* length, const char* text) {
    const size_t size = sizeof package.text_buffer;
    while (*text != '\0' && *length + 1 < size) package.text_buffer[(*length)++] = *text++;
    package.text_buffer[*length] = '\0';
}

// Creates every folder between the target folder and the file at `path`, which lies inside
// it. Failures, such as existing folders, are ignored; a missing folder shows up as a failed
// move.
void CreateFoldersOnTheWay(const UpgradePackage& package, char* path) {
    for (size_t k = std::strlen(package.target_folder); k < std::strlen(path); ++k) {
        if (!os::IsSeparator(path[k])) continue;
        const char separator = path[k];
        path[k] = '\0';
        CreateFolder(path);
        path[k] = separator;
    }
}

// Phase 1. Returns false when the run must stop.
bool VerifyAll(Run& run) {
    UpgradePackage& package = run.package;
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        FileEntry& entry = package.entries[i];
        ShowEntry(package, entry);
        if (PollCancel(package)) return false;
        const Finding finding = VerifyPackageEntry(package, i);
        run.seen[static_cast<size_t>(i)] = finding.seen;
        entry.state = finding.warning ? static_cast<uint8_t>(kStateProceed) : finding.code;
        if (finding.line == 0) continue;
        const int policy = finding.warning ? entry.WarningPolicy : entry.ErrorPolicy;
        if (policy == 2) {
            if (AskUser(package, entry, kMsgCriticalVerify, kMsgMoreInfo)) Inform(package, finding.line);
            return false;
        }
        if (policy == 1 && !AskUser(package, entry, finding.line, kMsgContinue)) return false;
    }
    return true;
}

// Rebuilds entry `index` into its temporary file and verifies it through the handle that
// wrote it. Returns true when the file holds the new version (it is then kept open for
// the commit). An entry that is skipped only has its script consumed.
bool BuildEntry(Run& run, int index, FileEntry& entry) {
    UpgradePackage& package = run.package;
    std::unique_ptr<TCVLFStream> old_file;
    std::unique_ptr<TCVLFStream> output;
    const bool wanted = entry.state == kStateProceed;
    if (wanted) {
        if (entry.Operation == kOpUpdate &&
            JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) {
            old_file.reset(new (std::nothrow) TCVLFStream(TCVLFStream::ModeRead, package.path_a));
            if (old_file) old_file->EnableBuffering(kStreamBuffer);
        }
        // A temporary file left by an interrupted run is removed; the new one is created afresh.
        output.reset(new (std::nothrow) TCVLFStream(0, nullptr));
        if (output && run.temps.Create(static_cast<size_t>(index), output.get())) output->EnableBuffering(kStreamBuffer);
    }
    SetItem(package, kItemOperation, package.MessageItem(kMsgOperationWords, entry.Operation));
    // An old file that could not be opened (or allocated) yields nothing, so the built
    // file comes out short and fails its verification.
    TCVLFStream* out = output && output->IsOpen() ? output.get() : nullptr;
    ReconstructFile(package, old_file.get(), out, entry.NewIdentity.size);
    old_file.reset();
    if (!wanted || out == nullptr) return false;
    out->Sync();  // hands the buffered bytes to the file; a failure sets the error flag
    if (out->HasError() || PollCancel(package) || !VerifyBuiltStream(*out, entry.NewIdentity)) return false;
    run.temps.Keep(static_cast<size_t>(index), out);
    return true;
}

enum class BuildOutcome { kNext, kStop };

// Phase 2 policy for a built file that failed its verification.
BuildOutcome HandleFailedBuild(Run& run, int index, FileEntry& entry) {
    UpgradePackage& package = run.package;
    switch (entry.ErrorPolicy) {
    case 2:
        if (AskUser(package, entry, kMsgCriticalBuild, kMsgMoreInfo)) Inform(package, kMsgCriticalDetail);
        SetAbort(package);
        return BuildOutcome::kStop;
    case 1:
        if (!AskUser(package, entry, kMsgBuildSkipped, kMsgContinue)) {
            SetAbort(package);
            return BuildOutcome::kStop;
        }
        break;
    default: break;
    }
    entry.state = kStateBuildFailed;
    run.temps.Delete(static_cast<size_t>(index));
    return BuildOutcome::kNext;
}

// New folders a package may make: as many as it may have entries.
constexpr uint64_t kMaxNewFolders = kMaxEntries;

// Folders that the Add entries still to be done will create: those on the way to their
// files that do not exist yet, each counted once, whatever its letter case. Counting stops
// past kMaxNewFolders. Below a folder found missing nothing is looked up.
uint64_t FoldersNeeded(UpgradePackage& package) {
    std::set<std::string> missing, present;
    const size_t root = std::strlen(package.target_folder);
    for (const FileEntry& entry : package.entries) {
        if (entry.state != kStateProceed || entry.Operation != kOpAdd) continue;
        if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) continue;
        const std::string path = package.path_a;
        bool below_missing = false;
        for (size_t k = root; k < path.size() && missing.size() <= kMaxNewFolders; ++k) {
            if (!os::IsSeparator(path[k])) continue;
            const std::string folder = path.substr(0, k);
            const std::string key = os::FoldedName(folder);
            if (!below_missing && present.count(key) != 0) continue;
            below_missing = below_missing || missing.count(key) != 0 ||
                            os::GetAttributes(folder.c_str()) == os::kInvalidAttributes;
            (below_missing ? missing : present).insert(key);
        }
    }
    return missing.size();
}

// Bytes the new versions of the entries still to be built take on the disk, each rounded
// up to whole 4 KiB blocks, and a block for each of the `folders` to be created.
uint64_t SpaceNeeded(const UpgradePackage& package, uint64_t folders) {
    uint64_t needed = folders * kFolderBytes;
    for (const FileEntry& entry : package.entries) {
        if (entry.state != kStateProceed || !HasNewIdentity(entry.Operation)) continue;
        needed += (static_cast<uint64_t>(entry.NewIdentity.size) + 4095) / 4096 * 4096;
    }
    return needed;
}

std::string Megabytes(uint64_t bytes) {
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Before the first new version is written: the new versions must fit on the disk beside
// the old ones, and the temporary folder must be a real, private folder: made now, or
// left by an interrupted run of the same user. A link, junction or file in its place, or a
// folder others can change, is refused, never used. False, with the reason in
// apply_failure, when the build cannot start.
bool PrepareBuild(Run& run) {
    UpgradePackage& package = run.package;
    const uint64_t folders = FoldersNeeded(package);
    if (folders > kMaxNewFolders) {
        package.apply_failure = "the package would create more than " + std::to_string(kMaxNewFolders) + " new folders";
        return false;
    }
    const uint64_t needed = SpaceNeeded(package, folders);
    const int64_t free_bytes = os::FreeSpace(package.target_folder);
    if (free_bytes >= 0 && static_cast<uint64_t>(free_bytes) < needed) {
        package.apply_failure = "the new files need " + Megabytes(needed) + " of free space in " +
                                package.target_folder + ", but only " + Megabytes(free_bytes) + " are free";
        return false;
    }
    if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, kTempFolderName)) {
        package.apply_failure = "the temporary folder's path is too long";
        return false;
    }
    return run.temps.Open(package.path_a, &package.apply_failure);
}

// Phase 2. Returns false when the run was cancelled or aborted (the temporary files are
// then removed again), or could not start (see PrepareBuild).
bool BuildAll(Run& run) {
    UpgradePackage& package = run.package;
    SetItem(package, kItemOperation, package.Message(kMsgInitializing));
    SetItem(package, kItemBar, " ");
    Refresh(package);
    if (!PrepareBuild(run)) return false;
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        if (PollCancel(package)) break;
        FileEntry& entry = package.entries[i];
        ShowEntry(package, entry);
        if (entry.Operation != kOpAdd && entry.Operation != kOpUpdate) continue;  // no script
        const bool wanted = entry.state == kStateProceed;
        const bool built = BuildEntry(run, i, entry);
        if (!wanted || built) continue;
        if (PollCancel(package)) break;
        if (HandleFailedBuild(run, i, entry) == BuildOutcome::kStop) break;
    }
    if (PollCancel(package)) {
        run.temps.CleanUp({});
        return false;
    }
    return true;
}

// Records that entry `index` was not put in place, and why; `kept` is where its new
// version stays, empty when it has none.
void CommitFailed(UpgradePackage& package, int index, const std::string& kept, const char* why) {
    const FileEntry& entry = package.entries[static_cast<size_t>(index)];
    package.commit_failures.push_back(CommitFailure{entry.name, kept, why, entry.Operation == kOpRemove});
}

// Why the file at `path` could not be replaced or deleted: it is no longer what phase 1
// checked, or something else refused.
const char* WhyNotReplaced(const char* path, const os::FileState& seen) {
    os::FileState now;
    if (!os::LookAt(path, &now)) return "its folder was replaced by a link or a file after it was checked";
    if (now.exists != seen.exists || (now.exists && !os::SameUnchangedFile(now, seen)))
        return "it changed after it was checked";
    return "";
}

// Commits entry `index`: removes its file, or moves its new version into place, when the
// file is still what phase 1 checked.
void CommitEntry(Run& run, int index) {
    UpgradePackage& package = run.package;
    const FileEntry& entry = package.entries[static_cast<size_t>(index)];
    const os::FileState& seen = run.seen[static_cast<size_t>(index)];
    // Phase 1 refused every entry whose paths do not fit, so they compose here.
    if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) return;
    if (entry.Operation == kOpRemove) {
        if (os::DeleteFileIfUnchanged(package.path_a, seen)) return;
        os::FileState now;
        if (os::LookAt(package.path_a, &now) && !now.exists) return;  // gone already
        CommitFailed(package, index, std::string(), WhyNotReplaced(package.path_a, seen));
        return;
    }
    if (entry.Operation != kOpAdd && entry.Operation != kOpUpdate) return;
    if (!TemporaryFileName(package, index, package.path_b, sizeof package.path_b)) return;
    if (entry.Operation == kOpAdd) CreateFoldersOnTheWay(package, package.path_a);
    // The destination is replaced in one step; a read-only destination is refused.
    switch (run.temps.MoveInto(static_cast<size_t>(index), package.path_a, seen)) {
    case os::PrivateFolder::kMoved: break;
    case os::PrivateFolder::kNotHeldFile:
        // What stands in the temporary folder now is not the verified file: never offered.
        CommitFailed(package, index, std::string(), "its verified new version was replaced in the temporary folder");
        break;
    case os::PrivateFolder::kNotMoved:
        CommitFailed(package, index, package.path_b, WhyNotReplaced(package.path_a, seen));
        break;
    }
}

// Phase 3: no cancel, no questions. Every file that cannot be put in place is recorded;
// its new version stays in the temporary folder.
void CommitAll(Run& run) {
    UpgradePackage& package = run.package;
    SetItem(package, kItemOperation, package.Message(kMsgInstalling));
    SetItem(package, kItemBar, " ");
    SetItem(package, kItemButton, "----");
    Refresh(package);
    // Every new version reaches the disk before the first old file is replaced: in one wait
    // where the system allows it.
    run.temps.SyncAll();
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        if (package.entries[static_cast<size_t>(i)].state != kStateProceed) continue;
        ShowEntry(package, package.entries[static_cast<size_t>(i)]);
        CommitEntry(run, i);
    }
}

// Deletes the temporary files except the new versions kept by a failed commit, and the
// temporary folder when nothing is kept in it.
void CleanUpAfterCommit(Run& run) {
    std::vector<bool> kept(run.package.entries.size());
    for (const CommitFailure& failure : run.package.commit_failures) {
        if (failure.kept_file.empty()) continue;
        for (size_t i = 0; i < kept.size(); ++i)
            if (failure.name == run.package.entries[i].name) kept[i] = true;
    }
    run.temps.CleanUp(kept);
}

// Makes the commit durable: every folder from the target folder down to each file that
// was added, replaced or removed has its entries synced, so that a power loss cannot undo
// a rename that was reported done.
void SyncChangedFolders(UpgradePackage& package) {
    std::set<std::string> folders{package.target_folder};
    const size_t root_length = std::strlen(package.target_folder);
    for (const FileEntry& entry : package.entries) {
        if (entry.state != kStateProceed) continue;
        std::string path = std::string(package.target_folder) + entry.name;
        for (size_t k = root_length; k < path.size(); ++k) {
            if (os::IsSeparator(path[k])) folders.insert(path.substr(0, k));
        }
    }
    for (const std::string& folder : folders) os::SyncFolder(folder.c_str());
}

}  // namespace

bool AskUser(UpgradePackage& package, const FileEntry& entry, int first, int second) {
    size_t length = 0;
    package.text_buffer[0] = '\0';
    Append(package, &length, package.MessageItem(kMsgQuestionLabels, 0));
    Append(package, &length, package.MessageItem(kMsgOperationWords, entry.Operation));
    Append(package, &length, "\n\n");
    Append(package, &length, package.MessageItem(kMsgQuestionLabels, 1));
    Append(package, &length, entry.name);
    if (entry.Description[0] != '\0') {
        Append(package, &length, "\n");
        Append(package, &length, package.MessageItem(kMsgQuestionLabels, 2));
        Append(package, &length, entry.Description);
    }
    Append(package, &length, "\n\n");
    Append(package, &length, package.Message(first));
    Append(package, &length, "\n\n");
    Append(package, &length, package.Message(second));
    // Without a front end nobody can say Yes.
    if (package.frontend == nullptr) return false;
    return package.frontend->AskYesNo(package.Message(kMsgCaption), package.text_buffer);
}

void CleanUpTemporaryFiles(UpgradePackage& package) {
    char temp[os::kMaxPath];
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        if (!TemporaryFileName(package, i, temp, sizeof temp)) continue;
        bool kept = false;
        for (const CommitFailure& failure : package.commit_failures)
            kept = kept || (!failure.kept_file.empty() && SamePathText(failure.kept_file.c_str(), temp));
        if (!kept && IsExistingFile(temp)) RemoveFile(temp);
    }
    if (JoinPath(temp, sizeof temp, package.target_folder, kTempFolderName)) RemoveFolder(temp);
}

FrontEndScope::FrontEndScope(UpgradePackage& package, ApplyFrontEnd* frontend)
    : package_(package), previous_(package.frontend) {
    package_.frontend = frontend;
}

FrontEndScope::~FrontEndScope() { package_.frontend = previous_; }

ApplyResult ApplyPackage(UpgradePackage& package, ApplyFrontEnd* frontend) {
    if (!package.IsValid() || !package.IsFull() || package.ProgressTotal == 0 || !package.HasMessages() ||
        !package.stream) {
        return kApplyAborted;
    }
    package.commit_failures.clear();
    package.apply_failure.clear();
    // Nothing below the target folder is reached through a link or junction.
    os::Confinement confine(package.target_folder);
    if (!confine.Active()) {
        package.apply_failure = std::string("the target folder ") + package.target_folder + " cannot be opened";
        return kApplyAborted;
    }
    // One apply per folder: a second one would delete the first one's temporary files.
    os::FolderLock lock;
    switch (lock.Acquire(package.target_folder)) {
    case os::FolderLock::kBusy: package.apply_failure = kBusyText; return kApplyBusy;
    case os::FolderLock::kFailed:
        package.apply_failure = std::string("the target folder ") + package.target_folder + " cannot be opened";
        return kApplyAborted;
    case os::FolderLock::kHeld: break;
    }
    FrontEndScope lend(package, frontend);
    ProgressDisplay display(frontend);
    if (frontend != nullptr) frontend->SetProgressCaption(package.Message(kMsgCaption));
    SetItem(package, kItemButton, package.Message(kMsgCancel));
    SetItem(package, kItemFileName, " ");
    SetItem(package, kItemDescription, " ");
    SetItem(package, kItemOperation, package.Message(kMsgInitializing));
    SetItem(package, kItemBar, " ");
    Refresh(package);

    Run run(package);
    if (!VerifyAll(run)) return kApplyAborted;
    if (!BuildAll(run)) return kApplyAborted;
    CommitAll(run);
    CleanUpAfterCommit(run);
    SyncChangedFolders(package);
    return package.commit_failures.empty() ? kApplyDone : kApplyIncomplete;
}
