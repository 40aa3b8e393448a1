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

#include "apply/frontend.h"
#include "apply/identity.h"
#include "apply/verify_entry.h"
#include "apply/progress.h"
#include "apply/rebuild.h"
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

// Whether the kept new version of a failed commit is at `path`.
bool IsKeptFile(const UpgradePackage& package, const char* path) {
    for (const CommitFailure& failure : package.commit_failures) {
        if (!failure.kept_file.empty() && SamePathText(failure.kept_file.c_str(), path)) return true;
    }
    return false;
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
bool VerifyAll(UpgradePackage& package) {
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        FileEntry& entry = package.entries[i];
        ShowEntry(package, entry);
        if (PollCancel(package)) return false;
        const Finding finding = VerifyPackageEntry(package, i);
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

// Rebuilds entry `index` into its temporary file. Returns true when the temporary file
// was written without a stream error (it still has to pass verification). An entry that
// is skipped only has its script consumed.
bool BuildEntry(UpgradePackage& package, int index, FileEntry& entry) {
    std::unique_ptr<TCVLFStream> old_file;
    std::unique_ptr<TCVLFStream> output;
    const bool wanted = entry.state == kStateProceed;
    if (wanted) {
        if (entry.Operation == kOpUpdate &&
            JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) {
            old_file.reset(new (std::nothrow) TCVLFStream(TCVLFStream::ModeRead, package.path_a));
            if (old_file) old_file->EnableBuffering(kStreamBuffer);
        }
        // A temporary file left by an interrupted run, or anything planted in its place, is
        // removed (a link itself, never what it points to); the new one is created afresh.
        if (TemporaryFileName(package, index, package.path_a, sizeof package.path_a)) {
            if (os::GetAttributes(package.path_a) != os::kInvalidAttributes) RemoveFile(package.path_a);
            output.reset(new (std::nothrow) TCVLFStream(TCVLFStream::ModeCreateNew, package.path_a));
            if (output) output->EnableBuffering(kStreamBuffer);
        }
    }
    SetItem(package, kItemOperation, package.MessageItem(kMsgOperationWords, entry.Operation));
    // An old file that could not be opened (or allocated) yields nothing, so the built
    // file comes out short and fails its verification.
    ReconstructFile(package, old_file.get(), output.get(), entry.NewIdentity.size);
    old_file.reset();
    if (!wanted) return false;
    if (!output || !output->IsOpen()) return false;
    output->Sync();  // hands the buffered bytes to the file; a failure sets the error flag
    const bool written = !output->HasError();
    output.reset();
    return written;
}

enum class BuildOutcome { kNext, kStop };

// Phase 2 policy for a built file that failed its verification.
BuildOutcome HandleFailedBuild(UpgradePackage& package, int index, FileEntry& entry) {
    char temp[os::kMaxPath];
    const bool named = TemporaryFileName(package, index, temp, sizeof temp);
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
    if (named) RemoveFile(temp);
    return BuildOutcome::kNext;
}

// Bytes the new versions of the entries still to be built take on the disk, each rounded
// up to whole 4 KiB blocks.
uint64_t SpaceNeeded(const UpgradePackage& package) {
    uint64_t needed = 0;
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
// the old ones, and the temporary folder must be a real folder: made now, or left by an
// interrupted run. A link, junction or file in its place is refused, never used. False,
// with the reason in apply_failure, when the build cannot start.
bool PrepareBuild(UpgradePackage& package) {
    const uint64_t needed = SpaceNeeded(package);
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
    const std::string temp = package.path_a;
    const uint32_t attributes = os::GetAttributes(temp.c_str());
    const bool exists = attributes != os::kInvalidAttributes;
    if (!os::StaysInside(temp.c_str()) ||
        (exists && ((attributes & os::kAttrReparsePoint) || !(attributes & os::kAttrDirectory)))) {
        package.apply_failure = temp + " is a link or a file, not a folder; remove it and try again";
        return false;
    }
    if (!exists && !CreateFolder(temp.c_str())) {
        package.apply_failure = "the temporary folder " + temp + " cannot be created";
        return false;
    }
    return true;
}

// Phase 2. Returns false when the run was cancelled or aborted (the temporary files are
// then removed again), or could not start (see PrepareBuild).
bool BuildAll(UpgradePackage& package) {
    SetItem(package, kItemOperation, package.Message(kMsgInitializing));
    SetItem(package, kItemBar, " ");
    Refresh(package);
    if (!PrepareBuild(package)) return false;
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        if (PollCancel(package)) break;
        FileEntry& entry = package.entries[i];
        ShowEntry(package, entry);
        if (entry.Operation != kOpAdd && entry.Operation != kOpUpdate) continue;  // no script
        const bool wanted = entry.state == kStateProceed;
        const bool written = BuildEntry(package, i, entry);
        if (!wanted) continue;
        if (PollCancel(package)) break;
        char temp[os::kMaxPath];
        if (written && TemporaryFileName(package, i, temp, sizeof temp) && VerifyBuiltFile(temp, entry.NewIdentity)) {
            continue;
        }
        if (HandleFailedBuild(package, i, entry) == BuildOutcome::kStop) break;
    }
    if (PollCancel(package)) {
        CleanUpTemporaryFiles(package);
        return false;
    }
    return true;
}

// Phase 3: no cancel, no questions. Every file that cannot be put in place is recorded;
// its new version stays in the temporary folder.
void CommitAll(UpgradePackage& package) {
    SetItem(package, kItemOperation, package.Message(kMsgInstalling));
    SetItem(package, kItemBar, " ");
    SetItem(package, kItemButton, "----");
    Refresh(package);
    const int count = static_cast<int>(package.entries.size());
    for (int i = 0; i < count; ++i) {
        FileEntry& entry = package.entries[i];
        if (entry.state != kStateProceed) continue;
        ShowEntry(package, entry);
        // Phase 1 refused every entry whose paths do not fit, so both compose here.
        if (!JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name)) continue;
        if (entry.Operation == kOpRemove) {
            if (!RemoveFile(package.path_a) && os::GetAttributes(package.path_a) != os::kInvalidAttributes) {
                package.commit_failures.push_back(CommitFailure{entry.name, std::string()});
            }
            continue;
        }
        if (entry.Operation != kOpAdd && entry.Operation != kOpUpdate) continue;
        if (!TemporaryFileName(package, i, package.path_b, sizeof package.path_b)) continue;
        if (entry.Operation == kOpAdd) CreateFoldersOnTheWay(package, package.path_a);
        // The destination is replaced in one step where the system can (else it is deleted
        // just before the move); a read-only destination is refused either way.
        if (!MoveFileReplacing(package.path_b, package.path_a)) {
            package.commit_failures.push_back(CommitFailure{entry.name, package.path_b});
        }
    }
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

bool TemporaryFileName(const UpgradePackage& package, int index, char* out, size_t size) {
    if (size == 0) return false;
    const int n = std::snprintf(out, size, "%s%s%cN%05d.TMP", package.target_folder, kTempFolderName,
                                os::kSeparator, index);
    if (n < 0 || static_cast<size_t>(n) >= size) {
        out[0] = '\0';
        return false;
    }
    return true;
}

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
        if (IsKeptFile(package, temp)) continue;
        if (IsExistingFile(temp)) RemoveFile(temp);
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
    FrontEndScope lend(package, frontend);
    ProgressDisplay display(frontend);
    if (frontend != nullptr) frontend->SetProgressCaption(package.Message(kMsgCaption));
    SetItem(package, kItemButton, package.Message(kMsgCancel));
    SetItem(package, kItemFileName, " ");
    SetItem(package, kItemDescription, " ");
    SetItem(package, kItemOperation, package.Message(kMsgInitializing));
    SetItem(package, kItemBar, " ");
    Refresh(package);

    if (!VerifyAll(package)) return kApplyAborted;
    if (!BuildAll(package)) return kApplyAborted;
    CommitAll(package);
    CleanUpTemporaryFiles(package);
    SyncChangedFolders(package);
    return package.commit_failures.empty() ? kApplyDone : kApplyIncomplete;
}
