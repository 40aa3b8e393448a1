// Thin operating-system layer: the only code that calls the platform's file, time and
// resource functions. One implementation per platform: os_win32.cpp and os_posix.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace os {

// Paths are 8-bit strings of at most kMaxPath bytes including the NUL. Both "\" and "/"
// separate folders. The POSIX layer maps "\" to "/" and, where a path does not exist as
// spelled, looks it up component by component without regard to letter case, folded as
// FoldedName folds it (io/codepage.h).
constexpr int kMaxPath = 260;
extern const char kSeparator;  // '\\' on Windows, '/' on POSIX
inline bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// ---- File handles -------------------------------------------------------------------
using FileHandle = intptr_t;
constexpr FileHandle kInvalidHandle = -1;

// Open mode bits, as the file stream's OpenMode.
enum OpenMode : int {
    kModeRead = 1,       // existing file, read access
    kModeWrite = 2,      // created or truncated, write access
    kModeReadWrite = 3,  // existing file, read and write access
    kShareRead = 4,
    kShareWrite = 8,
    kModeCreateNew = 16 | kModeWrite,  // a new file only: fails when the name exists at all
};

// Opens a file; kInvalidHandle on failure. Bits 0-1 of mode: 0 or 1 read an existing
// file, 2 create or truncate for writing, 3 read and write an existing file;
// kModeCreateNew creates a new file and never opens or follows anything that exists. A
// read-only file is refused for writing on every platform (also to root on POSIX). A file
// the call creates is writable by its owner whatever the process's umask.
FileHandle OpenFile(const char* path, int mode);
void CloseFile(FileHandle h);
// Reads up to n bytes; *got is how many were read. False only on a failed call.
bool ReadFile(FileHandle h, void* buf, uint32_t n, uint32_t* got);
// Writes n bytes; *put is how many were written. False when the call failed.
bool WriteFile(FileHandle h, const void* buf, uint32_t n, uint32_t* put);
enum SeekOrigin { kFromBegin = 0, kFromCurrent = 1, kFromEnd = 2 };
// Moves the file pointer; returns the new position, or -1 on failure (as SetFilePointer).
int64_t SeekFile(FileHandle h, int64_t distance, SeekOrigin origin);
// Size in bytes, or -1 on failure.
int64_t FileSize(FileHandle h);
// Forces written data to the disk. True on success.
bool SyncFile(FileHandle h);
// Starts writing the file's data to the disk without waiting for it (Linux), so that a
// later sync has less to wait for. Nothing where the system has no such call.
void StartWriteback(FileHandle h);

// Last-write time of an open file as an MS-DOS stamp in local time (date << 16 | time).
// False (and *stamp 0) when the time cannot be read or expressed (before 1980, after 2107).
bool GetFileStamp(FileHandle h, uint32_t* stamp);
// Sets creation (where the platform has it), last-access and last-write time of a file
// open for writing to the local-time MS-DOS stamp. False when the stamp is not a valid
// date and time or the platform call fails.
bool SetFileStamp(FileHandle h, uint32_t stamp);

// ---- Names and folders -------------------------------------------------------------
constexpr uint32_t kInvalidAttributes = 0xFFFFFFFFu;
constexpr uint32_t kAttrReadOnly = 0x01;
constexpr uint32_t kAttrDirectory = 0x10;
constexpr uint32_t kAttrNormal = 0x80;
constexpr uint32_t kAttrReparsePoint = 0x400;

// Attribute word as GetFileAttributesA gives it; kInvalidAttributes when the path is absent.
// On POSIX: kAttrDirectory for folders, kAttrReadOnly when the owner lacks write
// permission, kAttrNormal for a plain writable file, and kAttrReparsePoint for a symbolic
// link (with the attributes of what it points to, except inside a Confinement, where a
// link's target is not looked at).
uint32_t GetAttributes(const char* path);
// Sets or clears the read-only attribute (POSIX: the write permission bits).
bool SetReadOnly(const char* path, bool read_only);
bool CreateFolder(const char* path);  // one level; fails when it exists or the parent is missing
bool RemoveFolder(const char* path);  // fails unless it exists and is empty
bool DeleteFile(const char* path);    // fails for a missing or read-only file, or a folder
// Renames a file; fails when the destination exists (as MoveFileA).
bool MoveFile(const char* from, const char* to);
// Puts `from` in the place of `to`. Win32: DeleteFileA on the destination (result ignored),
// then MoveFileA. POSIX: refuses a read-only destination, syncs the source, then renames
// over the destination in one atomic step.
bool ReplaceFile(const char* from, const char* to);
// The name of the path's last component as the folder stores it (FindFirstFileA). False
// when nothing is found (also for a path ending in a separator).
bool FindStoredName(const char* path, std::string* stored);

