// Win32 implementation of LauncherHost: the registry, private profile files, drives, files
// and their times, message boxes, the shell and the named mutex.
#include "launcher/host_win32.h"

#include <windows.h>
#include <shellapi.h>

// windows.h maps these names onto their A/W variants; the host's own functions keep them.
#undef DeleteFile
#undef ReplaceFile

// The launcher's portable constants are the values the Win32 calls use.
static_assert(kButtonsOk == MB_OK, "MB_OK");
static_assert(kButtonsOkCancel == MB_OKCANCEL, "MB_OKCANCEL");
static_assert(kButtonsYesNo == MB_YESNO, "MB_YESNO");
static_assert(kIconError == MB_ICONERROR, "MB_ICONERROR");
static_assert(kIconExclamation == MB_ICONEXCLAMATION, "MB_ICONEXCLAMATION");
static_assert(kAnswerOk == IDOK, "IDOK");
static_assert(kAnswerCancel == IDCANCEL, "IDCANCEL");
static_assert(kAnswerYes == IDYES, "IDYES");
static_assert(kAnswerNo == IDNO, "IDNO");
static_assert(kDriveCdRom == DRIVE_CDROM, "DRIVE_CDROM");

namespace {

// Closes a kernel handle when it goes out of scope.
class Handle {
public:
    explicit Handle(HANDLE h = nullptr) : h_(h == INVALID_HANDLE_VALUE ? nullptr : h) {}
    ~Handle() { Reset(nullptr); }
    Handle(const Handle&) = delete;
    Handle& operator=(const Handle&) = delete;
    HANDLE Get() const { return h_; }
    explicit operator bool() const { return h_ != nullptr; }
    // Closes the handle held and takes h; false when closing failed.
    bool Reset(HANDLE h) {
        bool closed = h_ == nullptr || CloseHandle(h_);
        h_ = h;
        return closed;
    }

private:
    HANDLE h_;
};

// Closes a registry key when it goes out of scope.
class RegistryKey {
public:
    RegistryKey(HKEY root, const char* name, REGSAM access) {
        if (RegOpenKeyExA(root, name, 0, access, &key_) != ERROR_SUCCESS) key_ = nullptr;
    }
    ~RegistryKey() {
        if (key_) RegCloseKey(key_);
    }
    RegistryKey(const RegistryKey&) = delete;
    RegistryKey& operator=(const RegistryKey&) = delete;
    HKEY Get() const { return key_; }

private:
    HKEY key_ = nullptr;
};

class Win32File : public HostFile {
public:
    explicit Win32File(HANDLE h) : handle_(h) {}
    long Read(void* buffer, size_t size) override {
        DWORD got = 0;
        if (!::ReadFile(handle_.Get(), buffer, static_cast<DWORD>(size), &got, nullptr)) return -1;
        return static_cast<long>(got);
    }
    bool Write(const void* data, size_t size) override {
        DWORD put = 0;
        return ::WriteFile(handle_.Get(), data, static_cast<DWORD>(size), &put, nullptr) && put == size;
    }
    bool Close() override { return handle_.Reset(nullptr); }

private:
    Handle handle_;
};

bool IsReadOnly(const char* path) {
    DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY);
}

FILETIME ToFileTime(uint64_t t) {
    FILETIME ft;
    ft.dwLowDateTime = static_cast<DWORD>(t);
    ft.dwHighDateTime = static_cast<DWORD>(t >> 32);
    return ft;
}

uint64_t FromFileTime(const FILETIME& ft) {
    return (static_cast<uint64_t>(ft.dwHighDateTime) << 32) | ft.dwLowDateTime;
}

