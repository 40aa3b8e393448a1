// The Win32 OS layer's handle-held work: what stands at a path, the engine's private
// folder (an access list for the running user alone, held open without delete sharing so
// that it cannot be renamed away) and the files in it (held without write or delete
// sharing), the delete that checks first, the one-apply-per-folder lock (a named mutex)
// and the open-file limit.
#include "io/os.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "io/codepage.h"
#include "io/os_win32_internal.h"

namespace os {

using win32::H;
using win32::Injected;
using win32::Refused;
using win32::WithBackslashes;

struct PrivateFolderState {
    HANDLE folder;     // held open: the folder cannot be renamed or deleted meanwhile
    std::string path;  // with a final "\"
};

struct FolderLockState {
    HANDLE mutex;
};

namespace {

int64_t Ticks(const FILETIME& t) {
    return static_cast<int64_t>((static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime);
}

FileState StateOf(const BY_HANDLE_FILE_INFORMATION& info) {
    FileState s;
    s.exists = true;
    s.regular = (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT | FILE_ATTRIBUTE_DEVICE)) == 0;
    s.size = (static_cast<uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    s.volume = info.dwVolumeSerialNumber;
    s.file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    s.links = info.nNumberOfLinks;
    s.written = Ticks(info.ftLastWriteTime);
    return s;
}

bool ReadOnly(const char* path) {
    const DWORD a = GetFileAttributesA(path);
    return a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY);
}

bool AsExpected(const FileState& now, const FileState& expected) {
    if (!expected.exists) return !now.exists;
    return now.regular && SameUnchangedFile(now, expected);
}

// A security descriptor whose access list grants the running user everything and nobody
// else anything, inherited by what is created inside. Owns its memory.
class PrivateAccess {
public:
    PrivateAccess() {
        HANDLE token = nullptr;
        if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return;
        DWORD size = 0;
        GetTokenInformation(token, TokenUser, nullptr, 0, &size);
        user_.resize(size);
        const bool have_user = size > 0 && GetTokenInformation(token, TokenUser, user_.data(), size, &size);
        CloseHandle(token);
        if (!have_user) return;
        PSID sid = reinterpret_cast<TOKEN_USER*>(user_.data())->User.Sid;
        acl_.resize(sizeof(ACL) + sizeof(ACCESS_ALLOWED_ACE) + GetLengthSid(sid));
        PACL acl = reinterpret_cast<PACL>(acl_.data());
        ready_ = InitializeAcl(acl, static_cast<DWORD>(acl_.size()), ACL_REVISION) &&
                 AddAccessAllowedAceEx(acl, ACL_REVISION, OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE, GENERIC_ALL, sid) &&
                 InitializeSecurityDescriptor(&descriptor_, SECURITY_DESCRIPTOR_REVISION) &&
                 SetSecurityDescriptorDacl(&descriptor_, TRUE, acl, FALSE) &&
                 SetSecurityDescriptorControl(&descriptor_, SE_DACL_PROTECTED, SE_DACL_PROTECTED);
        attributes_.nLength = sizeof attributes_;
        attributes_.lpSecurityDescriptor = &descriptor_;
        attributes_.bInheritHandle = FALSE;
    }
    // Null when the descriptor could not be made: the folder then takes the access of
    // its parent, as before.
    SECURITY_ATTRIBUTES* Attributes() { return ready_ ? &attributes_ : nullptr; }

private:
    std::vector<BYTE> user_;
    std::vector<BYTE> acl_;
    SECURITY_DESCRIPTOR descriptor_{};
    SECURITY_ATTRIBUTES attributes_{};
    bool ready_ = false;
};

}  // namespace

bool SameUnchangedFile(const FileState& a, const FileState& b) {
    return a.exists == b.exists && a.regular == b.regular && a.size == b.size && a.volume == b.volume &&
           a.file == b.file && a.written == b.written && a.changed == b.changed;
}

bool GetFileState(FileHandle h, FileState* state) {
    *state = FileState();
    BY_HANDLE_FILE_INFORMATION info;
    if (h == kInvalidHandle || !GetFileInformationByHandle(H(h), &info)) return false;
    *state = StateOf(info);
    return true;
}

bool LookAt(const char* path, FileState* state) {
    *state = FileState();
    if (Refused(path)) return false;
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) {
        const DWORD error = GetLastError();
        return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND;
    }
    // Attributes only: opening for them neither blocks nor conflicts with other users.
    HANDLE h = CreateFileA(path, FILE_READ_ATTRIBUTES, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    BY_HANDLE_FILE_INFORMATION info;
    const bool known = h != INVALID_HANDLE_VALUE && GetFileInformationByHandle(h, &info);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
    if (known) {
        *state = StateOf(info);
        return true;
    }
    state->exists = true;
    state->regular = (data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
    state->size = (static_cast<uint64_t>(data.nFileSizeHigh) << 32) | data.nFileSizeLow;
    state->written = Ticks(data.ftLastWriteTime);
    return true;
}

bool DeleteFileIfUnchanged(const char* path, const FileState& expected) {
    if (Injected(FaultKind::kDelete)) return false;
    FileState now;
    if (!LookAt(path, &now) || !now.regular || !SameUnchangedFile(now, expected) || ReadOnly(path)) return false;
    return DeleteFileA(path) != 0;
}

// ---- The private folder --------------------------------------------------------------

PrivateFolder::~PrivateFolder() {
    if (state_ != nullptr) CloseHandle(state_->folder);
    delete state_;
}

bool PrivateFolder::Open(const char* path, std::string* why) {
    if (state_ != nullptr) return true;
    if (Refused(path)) {
        *why = std::string(path) + " is a link or a file, not a folder; remove it and try again";
        return false;
    }
    PrivateAccess access;
    if (Injected(FaultKind::kCreateFolder) ||
        (!CreateDirectoryA(path, access.Attributes()) && GetLastError() != ERROR_ALREADY_EXISTS)) {
        *why = std::string("the temporary folder ") + path + " cannot be created";
        return false;
    }
    const DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY) || (a & FILE_ATTRIBUTE_REPARSE_POINT)) {
        *why = std::string(path) + " is a link or a file, not a folder; remove it and try again";
        return false;
    }
    // Without delete sharing nobody can rename or remove the folder while it is held.
    HANDLE folder = CreateFileA(path, FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (folder == INVALID_HANDLE_VALUE) {
        *why = std::string("the temporary folder ") + path + " cannot be opened";
        return false;
    }
    std::string p = WithBackslashes(path);
    if (p.back() != '\\') p += '\\';
    state_ = new PrivateFolderState{folder, p};
    return true;
}

FileHandle PrivateFolder::CreateFile(const char* name) {
    if (state_ == nullptr || Injected(FaultKind::kOpen)) return kInvalidHandle;
    const std::string path = state_->path + name;
    DeleteFileA(path.c_str());
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    return h == INVALID_HANDLE_VALUE ? kInvalidHandle : reinterpret_cast<FileHandle>(h);
}

FileHandle PrivateFolder::OpenFile(const char* name) {
    if (state_ == nullptr || Injected(FaultKind::kOpen)) return kInvalidHandle;
    const std::string path = state_->path + name;
    HANDLE h = CreateFileA(path.c_str(), GENERIC_READ | GENERIC_WRITE, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidHandle;
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        return kInvalidHandle;
    }
    return reinterpret_cast<FileHandle>(h);
}

bool PrivateFolder::DeleteFile(const char* name) {
    return state_ != nullptr && !Injected(FaultKind::kDelete) && DeleteFileA((state_->path + name).c_str()) != 0;
}

// The move itself goes by name: the held file is closed just before it (a file held
// without delete sharing cannot be moved), in a folder that only this user can change.
// Windows has no one call for a whole volume that a user may make: each file is flushed.
bool PrivateFolder::SyncFileSystem() { return false; }

PrivateFolder::MoveResult PrivateFolder::MoveInto(const char* name, FileHandle file, const char* destination,
                                                  const FileState& expected, bool synced) {
    if (state_ == nullptr || file == kInvalidHandle || Injected(FaultKind::kMove) || Refused(destination)) {
        CloseFile(file);
        return kNotMoved;
    }
    const std::string from = state_->path + name;
    FileState held, named, there;
    const bool known = GetFileState(file, &held) && LookAt(from.c_str(), &named);
    const bool same = known && named.exists && named.volume == held.volume && named.file == held.file && held.links == 1;
    const bool flushed = same && (synced || FlushFileBuffers(H(file)));
    CloseFile(file);
    if (known && !same) return kNotHeldFile;
    if (!flushed || !LookAt(destination, &there) || !AsExpected(there, expected)) return kNotMoved;
    if (there.exists && ReadOnly(destination)) return kNotMoved;
    const DWORD flags = MOVEFILE_WRITE_THROUGH | (there.exists ? MOVEFILE_REPLACE_EXISTING : 0);
    if (MoveFileExA(from.c_str(), destination, flags)) return kMoved;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return kNotMoved;
    if (there.exists) DeleteFileA(destination);
    return MoveFileA(from.c_str(), destination) ? kMoved : kNotMoved;
}

void PrivateFolder::Remove() {
    if (state_ == nullptr) return;
    CloseHandle(state_->folder);
    if (!Injected(FaultKind::kDelete)) RemoveDirectoryA(state_->path.c_str());
    delete state_;
    state_ = nullptr;
}

// Windows counts handles by the million; there is no limit to raise.
uint32_t RaiseOpenFileLimit() { return 1u << 20; }

// ---- One apply per folder --------------------------------------------------------------

FolderLock::~FolderLock() {
    if (state_ != nullptr) CloseHandle(state_->mutex);  // the mutex ends with its last handle
    delete state_;
}

// The mutex is named after the folder's full path with its letters folded, so that every
// spelling of one folder meets the same mutex.
FolderLock::Result FolderLock::Acquire(const char* folder) {
    if (state_ != nullptr) return kHeld;
    char full[MAX_PATH];
    const DWORD n = GetFullPathNameA(folder, sizeof full, full, nullptr);
    if (n == 0 || n >= sizeof full) return kFailed;
    std::string key = FoldedName(WithBackslashes(full));
    while (key.size() > 3 && key.back() == '\\') key.pop_back();
    uint64_t hash = 1469598103934665603ull;  // FNV-1a over the folded path
    for (unsigned char c : key) hash = (hash ^ c) * 1099511628211ull;
    char name[64];
    std::snprintf(name, sizeof name, "Local\\AmbrelApply-%016llx", static_cast<unsigned long long>(hash));
    HANDLE mutex = CreateMutexA(nullptr, FALSE, name);
    if (mutex == nullptr) return kFailed;
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        CloseHandle(mutex);
        return kBusy;
    }
    state_ = new FolderLockState{mutex};
    return kHeld;
}

