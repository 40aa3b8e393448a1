// The launcher's view of the machine: everything it reads, changes or shows goes through
// LauncherHost, so that its decisions run against a fake machine in the tests and against
// Windows in brackpatch.exe (host_win32.cpp).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

// Creation, last-access and last-write time of a file, each in 100-nanosecond units since
// 1 January 1601 UTC (the FILETIME count).
struct FileTimes {
    uint64_t creation = 0;
    uint64_t last_access = 0;
    uint64_t last_write = 0;
};

// Message-box buttons, icons and answers, with the values MessageBoxA uses.
enum MessageStyle : unsigned {
    kButtonsOk = 0x0,
    kButtonsOkCancel = 0x1,
    kButtonsYesNo = 0x4,
    kIconError = 0x10,
    kIconExclamation = 0x30,
};
enum MessageAnswer : int {
    kAnswerOk = 1,
    kAnswerCancel = 2,
    kAnswerYes = 6,
    kAnswerNo = 7,
};

// The drive type GetDriveTypeA gives a CD-ROM drive; the launcher tests for no other.
constexpr int kDriveCdRom = 5;

enum RegistryRoot : int {
    kLocalMachine,  // HKEY_LOCAL_MACHINE, opened for reading (KEY_READ)
    kCurrentUser,   // HKEY_CURRENT_USER, opened for querying values (KEY_QUERY_VALUE)
};

// An open file. Destroying it closes it; Close reports whether that succeeded.
class HostFile {
public:
    virtual ~HostFile() = default;
    // Reads up to size bytes; returns how many were read, 0 at the end, -1 on an error.
    virtual long Read(void* buffer, size_t size) = 0;
    // Writes size bytes; false unless all of them were written.
    virtual bool Write(const void* data, size_t size) = 0;
    // Closes the file; false when that failed (written data may be lost).
    virtual bool Close() = 0;
};

class LauncherHost {
public:
    virtual ~LauncherHost() = default;

    // Creates or opens the named mutex, not owned, and keeps it until the host is destroyed.
    virtual void HoldMutex(const char* name) = 0;
    // Reads a string value into out (size bytes, always terminated). False when the key or
    // value is missing or the value with its terminator does not fit.
    virtual bool ReadRegistryString(RegistryRoot root, const char* key, const char* value, char* out,
                                    size_t size) = 0;
    // Reads a key of an ini file's section into out (size bytes, truncated to fit, always
    // terminated); `fallback` when the file, the section or the key is missing.
    virtual void ReadIniString(const char* file, const char* section, const char* key, const char* fallback,
                               char* out, size_t size) = 0;
    // Writes a key of an ini file's section, creating the file or section as needed.
    virtual bool WriteIniString(const char* file, const char* section, const char* key, const char* value) = 0;

    virtual int DriveType(const char* root) = 0;   // for a root such as "E:\"
    virtual bool Exists(const char* path) = 0;      // an existing file or folder
    // Reads or sets a file's three times, the file opened with no sharing. False when the
    // file cannot be opened or the times not read or set.
    virtual bool ReadFileTimes(const char* path, FileTimes* times) = 0;
    virtual bool WriteFileTimes(const char* path, const FileTimes& times) = 0;

    // Opens an existing file for reading, or creates (truncates) one for writing; null
    // when that fails.
    virtual std::unique_ptr<HostFile> OpenForReading(const char* path) = 0;
    virtual std::unique_ptr<HostFile> CreateForWriting(const char* path) = 0;
    // Creates a file for writing that does not exist yet; null when anything (a file or a
    // folder) has that name already, or the file cannot be created.
    virtual std::unique_ptr<HostFile> CreateNewForWriting(const char* path) = 0;
    virtual bool DeleteFile(const char* path) = 0;
    virtual bool CreateFolder(const char* path) = 0;  // one level
    // Puts file `from` in the place of `to` in one step; fails, leaving both as they were,
    // when `to` is read-only or the rename fails.
    virtual bool ReplaceFile(const char* from, const char* to) = 0;

    // Shows a message box with no owner window; returns the answer.
    virtual int ShowMessage(const char* caption, const char* text, unsigned style) = 0;
    // Starts `program` through the shell (verb "open", no parameters, no working folder)
    // and waits without a time limit for its process to end; returns at once when none
    // was started.
    virtual void RunAndWait(const char* program) = 0;
};