// Opens an existing file with no sharing, for its times.
HANDLE OpenForTimes(const char* path, DWORD access) {
    return CreateFileA(path, access, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
}

class Win32Host : public LauncherHost {
public:
    void HoldMutex(const char* name) override { mutex_.Reset(CreateMutexA(nullptr, FALSE, name)); }

    bool ReadRegistryString(RegistryRoot root, const char* key, const char* value, char* out,
                            size_t size) override {
        out[0] = '\0';
        RegistryKey opened(root == kLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER, key,
                           root == kLocalMachine ? KEY_READ : KEY_QUERY_VALUE);
        DWORD bytes = static_cast<DWORD>(size);
        if (!opened.Get() ||
            RegQueryValueExA(opened.Get(), value, nullptr, nullptr, reinterpret_cast<BYTE*>(out), &bytes) !=
                ERROR_SUCCESS) {
            out[0] = '\0';
            return false;
        }
        // Stored strings need not end in a terminator; one that fills the buffer must.
        if (bytes < size) {
            out[bytes] = '\0';
        } else if (out[size - 1] != '\0') {
            out[0] = '\0';
            return false;
        }
        return true;
    }

    void ReadIniString(const char* file, const char* section, const char* key, const char* fallback, char* out,
                       size_t size) override {
        GetPrivateProfileStringA(section, key, fallback, out, static_cast<DWORD>(size), file);
    }

    bool WriteIniString(const char* file, const char* section, const char* key, const char* value) override {
        return WritePrivateProfileStringA(section, key, value, file) != 0;
    }

    int DriveType(const char* root) override { return static_cast<int>(GetDriveTypeA(root)); }

    bool Exists(const char* path) override { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

    bool ReadFileTimes(const char* path, FileTimes* times) override {
        Handle file(OpenForTimes(path, GENERIC_READ));
        FILETIME creation, access, write;
        if (!file || !GetFileTime(file.Get(), &creation, &access, &write)) return false;
        times->creation = FromFileTime(creation);
        times->last_access = FromFileTime(access);
        times->last_write = FromFileTime(write);
        return true;
    }

    bool WriteFileTimes(const char* path, const FileTimes& times) override {
        Handle file(OpenForTimes(path, GENERIC_WRITE));
        FILETIME creation = ToFileTime(times.creation), access = ToFileTime(times.last_access),
                 write = ToFileTime(times.last_write);
        return file && SetFileTime(file.Get(), &creation, &access, &write) && file.Reset(nullptr);
    }

    std::unique_ptr<HostFile> OpenForReading(const char* path) override {
        return Open(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                                nullptr));
    }

    // A read-only file is refused before CREATE_ALWAYS could cut it (Wine run as root
    // would otherwise truncate it).
    std::unique_ptr<HostFile> CreateForWriting(const char* path) override {
        if (IsReadOnly(path)) return nullptr;
        return Open(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    std::unique_ptr<HostFile> CreateNewForWriting(const char* path) override {
        return Open(CreateFileA(path, GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr));
    }

    bool DeleteFile(const char* path) override { return DeleteFileA(path) != 0; }

    bool CreateFolder(const char* path) override { return CreateDirectoryA(path, nullptr) != 0; }

    bool ReplaceFile(const char* from, const char* to) override {
        if (IsReadOnly(to)) return false;
        return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
    }

    int ShowMessage(const char* caption, const char* text, unsigned style) override {
        return MessageBoxA(nullptr, text, caption, style);
    }

    void RunAndWait(const char* program) override {
        SHELLEXECUTEINFOA run = {};
        run.cbSize = sizeof run;
        run.fMask = SEE_MASK_NOCLOSEPROCESS;
        run.lpVerb = "open";
        run.lpFile = program;
        run.nShow = SW_SHOWDEFAULT;
        ShellExecuteExA(&run);
        Handle process(run.hProcess);
        if (process) WaitForSingleObject(process.Get(), INFINITE);
    }

private:
    static std::unique_ptr<HostFile> Open(HANDLE h) {
        if (h == INVALID_HANDLE_VALUE) return nullptr;
        return std::unique_ptr<HostFile>(new Win32File(h));
    }

    Handle mutex_;
};

}  // namespace

std::unique_ptr<LauncherHost> CreateWin32Host() { return std::unique_ptr<LauncherHost>(new Win32Host()); }