// ---- Private files ---------------------------------------------------------------------

bool CreatePrivateFolder(const char* prefix, std::string* path) {
    char temp[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof temp, temp);
    if (n == 0 || n > MAX_PATH) return false;
    PrivateAccess security;
    if (security.Attributes() == nullptr) return false;
    static unsigned counter = 0;
    for (int attempt = 0; attempt < 100; ++attempt) {
        char name[64];
        std::snprintf(name, sizeof name, "%s%08lx%04x", prefix, GetCurrentProcessId() ^ (GetTickCount() << 8),
                      (counter++) & 0xFFFF);
        std::string folder = std::string(temp) + name;
        if (folder.size() + 1 + 32 + 1 > static_cast<size_t>(kMaxPath)) return false;
        if (CreateDirectoryA(folder.c_str(), security.Attributes())) {
            *path = folder + "\\";
            return true;
        }
        if (GetLastError() != ERROR_ALREADY_EXISTS) return false;
    }
    return false;
}

FileHandle CreatePrivateFile(const char* path) {
    if (Injected(FaultKind::kOpen)) return kInvalidHandle;
    PrivateAccess security;
    if (security.Attributes() == nullptr) return kInvalidHandle;
    HANDLE h = CreateFileA(WithBackslashes(path).c_str(), GENERIC_READ | GENERIC_WRITE, 0, security.Attributes(),
                           CREATE_NEW, FILE_ATTRIBUTE_TEMPORARY, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidHandle;
    return reinterpret_cast<FileHandle>(h);
}

}  // namespace os
