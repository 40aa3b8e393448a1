// Inside the POSIX OS layer only: how a path of the engine is reached (the confinement
// walk and the letter-case-insensitive lookup with its folder listings), shared by the
// layer's files.
#pragma once

#include <sys/stat.h>
#include <sys/types.h>

#include <cerrno>
#include <string>

#include "io/disk_record.h"
#include "io/fault_injection.h"
#include "io/os.h"

namespace os {
namespace posix {

// The engine's paths and names are text in the ANSI code page with "\" or "/" between
// folders; the file system's are UTF-8 with "/". These convert at the layer's edge: a path
// into the layer becomes its native form (empty, with errno EILSEQ, when its bytes are no
// text of the code page), and a name out of it becomes code-page text (false when the
// code page cannot hold it).
std::string Native(const char* path);
bool FromNative(const std::string& native, std::string* text);

// Turns a native path into the name of an existing entry where one matches: when the path
// does not exist as spelled each component is looked up without regard to letter case.
// Components that do not exist keep their spelling.
std::string Resolve(const std::string& native);

// Finds the entry of the open folder `dir` whose name (native) folds to the same key as
// `name` (FoldedName in the code page), as the folder stores it. Names the code page
// cannot hold match nothing. The folder is listed once and the listing kept: it is used
// again while the folder's change time shows no change that the layer did not make itself
// (see FolderChange), else the folder is listed afresh.
bool FindNoCaseAt(int dir, const std::string& name, std::string* found);

// Keeps the kept listing of a folder right across a change this layer makes in it: made
// before the change, told the name added or removed after it succeeded. A listing that
// was already out of date before the change is dropped instead.
class FolderChange {
public:
    explicit FolderChange(int dir);
    void Added(const char* name) { Done(name, true); }
    void Removed(const char* name) { Done(name, false); }

private:
    void Done(const char* name, bool present);
    int dir_;
    bool known_;
    struct stat before_;
};

// Where an operation on a path acts: an open folder and a name in it. Outside any
// confinement that is the current folder and the whole resolved path. Inside one, the
// folders on the way are opened from the confinement folder one by one, each looked up
// without regard to letter case and never through a link; the last name keeps its stored
// spelling when it exists. ok() is false, with errno set, when the path cannot be reached
// that way: ELOOP for a link on the way, EXDEV for "..", ENOENT for a missing folder on
// the way, ENOTDIR for a file on the way.
class Place {
public:
    explicit Place(const char* path);  // in the code page, as the engine spells it
    ~Place();
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;

    bool ok() const { return ok_; }
    bool confined() const { return confined_; }
    int dir() const;
    const char* name() const { return name_.c_str(); }  // native
    // lstat of the name: never follows a final link.
    bool Stat(struct stat* st) const;
    // The path below the confinement folder as stored ("/" between names; "" for the
    // folder itself); "" outside any confinement. For the disk record.
    std::string Below() const { return confined_ ? folders_ + name_ : std::string(); }
    // Whether the path is the confinement folder itself.
    bool IsConfinementFolder() const { return itself_; }

private:
    void Walk(const std::string& rest);
    bool ok_ = false;
    bool confined_ = false;
    bool itself_ = false;
    int dir_ = -1;  // owned; -1 for the confinement folder or the current folder
    std::string name_;
    std::string folders_;  // the folders on the way below the confinement folder, each with "/"
};

// Adds an event to the disk record when a test records one (io/disk_record.h).
void Record(DiskEvent::Kind kind, const std::string& path, const std::string& to = std::string());
void RecordHandle(DiskEvent::Kind kind, int fd, uint64_t offset = 0, const void* data = nullptr, size_t n = 0,
                  int64_t time = 0);

// A call that a test made fail, with the error a failing device gives.
inline bool Injected(FaultKind kind) {
    if (!FaultHits(kind)) return false;
    errno = EIO;
    return true;
}

// openat on a place, again when a signal interrupted it.
int OpenAt(const Place& place, int flags, mode_t mode);

inline bool IsReadOnlyMode(mode_t m) { return (m & S_IWUSR) == 0; }

// What `st` says of a file, as FileState holds it.
FileState StateOf(const struct stat& st);

}  // namespace posix
}  // namespace os
