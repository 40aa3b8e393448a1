// Win32 implementation of the thin OS layer: each function is one or two ANSI API calls.
// The only file of the core that includes windows.h. Inside a Confinement every folder on
// a path below the confinement folder is checked for reparse points (links, junctions)
// before the call, and files are opened without following a final reparse point.
#include "io/os.h"

#include "io/codepage.h"
#include "io/os_win32_internal.h"

namespace os {

const char kSeparator = '\\';

// The folder of one Confinement, with "\" separators and a final "\".
struct ConfinementState {
    std::string root;
    ConfinementState* outer;
};

namespace win32 {

namespace {

ConfinementState* g_confinement = nullptr;

}  // namespace

std::string WithBackslashes(const char* path) {
    std::string p(path ? path : "");
    for (char& c : p)
        if (c == '/') c = '\\';
    return p;
}

// Whether the path `p` ("\" separators) lies below the innermost confinement folder.
bool Inside(const std::string& p) {
    const ConfinementState* c = g_confinement;
    return c != nullptr && p.size() > c->root.size() &&
           SameFoldedName(p.substr(0, c->root.size()), c->root);
}

// True when `path` lies below the innermost confinement folder and a reparse point stands
// on its way there, or ".." would climb out. The walk stops at the first name that does
// not exist: nothing below it can be a link yet.
bool Blocked(const char* path) {
    if (path == nullptr) return false;
    const std::string p = WithBackslashes(path);
    if (!Inside(p)) return false;
    const ConfinementState* c = g_confinement;
    std::string prefix = c->root;
    size_t i = c->root.size();
    while (i < p.size()) {
        size_t end = p.find('\\', i);
        if (end == std::string::npos) end = p.size();
        const std::string comp = p.substr(i, end - i);
        i = end + 1;
        if (comp.empty() || comp == ".") continue;
        if (comp == "..") return true;
        prefix += comp;
        DWORD a = GetFileAttributesA(prefix.c_str());
        if (a == INVALID_FILE_ATTRIBUTES) return false;
        if (a & FILE_ATTRIBUTE_REPARSE_POINT) return true;
        prefix += '\\';
    }
    return false;
}

bool Injected(FaultKind kind) {
    if (!FaultHits(kind)) return false;
    SetLastError(ERROR_IO_DEVICE);
    return true;
}

bool Refused(const char* path) {
    if (!Blocked(path)) return false;
    SetLastError(ERROR_ACCESS_DENIED);
    return true;
}

}  // namespace win32

namespace {

using win32::H;
using win32::Injected;
using win32::Inside;
using win32::Refused;
using win32::WithBackslashes;

// The fields of an MS-DOS date and time must name a real moment; checked here so that every
// Windows version refuses the same stamps.
bool ValidStamp(uint32_t stamp) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
    int year = 1980 + static_cast<int>(date >> 9);
    int month = static_cast<int>((date >> 5) & 15);
    int day = static_cast<int>(date & 31);
    if (month < 1 || month > 12 || day < 1) return false;
    int days = kDays[month - 1];
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) days = 29;
    if (day > days) return false;
    return (time >> 11) <= 23 && ((time >> 5) & 63) <= 59 && (time & 31) <= 29;
}

}  // namespace

// ---- File handles -------------------------------------------------------------------