struct FolderItem {
    std::string name;  // as stored; "." and ".." are included where the platform lists them
    bool is_folder;
    // False for a name the code page cannot hold (POSIX file systems hold any); `name`
    // then shows it with those characters as \u{XXXX} (os::DescribeUtf8), and no path of
    // the engine can reach it.
    bool representable = true;
};
// Lists the entries of a folder in the order the platform returns them. False when the
// folder cannot be read.
bool ListFolder(const char* folder, std::vector<FolderItem>* items);

bool GetCurrentFolder(char* buf, size_t size);  // false when it does not fit
bool SetCurrentFolder(const char* path);

enum DriveType : int {
    kDriveUnknown = 0,
    kDriveNoRootDir = 1,
    kDriveRemovable = 2,
    kDriveFixed = 3,
    kDriveRemote = 4,
    kDriveCdRom = 5,
    kDriveRamDisk = 6,
};
// GetDriveTypeA for a root such as "C:\". POSIX has one fixed drive: "/" (and "C:\" maps to it).
int GetDriveType(const char* root);
// Roots of the fixed drives in search order: "A:\" to "Z:\" on Windows, "/" on POSIX.
std::vector<std::string> FixedDriveRoots();

// Free bytes for the calling user on the file system that holds `folder`; -1 when unknown.
int64_t FreeSpace(const char* folder);
// Makes the entries of a folder (names added, removed or renamed) durable. True where the
// platform needs no such step.
bool SyncFolder(const char* folder);

// ---- What stands at a path -------------------------------------------------------
// What a file was when it was looked at: enough to tell later whether a name still holds
// the same, unchanged file.
struct FileState {
    bool exists = false;   // something stands there: a file, folder, link or device
    bool regular = false;  // a plain file (no folder, link, FIFO or device)
    uint64_t size = 0;
    uint64_t volume = 0;   // which file: device and inode on POSIX, volume serial and
    uint64_t file = 0;     // file index on Windows
    uint32_t links = 0;    // names the file has
    int64_t written = 0;   // last-write time, in the system's own unit
    int64_t changed = 0;   // POSIX: last status change (any write, chmod, link or rename)
};
// True when both describe the same file with the same size and times.
bool SameUnchangedFile(const FileState& a, const FileState& b);
// The state of an open file. False when the system cannot tell.
bool GetFileState(FileHandle h, FileState* state);
// The state of whatever stands at `path`, without following a final link and without
// opening anything that could block (a FIFO, a device). False when the path cannot be
// reached: inside a confinement a link or a file stands on the way, or ".." would leave
// it. A path whose last name is not there (in any letter case) gives true and !exists.
bool LookAt(const char* path, FileState* state);
// Deletes the file at `path` when it is still `expected` (SameUnchangedFile) and not
// read-only. False, deleting nothing, when it is not, or the path cannot be reached.
bool DeleteFileIfUnchanged(const char* path, const FileState& expected);

// ---- The engine's private folder -------------------------------------------------
struct PrivateFolderState;
// A folder that only the running user can enter (POSIX: its own, mode 0700; Windows: an
// access list for that user alone), held open from creation to removal. Names in it are
// reached through the held folder, so that moving or replacing the folder's path while it
// is used does not redirect anything, and nobody else can add, swap or change files in it.
class PrivateFolder {
public:
    PrivateFolder() = default;
    ~PrivateFolder();
    PrivateFolder(const PrivateFolder&) = delete;
    PrivateFolder& operator=(const PrivateFolder&) = delete;

    // Creates the folder `path`, or takes the one an interrupted run left there when it is
    // a real folder of the running user that nobody else can change (POSIX: mode 0700
    // and not a link). False, with *why set, otherwise.
    bool Open(const char* path, std::string* why);
    bool IsOpen() const { return state_ != nullptr; }
    // Creates the file `name` in the folder afresh (an old one of that name is deleted
    // first), open for reading and writing by its owner only; on Windows nobody else may
    // write or delete it while it is open. kInvalidHandle on failure.
    FileHandle CreateFile(const char* name);
    // Opens the existing file `name` for reading and writing; kInvalidHandle on failure.
    FileHandle OpenFile(const char* name);
    // Deletes the file `name` (never what a link points to). False when it is not there.
    bool DeleteFile(const char* name);
    // Makes everything written on the folder's file system durable in one wait (Linux:
    // syncfs), the files in this folder included. False where the system has no such call,
    // or it fails: the caller then syncs each file.
    bool SyncFileSystem();
    // Puts the file `name`, open as `file`, in the place of `destination` (a path inside
    // the innermost confinement), when `name` still is that file with a single name and
    // `destination` still is as `expected` (!exists: nothing there; else the same unchanged
    // file, not read-only). The file takes the owner, group and permission bits of the
    // file it replaces and, unless `synced` says it is durable already, reaches the disk
    // before the one rename that puts it in place. Closes `file` either way. Anything but
    // kMoved moves nothing; kNotHeldFile says that `name` is no longer the held file
    // (someone replaced it).
    enum MoveResult { kMoved, kNotHeldFile, kNotMoved };
    MoveResult MoveInto(const char* name, FileHandle file, const char* destination, const FileState& expected,
                        bool synced);
    // Closes the folder and removes it when it is empty.
    void Remove();

private:
    PrivateFolderState* state_ = nullptr;
};

