// The POSIX OS layer's handle-held work: what stands at a path, the engine's private
// folder (mode 0700, reached only through its descriptor) and the files in it, the
// delete that checks first, the one-apply-per-folder lock (flock) and the limit of open
// files.
#include "io/os.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <unistd.h>

#include <cstdio>

#include "io/os_posix_internal.h"

namespace os {

using posix::Injected;
using posix::IsReadOnlyMode;
using posix::Place;
using posix::StateOf;

struct PrivateFolderState {
    int fd;             // the folder, held open
    std::string path;   // as the engine spells it
    std::string below;  // below the confinement folder, with a final "/", for the disk record

    std::string Below(const char* name) const { return below + name; }
};

struct FolderLockState {
    int fd;
};

namespace {

// The state of `name` in the open folder `dir`; !exists when nothing is there. False
// when it cannot be looked at.
bool StateAt(int dir, const char* name, FileState* state) {
    struct stat st;
    *state = FileState();
    if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0) {
        *state = StateOf(st);
        return true;
    }
    return errno == ENOENT;
}

// Whether what stands at the destination now is what the caller expects there.
bool AsExpected(const FileState& now, const FileState& expected) {
    if (!expected.exists) return !now.exists;
    return now.regular && SameUnchangedFile(now, expected);
}

}  // namespace

bool SameUnchangedFile(const FileState& a, const FileState& b) {
    return a.exists == b.exists && a.regular == b.regular && a.size == b.size && a.volume == b.volume &&
           a.file == b.file && a.written == b.written && a.changed == b.changed;
}

bool GetFileState(FileHandle h, FileState* state) {
    struct stat st;
    *state = FileState();
    if (h == kInvalidHandle || fstat(static_cast<int>(h), &st) != 0) return false;
    *state = StateOf(st);
    return true;
}

bool LookAt(const char* path, FileState* state) {
    *state = FileState();
    Place place(path);
    if (!place.ok()) return errno == ENOENT;  // a missing folder on the way: nothing there
    return StateAt(place.dir(), place.name(), state);
}

bool DeleteFileIfUnchanged(const char* path, const FileState& expected) {
    if (Injected(FaultKind::kDelete)) return false;
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return false;
    if (!S_ISREG(st.st_mode) || IsReadOnlyMode(st.st_mode) || !SameUnchangedFile(StateOf(st), expected)) return false;
    posix::FolderChange change(place.dir());
    if (unlinkat(place.dir(), place.name(), 0) != 0) return false;
    change.Removed(place.name());
    posix::Record(DiskEvent::kDelete, place.Below());
    return true;
}

// ---- The private folder --------------------------------------------------------------

PrivateFolder::~PrivateFolder() {
    if (state_ != nullptr) close(state_->fd);
    delete state_;
}

bool PrivateFolder::Open(const char* path, std::string* why) {
    if (state_ != nullptr) return true;
    if (Injected(FaultKind::kCreateFolder)) {
        *why = std::string("the temporary folder ") + path + " cannot be created";
        return false;
    }
    Place place(path);
    if (!place.ok()) {
        *why = std::string(path) + " cannot be reached (a link or a file stands on its way)";
        return false;
    }
    posix::FolderChange change(place.dir());
    const bool created = mkdirat(place.dir(), place.name(), 0700) == 0;
    if (created) change.Added(place.name());
    if (created) posix::Record(DiskEvent::kMakeFolder, place.Below());
    if (!created && errno != EEXIST) {
        *why = std::string("the temporary folder ") + path + " cannot be created";
        return false;
    }
    const int fd = posix::OpenAt(place, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0);
    struct stat st;
    if (fd < 0 || fstat(fd, &st) != 0) {
        if (fd >= 0) close(fd);
        *why = std::string(path) + " is a link or a file, not a folder; remove it and try again";
        return false;
    }
    // A folder left by an interrupted run is taken only when nobody else could have put
    // or changed anything in it; from now on nobody else can even look into it. The umask
    // may have taken the owner's own rights from a folder made just now.
    if (!created && (st.st_uid != geteuid() || (st.st_mode & 022) != 0)) {
        close(fd);
        *why = std::string(path) + " was not left by an upgrade of this user (others own it or may change it); " +
               "remove it and try again";
        return false;
    }
    if (fchmod(fd, 0700) != 0) {
        close(fd);
        *why = std::string("the temporary folder ") + path + " cannot be made private";
        return false;
    }
    state_ = new PrivateFolderState{fd, path, place.Below() + "/"};
    return true;
}