FileHandle OpenFile(const char* path, int mode) {
    if (Injected(FaultKind::kOpen) || Refused(path)) return kInvalidHandle;
    DWORD access, disposition;
    switch (mode & 3) {
    case kModeWrite:
        access = GENERIC_WRITE;
        disposition = (mode & kModeCreateNew) == kModeCreateNew ? CREATE_NEW : CREATE_ALWAYS;
        break;
    case kModeReadWrite:
        access = GENERIC_READ | GENERIC_WRITE;
        disposition = OPEN_EXISTING;
        break;
    default:
        access = GENERIC_READ;
        disposition = OPEN_EXISTING;
        break;
    }
    // Windows refuses a read-only file for writing by itself; checking first also keeps
    // CREATE_ALWAYS from cutting such a file where the refusal comes too late (Wine as root).
    if (access & GENERIC_WRITE) {
        DWORD a = GetFileAttributesA(path);
        if (a != INVALID_FILE_ATTRIBUTES && (a & FILE_ATTRIBUTE_READONLY)) {
            SetLastError(ERROR_ACCESS_DENIED);
            return kInvalidHandle;
        }
    }
    DWORD share = ((mode & kShareRead) ? FILE_SHARE_READ : 0) | ((mode & kShareWrite) ? FILE_SHARE_WRITE : 0);
    // Inside a confinement a final reparse point is opened as itself, never followed.
    DWORD flags = FILE_ATTRIBUTE_NORMAL | (Inside(WithBackslashes(path)) ? FILE_FLAG_OPEN_REPARSE_POINT : 0);
    HANDLE h = CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    if (h == INVALID_HANDLE_VALUE) return kInvalidHandle;
    // Only files on a disk: a device or a pipe (\\.\ names) could block or never end.
    if (GetFileType(h) != FILE_TYPE_DISK) {
        CloseHandle(h);
        SetLastError(ERROR_INVALID_FUNCTION);
        return kInvalidHandle;
    }
    return reinterpret_cast<FileHandle>(h);
}

void CloseFile(FileHandle h) {
    if (h != kInvalidHandle) CloseHandle(H(h));
}

bool ReadFile(FileHandle h, void* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    if (h == kInvalidHandle || Injected(FaultKind::kRead)) return false;
    DWORD count = 0;
    BOOL ok = ::ReadFile(H(h), buf, n, &count, nullptr);
    *got = count;
    return ok != 0;
}

bool WriteFile(FileHandle h, const void* buf, uint32_t n, uint32_t* put) {
    *put = 0;
    if (h == kInvalidHandle || Injected(FaultKind::kWrite)) return false;
    DWORD count = 0;
    BOOL ok = ::WriteFile(H(h), buf, n, &count, nullptr);
    *put = count;
    return ok != 0;
}

int64_t SeekFile(FileHandle h, int64_t distance, SeekOrigin origin) {
    if (h == kInvalidHandle) return -1;
    DWORD method = origin == kFromBegin ? FILE_BEGIN : origin == kFromCurrent ? FILE_CURRENT : FILE_END;
    LONG high = static_cast<LONG>(distance >> 32);
    SetLastError(NO_ERROR);
    DWORD low = SetFilePointer(H(h), static_cast<LONG>(distance & 0xFFFFFFFF), &high, method);
    if (low == INVALID_SET_FILE_POINTER && GetLastError() != NO_ERROR) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(static_cast<uint32_t>(high)) << 32) | low);
}