// Raises the number of files this process may hold open as far as the system lets it;
// returns how many it may then hold (a large number where there is no such limit).
uint32_t RaiseOpenFileLimit();

// ---- One apply per folder ----------------------------------------------------------
struct FolderLockState;
// Holds a folder for one process: a second FolderLock on the same folder, in this or any
// other process, fails until the first is released or its process ends (POSIX: flock on
// the folder; Windows: a named mutex of the folder's full path).
class FolderLock {
public:
    FolderLock() = default;
    ~FolderLock();
    FolderLock(const FolderLock&) = delete;
    FolderLock& operator=(const FolderLock&) = delete;
    enum Result { kHeld, kBusy, kFailed };
    // kBusy when another lock holds the folder; kFailed when it cannot be opened.
    Result Acquire(const char* folder);

private:
    FolderLockState* state_ = nullptr;
};

// ---- Confinement ---------------------------------------------------------------------
// While a Confinement lives, every operation on a path inside its folder acts beneath that
// folder only: no symbolic link, junction or other reparse point below the folder is
// followed or replaced, and ".." cannot climb out of it. An operation that would need to
// fails. Paths outside the folder are not affected; the folder itself may be reached
// through links. Confinements nest: the innermost one holds until it ends.
struct ConfinementState;
class Confinement {
public:
    explicit Confinement(const char* folder);
    ~Confinement();
    Confinement(const Confinement&) = delete;
    Confinement& operator=(const Confinement&) = delete;
    // False when the folder could not be opened (it does not exist, say); nothing is then
    // confined by this object.
    bool Active() const { return state_ != nullptr; }

private:
    ConfinementState* state_;
};
// False when `path` lies inside the innermost confinement folder and a link or reparse
// point stands on its way there (a folder of the path or its last component), or ".."
// would leave the folder. Components that do not exist yet are fine.
bool StaysInside(const char* path);

// ---- Time and resources ------------------------------------------------------------
uint32_t TickCount();  // milliseconds, wrapping (GetTickCount)

// A module whose raw-data resources can be looked up: an HMODULE on Windows, a table of
// embedded resources on POSIX. nullptr means the running program itself.
using Module = const void*;
// A resource name: a number when `text` is null, else the text.
struct ResourceName {
    int id;
    const char* text;
};
// Finds a raw-data (RCDATA) resource. The data stays valid as long as the module.
bool FindRawResource(Module module, ResourceName name, const void** data, size_t* size);

// POSIX only: what a Module points at. The program's own table (used for nullptr) is
// generated from the resource files at build time.
struct EmbeddedResource {
    ResourceName name;
    const unsigned char* data;
    size_t size;
};
struct ResourceTable {
    const EmbeddedResource* items;
    size_t count;
};

// ---- For the package builder -------------------------------------------------------
// The system's folder for temporary files, ending in a separator: GetTempPathA on
// Windows; on POSIX $TMPDIR, or /tmp where it is unset or empty. False when it cannot be
// told or is not a folder.
bool TemporaryFolder(std::string* folder);
// True when both paths name one existing file or folder (however spelled: other letter
// case, "..", another link to it), compared by device and inode (Windows: volume serial
// number and file index). False when either does not exist or cannot be asked.
bool SameFile(const char* a, const char* b);

// ---- Private files ---------------------------------------------------------------------
// For what no other user may read or change while the program uses it: the checked copy
// of a signed package and secret key files.

// Creates a new, empty folder that only the calling user can enter, inside the system's
// temporary folder (POSIX: $TMPDIR, else /tmp; Windows: GetTempPath), its name starting
// with `prefix`. *path gets it with a final separator. False when none can be made or the
// name would not fit kMaxPath with room for a file name of 32 characters.
bool CreatePrivateFolder(const char* prefix, std::string* path);
// Creates a new file for reading and writing that only its owner can open: never opens,
// truncates or follows anything that exists, and on Windows holds the file without sharing
// until it is closed. kInvalidHandle on failure.
FileHandle CreatePrivateFile(const char* path);

}  // namespace os
