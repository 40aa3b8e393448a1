// Temporary files of an apply, created, verified and moved through held handles.
#include "apply/temporary_files.h"

#include <cstdio>

#include "package/format.h"

namespace {

// Open files the process keeps for its own use (the package, an old file, the folders
// on a path, the terminal) beside the held temporary files.
constexpr uint32_t kReservedHandles = 64;

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

TemporaryFiles::TemporaryFiles(size_t entries) : files_(entries) {}

TemporaryFiles::~TemporaryFiles() {
    for (Held& held : files_) os::CloseFile(held.handle);
}

std::string TemporaryFiles::Name(size_t index) {
    char name[16];
    std::snprintf(name, sizeof name, "N%05u.TMP", static_cast<unsigned>(index));
    return name;
}

bool TemporaryFiles::Open(const char* path, std::string* why) {
    const uint32_t limit = os::RaiseOpenFileLimit();
    budget_ = limit > 2 * kReservedHandles ? limit - kReservedHandles : limit / 2;
    // A folder an interrupted run left may hold files of any entry.
    leftovers_ = os::GetAttributes(path) != os::kInvalidAttributes;
    return folder_.Open(path, why);
}

bool TemporaryFiles::Create(size_t index, TCVLFStream* stream) {
    Held& held = files_[index];
    os::CloseFile(held.handle);
    if (held.handle != os::kInvalidHandle) --open_;
    held = Held();
    const os::FileHandle handle = folder_.CreateFile(Name(index).c_str());
    held.made = handle != os::kInvalidHandle;
    stream->Adopt(handle, TCVLFStream::ModeReadWrite);
    return held.made;
}

void TemporaryFiles::Keep(size_t index, TCVLFStream* stream) {
    Held& held = files_[index];
    held.handle = stream->Release();
    if (held.handle == os::kInvalidHandle) return;
    os::StartWriteback(held.handle);  // the wait before the commit is then shorter
    if (open_ < budget_) {
        ++open_;
        return;
    }
    held.closed = os::GetFileState(held.handle, &held.state);
    os::CloseFile(held.handle);
    held.handle = os::kInvalidHandle;
}

void TemporaryFiles::Delete(size_t index) {
    Held& held = files_[index];
    if (held.handle != os::kInvalidHandle) {
        os::CloseFile(held.handle);
        --open_;
    }
    const bool made = held.made;
    held = Held();
    if (made || leftovers_) folder_.DeleteFile(Name(index).c_str());
}

bool TemporaryFiles::SyncAll() {
    synced_ = folder_.SyncFileSystem();
    return synced_;
}

os::PrivateFolder::MoveResult TemporaryFiles::MoveInto(size_t index, const char* destination,
                                                       const os::FileState& expected) {
    Held& held = files_[index];
    os::FileHandle handle = held.handle;
    if (handle != os::kInvalidHandle) {
        --open_;
    } else if (held.closed) {
        // Opened again by name in the private folder: it must be the file that was closed.
        handle = folder_.OpenFile(Name(index).c_str());
        os::FileState now;
        if (handle != os::kInvalidHandle && (!os::GetFileState(handle, &now) || !os::SameUnchangedFile(now, held.state))) {
            os::CloseFile(handle);
            held = Held();
            held.made = true;
            return os::PrivateFolder::kNotHeldFile;
        }
    }
    held = Held();
    const os::PrivateFolder::MoveResult result =
        handle == os::kInvalidHandle ? os::PrivateFolder::kNotMoved
                                     : folder_.MoveInto(Name(index).c_str(), handle, destination, expected, synced_);
    held.made = result != os::PrivateFolder::kMoved;  // what stays there is deleted at the end, unless kept
    return result;
}

void TemporaryFiles::CleanUp(const std::vector<bool>& kept) {
    if (!folder_.IsOpen()) return;
    for (size_t i = 0; i < files_.size(); ++i) {
        if (i < kept.size() && kept[i]) {
            os::CloseFile(files_[i].handle);
            files_[i] = Held();
            continue;
        }
        Delete(i);
    }
    open_ = 0;
    folder_.Remove();
}
