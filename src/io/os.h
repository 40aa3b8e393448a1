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