int64_t FileSize(FileHandle h) {
    if (h == kInvalidHandle) return -1;
    DWORD high = 0;
    SetLastError(NO_ERROR);
    DWORD low = GetFileSize(H(h), &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return -1;
    return static_cast<int64_t>((static_cast<uint64_t>(high) << 32) | low);
}

// Windows writes behind by itself; there is nothing to start.
void StartWriteback(FileHandle) {}

bool SyncFile(FileHandle h) {
    return h != kInvalidHandle && !Injected(FaultKind::kFlush) && FlushFileBuffers(H(h)) != 0;
}

bool GetFileStamp(FileHandle h, uint32_t* stamp) {
    *stamp = 0;
    if (h == kInvalidHandle) return false;
    FILETIME written, local;
    WORD date = 0, time = 0;
    if (!GetFileTime(H(h), nullptr, nullptr, &written)) return false;
    if (!FileTimeToLocalFileTime(&written, &local)) return false;
    // The MS-DOS date holds the years 1980 to 2107 in 7 bits. Some FileTimeToDosDateTime
    // implementations (64-bit Wine) wrap a later year instead of failing, which would give
    // the file the identity of another date; so the range is checked here.
    SYSTEMTIME calendar;
    if (!FileTimeToSystemTime(&local, &calendar)) return false;
    if (calendar.wYear < 1980 || calendar.wYear > 2107) return false;
    if (!FileTimeToDosDateTime(&local, &date, &time)) return false;
    *stamp = (static_cast<uint32_t>(date) << 16) | time;
    return true;
}

bool SetFileStamp(FileHandle h, uint32_t stamp) {
    if (h == kInvalidHandle || Injected(FaultKind::kSetTime) || !ValidStamp(stamp)) return false;
    FILETIME local, utc;
    if (!DosDateTimeToFileTime(static_cast<WORD>(stamp >> 16), static_cast<WORD>(stamp & 0xFFFF), &local))
        return false;
    if (!LocalFileTimeToFileTime(&local, &utc)) return false;
    return SetFileTime(H(h), &utc, &utc, &utc) != 0;
}

// ---- Names and folders -------------------------------------------------------------

uint32_t GetAttributes(const char* path) { return Refused(path) ? kInvalidAttributes : GetFileAttributesA(path); }

bool SetReadOnly(const char* path, bool read_only) {
    if (Refused(path)) return false;
    DWORD a = GetFileAttributesA(path);
    if (a == INVALID_FILE_ATTRIBUTES) return false;
    // Only these bits can be set; "normal" stands alone for none of them.
    const DWORD settable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                           FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                           FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    a = read_only ? (a | FILE_ATTRIBUTE_READONLY) : (a & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY));
    a &= settable;
    if (a == 0) a = FILE_ATTRIBUTE_NORMAL;
    return SetFileAttributesA(path, a) != 0;
}

bool CreateFolder(const char* path) {
    return !Injected(FaultKind::kCreateFolder) && !Refused(path) && CreateDirectoryA(path, nullptr) != 0;
}

bool RemoveFolder(const char* path) {
    return !Injected(FaultKind::kDelete) && !Refused(path) && RemoveDirectoryA(path) != 0;
}

bool DeleteFile(const char* path) { return !Injected(FaultKind::kDelete) && !Refused(path) && DeleteFileA(path) != 0; }

bool MoveFile(const char* from, const char* to) {
    return !Injected(FaultKind::kMove) && !Refused(from) && !Refused(to) && MoveFileA(from, to) != 0;
}

// One call replaces the destination and waits until the move is on the disk, so no crash
// can leave the name missing. Where the system lacks that call the destination is deleted
// and the file moved. A read-only or open destination is refused either way, and a missing
// source never costs the destination.
bool ReplaceFile(const char* from, const char* to) {
    if (Injected(FaultKind::kMove) || Refused(from) || Refused(to)) return false;
    if (GetFileAttributesA(from) == INVALID_FILE_ATTRIBUTES) return false;
    DWORD a = GetFileAttributesA(to);
    if (a != INVALID_FILE_ATTRIBUTES && (a & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_DIRECTORY))) {
        SetLastError(ERROR_ACCESS_DENIED);
        return false;
    }
    if (MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH)) return true;
    if (GetLastError() != ERROR_CALL_NOT_IMPLEMENTED) return false;
    DeleteFileA(to);
    return MoveFileA(from, to) != 0;
}

bool FindStoredName(const char* path, std::string* stored) {
    if (!path || !*path || IsSeparator(path[lstrlenA(path) - 1]) || Refused(path)) return false;
    WIN32_FIND_DATAA data;
    ZeroMemory(&data, sizeof data);
    HANDLE f = FindFirstFileA(path, &data);
    if (f == INVALID_HANDLE_VALUE) return false;
    *stored = data.cFileName;
    FindClose(f);
    return true;
}

bool ListFolder(const char* folder, std::vector<FolderItem>* items) {
    if (!folder || Refused(folder)) return false;
    std::string pattern(folder);
    if (!pattern.empty() && !IsSeparator(pattern.back())) pattern += '\\';
    pattern += '*';
    WIN32_FIND_DATAA data;
    ZeroMemory(&data, sizeof data);
    HANDLE f = FindFirstFileA(pattern.c_str(), &data);
    if (f == INVALID_HANDLE_VALUE) return false;
    do {
        // Junctions and folder links are not entered, so that a search cannot loop.
        bool is_folder = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) &&
                         !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT);
        items->push_back(FolderItem{data.cFileName, is_folder});
    } while (FindNextFileA(f, &data));
    FindClose(f);
    return true;
}