FileHandle PrivateFolder::CreateFile(const char* name) {
    if (state_ == nullptr || Injected(FaultKind::kOpen)) return kInvalidHandle;
    if (unlinkat(state_->fd, name, 0) == 0)
        posix::Record(DiskEvent::kDelete, state_->Below(name));
    else if (errno != ENOENT)
        return kInvalidHandle;
    const int fd = openat(state_->fd, name, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return kInvalidHandle;
    if (fchmod(fd, 0600) != 0) {  // whatever the umask
        close(fd);
        unlinkat(state_->fd, name, 0);
        return kInvalidHandle;
    }
    if (RecordingDisk()) {
        struct stat st;
        DiskEvent e;
        e.kind = DiskEvent::kCreate;
        e.path = state_->Below(name);
        e.file = fstat(fd, &st) == 0 ? static_cast<uint64_t>(st.st_ino) : 0;
        RecordDisk(std::move(e));
    }
    return fd;
}

FileHandle PrivateFolder::OpenFile(const char* name) {
    if (state_ == nullptr || Injected(FaultKind::kOpen)) return kInvalidHandle;
    const int fd = openat(state_->fd, name, O_RDWR | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    struct stat st;
    if (fd >= 0 && (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode))) {
        close(fd);
        return kInvalidHandle;
    }
    return fd;
}

bool PrivateFolder::DeleteFile(const char* name) {
    if (state_ == nullptr || Injected(FaultKind::kDelete) || unlinkat(state_->fd, name, 0) != 0) return false;
    posix::Record(DiskEvent::kDelete, state_->Below(name));
    return true;
}

bool PrivateFolder::SyncFileSystem() {
    if (state_ == nullptr || Injected(FaultKind::kFlush) || syncfs(state_->fd) != 0) return false;
    posix::Record(DiskEvent::kSyncAll, std::string());
    return true;
}

PrivateFolder::MoveResult PrivateFolder::MoveInto(const char* name, FileHandle file, const char* destination,
                                                  const FileState& expected, bool synced) {
    struct Closer {
        FileHandle h;
        ~Closer() { CloseFile(h); }
    } closer{file};
    if (state_ == nullptr || file == kInvalidHandle || Injected(FaultKind::kMove)) return kNotMoved;
    const int fd = static_cast<int>(file);
    // The name must still be the file that was written and verified, and its only name.
    FileState held, named, there;
    if (!GetFileState(file, &held) || !StateAt(state_->fd, name, &named)) return kNotMoved;
    if (!named.exists || named.volume != held.volume || named.file != held.file || held.links != 1) return kNotHeldFile;
    Place place(destination);
    if (!place.ok() || !StateAt(place.dir(), place.name(), &there) || !AsExpected(there, expected)) return kNotMoved;
    if (there.exists) {
        struct stat st;
        if (fstatat(place.dir(), place.name(), &st, AT_SYMLINK_NOFOLLOW) != 0 || IsReadOnlyMode(st.st_mode))
            return kNotMoved;
        // An executable stays executable; set-id bits are not carried over. Only root may
        // give a file away: run by its owner, the new file stays that user's.
        if (fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) return kNotMoved;
        if (fchmod(fd, st.st_mode & 0777) != 0) return kNotMoved;
    }
    // fchown and fchmod change only what a new version of any file would get anyway; the
    // data itself was made durable before the commit began, or now.
    if (!synced) {
        if (fsync(fd) != 0) return kNotMoved;
        posix::RecordHandle(DiskEvent::kSyncFile, fd);
    }
    posix::FolderChange leaving(state_->fd), arriving(place.dir());
    // Where nothing stood, nothing that appeared since is replaced.
    const unsigned flags = there.exists ? 0 : RENAME_NOREPLACE;
    int r = renameat2(state_->fd, name, place.dir(), place.name(), flags);
    if (r != 0 && errno == EINVAL && flags != 0) {
        // A file system without that flag: the destination was looked at just now.
        r = renameat(state_->fd, name, place.dir(), place.name());
    }
    if (r != 0) return kNotMoved;
    leaving.Removed(name);
    arriving.Added(place.name());
    posix::Record(DiskEvent::kRename, state_->Below(name), place.Below());
    return kMoved;
}

void PrivateFolder::Remove() {
    if (state_ == nullptr) return;
    struct stat held;
    const bool known = fstat(state_->fd, &held) == 0;
    close(state_->fd);
    // Only the folder this object made or took is removed, not one put in its place.
    Place place(state_->path.c_str());
    struct stat st;
    if (known && !Injected(FaultKind::kDelete) && place.Stat(&st) && st.st_dev == held.st_dev &&
        st.st_ino == held.st_ino) {
        posix::FolderChange change(place.dir());
        if (unlinkat(place.dir(), place.name(), AT_REMOVEDIR) == 0) {
            change.Removed(place.name());
            posix::Record(DiskEvent::kRemoveFolder, place.Below());
        }
    }
    delete state_;
    state_ = nullptr;
}

uint32_t RaiseOpenFileLimit() {
    struct rlimit limit;
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    constexpr rlim_t kEnough = 1u << 20;
    const rlim_t wanted = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kEnough ? kEnough : limit.rlim_max;
    if (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur >= wanted) return static_cast<uint32_t>(wanted);
    limit.rlim_cur = wanted;
    if (setrlimit(RLIMIT_NOFILE, &limit) != 0 && getrlimit(RLIMIT_NOFILE, &limit) != 0) return 1024;
    return static_cast<uint32_t>(limit.rlim_cur == RLIM_INFINITY ? kEnough : limit.rlim_cur);
}

// ---- One apply per folder --------------------------------------------------------------

FolderLock::~FolderLock() {
    if (state_ != nullptr) close(state_->fd);  // releases the lock
    delete state_;
}

// A file system without flock (some network file systems) cannot hold the lock; the
// apply then runs as it always did, unlocked.
FolderLock::Result FolderLock::Acquire(const char* folder) {
    if (state_ != nullptr) return kHeld;
    const std::string path = posix::Resolve(posix::Native(folder));
    const int fd = open(path.c_str(), O_RDONLY | O_DIRECTORY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return kFailed;
    if (flock(fd, LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) {
        close(fd);
        return kBusy;
    }
    state_ = new FolderLockState{fd};
    return kHeld;
}

}  // namespace os