bool GetCurrentFolder(char* buf, size_t size) {
    if (size == 0) return false;
    DWORD n = GetCurrentDirectoryA(static_cast<DWORD>(size), buf);
    return n > 0 && n < size;
}

bool SetCurrentFolder(const char* path) { return SetCurrentDirectoryA(path) != 0; }

int GetDriveType(const char* root) { return static_cast<int>(GetDriveTypeA(root)); }

std::vector<std::string> FixedDriveRoots() {
    std::vector<std::string> roots;
    char root[4] = "A:\\";
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        root[0] = letter;
        if (GetDriveTypeA(root) == DRIVE_FIXED) roots.push_back(root);
    }
    return roots;
}

int64_t FreeSpace(const char* folder) {
    ULARGE_INTEGER available;
    if (!GetDiskFreeSpaceExA(folder, &available, nullptr, nullptr)) return -1;
    return static_cast<int64_t>(available.QuadPart);
}

// NTFS journals its folder entries, and replacements are written through.
bool SyncFolder(const char*) { return !Injected(FaultKind::kFlush); }

// ---- Confinement ---------------------------------------------------------------------

Confinement::Confinement(const char* folder) : state_(nullptr) {
    std::string root = WithBackslashes(folder);
    DWORD a = root.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesA(root.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return;
    if (root.back() != '\\') root += '\\';
    state_ = new ConfinementState{root, win32::g_confinement};
    win32::g_confinement = state_;
}

Confinement::~Confinement() {
    if (state_ == nullptr) return;
    win32::g_confinement = state_->outer;
    delete state_;
}

bool StaysInside(const char* path) { return !win32::Blocked(path); }

// ---- Time and resources ------------------------------------------------------------

uint32_t TickCount() { return GetTickCount(); }

bool FindRawResource(Module module, ResourceName name, const void** data, size_t* size) {
    HMODULE m = static_cast<HMODULE>(const_cast<void*>(module));
    LPCSTR id = name.text ? name.text : MAKEINTRESOURCEA(name.id);
    HRSRC found = FindResourceA(m, id, MAKEINTRESOURCEA(10));  // RT_RCDATA
    if (!found) return false;
    HGLOBAL loaded = LoadResource(m, found);
    if (!loaded) return false;
    const void* p = LockResource(loaded);
    if (!p) return false;
    *data = p;
    *size = SizeofResource(m, found);
    return true;
}

// ---- For the package builder -------------------------------------------------------

bool TemporaryFolder(std::string* folder) {
    char buffer[MAX_PATH + 1];
    const DWORD n = GetTempPathA(sizeof buffer, buffer);
    if (n == 0 || n >= sizeof buffer) return false;
    std::string f(buffer, n);
    if (!IsSeparator(f.back())) f += '\\';
    const DWORD a = GetFileAttributesA(f.c_str());
    if (a == INVALID_FILE_ATTRIBUTES || !(a & FILE_ATTRIBUTE_DIRECTORY)) return false;
    *folder = f;
    return true;
}

namespace {

// The identity of a file or folder, through a handle that asks for no access at all.
bool FileInformation(const char* path, BY_HANDLE_FILE_INFORMATION* info) {
    HANDLE h = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr, OPEN_EXISTING,
                           FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    const BOOL ok = GetFileInformationByHandle(h, info);
    CloseHandle(h);
    return ok != 0;
}

}  // namespace

bool SameFile(const char* a, const char* b) {
    if (Refused(a) || Refused(b)) return false;
    BY_HANDLE_FILE_INFORMATION ia, ib;
    if (!FileInformation(a, &ia) || !FileInformation(b, &ib)) return false;
    return ia.dwVolumeSerialNumber == ib.dwVolumeSerialNumber && ia.nFileIndexHigh == ib.nFileIndexHigh &&
           ia.nFileIndexLow == ib.nFileIndexLow;
}

}  // namespace os
