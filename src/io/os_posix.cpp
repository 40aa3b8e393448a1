// POSIX implementation of the thin OS layer. It emulates what the engine relies on from
// Windows: "\" separators, letter-case-insensitive names, the read-only attribute, local-time
// MS-DOS stamps and a table of raw-data resources. Inside a Confinement every path is walked
// from the confinement folder's descriptor one component at a time without following links,
// and the operation then acts on the name inside the folder reached, so no link, planted
// before or during the run, can lead an operation outside.
#include "io/os.h"

#include "io/codepage.h"
#include "io/fault_injection.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

// The program's own resources, generated at build time from the resource files.
extern const os::ResourceTable kProgramResources;

namespace os {

const char kSeparator = '/';

// The folder of one Confinement: its text (with "/" separators and a final "/") as the
// engine spells paths inside it, its resolved spelling, and an open descriptor.
struct ConfinementState {
    std::string spelled;
    std::string resolved;
    int fd;
    ConfinementState* outer;
};

namespace {

ConfinementState* g_confinement = nullptr;

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

std::string WithSlashes(const char* path) {
    std::string p(path ? path : "");
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

// Finds an entry of the open folder `dir` whose name equals `name` apart from letter case.
bool FindNoCaseAt(int dir, const std::string& name, std::string* found) {
    int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return false;
    }
    bool ok = false;
    const std::string key = FoldedName(name);
    while (struct dirent* e = readdir(d)) {
        if (FoldedName(e->d_name) == key) {
            *found = e->d_name;
            ok = true;
            break;
        }
    }
    closedir(d);
    return ok;
}

bool FindNoCase(const std::string& folder, const std::string& name, std::string* found) {
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = FindNoCaseAt(fd, name, found);
    close(fd);
    return ok;
}

// Turns a path of the engine into the name of an existing entry where one matches: "\"
// becomes "/", and when the path does not exist as spelled each component is looked up
// without regard to ASCII letter case. Components that do not exist (a file about to be
// created, say) keep their spelling.
std::string Resolve(const char* path) {
    if (!path) return std::string();
    std::string p = WithSlashes(path);
    if (p.empty() || Exists(p)) return p;

    bool absolute = p[0] == '/';
    std::string out = absolute ? "/" : "";
    bool parent_exists = true;
    size_t i = absolute ? 1 : 0;
    for (;;) {
        size_t end = p.find('/', i);
        if (end == std::string::npos) end = p.size();
        std::string comp = p.substr(i, end - i);
        if (!comp.empty()) {  // doubled separators are dropped
            if (!out.empty() && out.back() != '/') out += '/';
            std::string candidate = out + comp;
            if (parent_exists && comp != "." && comp != ".." && !Exists(candidate)) {
                std::string stored;
                if (FindNoCase(out, comp, &stored))
                    candidate = out + stored;
                else
                    parent_exists = false;  // nothing below a missing folder can be found
            }
            out = candidate;
        }
        if (end == p.size()) break;
        i = end + 1;
    }
    if (p.back() == '/' && !out.empty() && out.back() != '/') out += '/';
    return out;
}

// The part of `path` below the innermost confinement folder, or false when the path is not
// inside it (the folder itself is not inside it either).
bool BelowConfinement(const std::string& path, std::string* rest) {
    const ConfinementState* c = g_confinement;
    if (c == nullptr) return false;
    for (const std::string* root : {&c->spelled, &c->resolved}) {
        if (path.size() > root->size() && path.compare(0, root->size(), *root) == 0) {
            *rest = path.substr(root->size());
            return true;
        }
    }
    return false;
}

// Where an operation on a path acts: an open folder and a name in it. Outside any
// confinement that is the current folder and the whole resolved path, as before. Inside
// one, the folders on the way are opened from the confinement folder one by one, each
// looked up without regard to letter case and never through a link; the last name keeps
// its stored spelling when it exists. `ok` is false, with errno set, when the path cannot
// be reached that way: ELOOP for a link on the way, EXDEV for "..", ENOENT for a missing
// folder on the way.
class Place {
public:
    explicit Place(const char* path) {
        std::string p = WithSlashes(path);
        std::string rest;
        if (p.empty()) {
            errno = ENOENT;
            return;
        }
        if (!BelowConfinement(p, &rest)) {
            name_ = Resolve(path);
            ok_ = true;
            return;
        }
        confined_ = true;
        Walk(rest);
    }
    ~Place() {
        if (dir_ >= 0) close(dir_);
    }
    Place(const Place&) = delete;
    Place& operator=(const Place&) = delete;

    bool ok() const { return ok_; }
    bool confined() const { return confined_; }
    int dir() const { return dir_ >= 0 ? dir_ : confined_ ? g_confinement->fd : AT_FDCWD; }
    const char* name() const { return name_.c_str(); }
    // lstat of the name: never follows a final link.
    bool Stat(struct stat* st) const { return ok_ && fstatat(dir(), name(), st, AT_SYMLINK_NOFOLLOW) == 0; }

private:
    // Opens the folder component `comp` of the open folder `dir` without following a
    // link, looking it up without regard to case when it does not exist as spelled.
    static int OpenFolderAt(int dir, const std::string& comp) {
        int fd = openat(dir, comp.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd >= 0) return fd;
        std::string stored;
        if (errno == ENOENT && FindNoCaseAt(dir, comp, &stored))
            fd = openat(dir, stored.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 && (errno == ENOTDIR || errno == ELOOP)) {
            struct stat st;
            const char* name = stored.empty() ? comp.c_str() : stored.c_str();
            if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
        }
        return fd;
    }

    void Walk(const std::string& rest) {
        std::vector<std::string> parts;
        size_t i = 0;
        while (i <= rest.size()) {
            size_t end = rest.find('/', i);
            if (end == std::string::npos) end = rest.size();
            std::string comp = rest.substr(i, end - i);
            if (comp == "..") {
                errno = EXDEV;
                return;
            }
            if (!comp.empty() && comp != ".") parts.push_back(comp);
            i = end + 1;
        }
        if (parts.empty()) {
            errno = ENOENT;
            return;
        }
        int dir = g_confinement->fd;
        for (size_t k = 0; k + 1 < parts.size(); ++k) {
            int next = OpenFolderAt(dir, parts[k]);
            const int error = errno;
            if (dir != g_confinement->fd) close(dir);
            if (next < 0) {
                errno = error;
                return;
            }
            dir = next;
        }
        if (dir != g_confinement->fd) dir_ = dir;
        name_ = parts.back();
        struct stat st;
        std::string stored;
        if (fstatat(this->dir(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 &&
            FindNoCaseAt(this->dir(), name_, &stored)) {
            name_ = stored;
        }
        ok_ = true;
    }

    bool ok_ = false;
    bool confined_ = false;
    int dir_ = -1;  // owned; -1 for the confinement folder or the current folder
    std::string name_;
};

bool IsReadOnlyMode(mode_t m) { return (m & S_IWUSR) == 0; }

int Days(int year, int month) {
    static const int kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
    if (month == 2 && ((year % 4 == 0 && year % 100 != 0) || year % 400 == 0)) return 29;
    return kDays[month - 1];
}

// Splits a local-time MS-DOS stamp; false when it is not a valid date and time.
bool SplitStamp(uint32_t stamp, struct tm* t) {
    uint32_t date = stamp >> 16, time = stamp & 0xFFFF;
    int year = 1980 + static_cast<int>(date >> 9);
    int month = static_cast<int>((date >> 5) & 15);
    int day = static_cast<int>(date & 31);
    int hour = static_cast<int>(time >> 11);
    int minute = static_cast<int>((time >> 5) & 63);
    int second = static_cast<int>(time & 31) * 2;
    if (month < 1 || month > 12 || day < 1 || day > Days(year, month)) return false;
    if (hour > 23 || minute > 59 || second > 59) return false;
    std::memset(t, 0, sizeof *t);
    t->tm_year = year - 1900;
    t->tm_mon = month - 1;
    t->tm_mday = day;
    t->tm_hour = hour;
    t->tm_min = minute;
    t->tm_sec = second;
    t->tm_isdst = -1;
    return true;
}

int Fd(FileHandle h) { return static_cast<int>(h); }

// A call that a test made fail, with the error a failing device gives.
bool Injected(FaultKind kind) {
    if (!FaultHits(kind)) return false;
    errno = EIO;
    return true;
}

int OpenAt(const Place& place, int flags, mode_t mode) {
    int fd;
    do {
        fd = openat(place.dir(), place.name(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

// Gives a file this call created the owner's write permission, which a restrictive umask
// may have withheld: the engine must be able to write, stamp and delete its own files.
bool KeepOwnerWritable(int fd) {
    struct stat st;
    if (fstat(fd, &st) != 0) return false;
    return !IsReadOnlyMode(st.st_mode) || fchmod(fd, (st.st_mode & 07777) | S_IWUSR) == 0;
}

}  // namespace

// ---- File handles -------------------------------------------------------------------

// Writing tries to create the file first, so that a file this call made is known to be its
// own (and is made writable); an existing one is then opened and cut only when writable.
FileHandle OpenFile(const char* path, int mode) {
    if (Injected(FaultKind::kOpen)) return kInvalidHandle;
    Place place(path);
    if (!place.ok()) return kInvalidHandle;
    const int access = mode & 3;
    const int nofollow = place.confined() ? O_NOFOLLOW : 0;
    int fd = -1;
    bool created = false;
    if (access == kModeWrite) {
        fd = OpenAt(place, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        created = fd >= 0;
        if (fd < 0 && errno == EEXIST && (mode & kModeCreateNew) != kModeCreateNew)
            fd = OpenAt(place, O_WRONLY | O_CLOEXEC | nofollow, 0);
    } else {
        fd = OpenAt(place, (access == kModeReadWrite ? O_RDWR : O_RDONLY) | O_CLOEXEC | nofollow, 0);
    }
    if (fd < 0) return kInvalidHandle;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    if (ok && created) ok = KeepOwnerWritable(fd);
    // Root may write anything; the read-only attribute must still hold.
    if (ok && !created && (access & kModeWrite) && IsReadOnlyMode(st.st_mode)) ok = false;
    if (ok && !created && access == kModeWrite && ftruncate(fd, 0) != 0) ok = false;
    if (!ok) {
        close(fd);
        return kInvalidHandle;
    }
    return fd;
}

void CloseFile(FileHandle h) {
    if (h != kInvalidHandle) close(Fd(h));
}

bool ReadFile(FileHandle h, void* buf, uint32_t n, uint32_t* got) {
    *got = 0;
    if (h == kInvalidHandle || Injected(FaultKind::kRead)) return false;
    char* p = static_cast<char*>(buf);
    while (*got < n) {
        ssize_t r = read(Fd(h), p + *got, n - *got);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) break;
        *got += static_cast<uint32_t>(r);
    }
    return true;
}

bool WriteFile(FileHandle h, const void* buf, uint32_t n, uint32_t* put) {
    *put = 0;
    if (h == kInvalidHandle || Injected(FaultKind::kWrite)) return false;
    const char* p = static_cast<const char*>(buf);
    while (*put < n) {
        ssize_t r = write(Fd(h), p + *put, n - *put);
        if (r < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (r == 0) return false;
        *put += static_cast<uint32_t>(r);
    }
    return true;
}

int64_t SeekFile(FileHandle h, int64_t distance, SeekOrigin origin) {
    if (h == kInvalidHandle) return -1;
    int whence = origin == kFromBegin ? SEEK_SET : origin == kFromCurrent ? SEEK_CUR : SEEK_END;
    off_t r = lseek(Fd(h), static_cast<off_t>(distance), whence);
    return r < 0 ? -1 : static_cast<int64_t>(r);
}

int64_t FileSize(FileHandle h) {
    struct stat st;
    if (h == kInvalidHandle || fstat(Fd(h), &st) != 0) return -1;
    return static_cast<int64_t>(st.st_size);
}

bool SyncFile(FileHandle h) { return h != kInvalidHandle && !Injected(FaultKind::kFlush) && fsync(Fd(h)) == 0; }

bool GetFileStamp(FileHandle h, uint32_t* stamp) {
    *stamp = 0;
    struct stat st;
    if (h == kInvalidHandle || fstat(Fd(h), &st) != 0) return false;
    time_t when = st.st_mtime;
    struct tm t;
    if (!localtime_r(&when, &t)) return false;
    int year = t.tm_year + 1900;
    if (year < 1980 || year > 2107) return false;
    uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | ((t.tm_mon + 1) << 5) | t.tm_mday);
    uint32_t time = static_cast<uint32_t>((t.tm_hour << 11) | (t.tm_min << 5) | (t.tm_sec / 2));
    *stamp = (date << 16) | time;
    return true;
}

bool SetFileStamp(FileHandle h, uint32_t stamp) {
    if (h == kInvalidHandle || Injected(FaultKind::kSetTime)) return false;
    // As on Windows, the time of a file can only be set through a handle open for writing.
    int fl = fcntl(Fd(h), F_GETFL);
    if (fl < 0 || (fl & O_ACCMODE) == O_RDONLY) return false;
    struct tm t;
    if (!SplitStamp(stamp, &t)) return false;
    time_t when = mktime(&t);
    if (when == static_cast<time_t>(-1)) return false;
    struct timespec times[2];
    times[0].tv_sec = when;
    times[0].tv_nsec = 0;
    times[1] = times[0];
    return futimens(Fd(h), times) == 0;
}

// ---- Names and folders -------------------------------------------------------------

uint32_t GetAttributes(const char* path) {
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return kInvalidAttributes;
    uint32_t link = 0;
    if (S_ISLNK(st.st_mode)) {
        // A confined link's target is not looked at; elsewhere the link reports it.
        if (place.confined() || fstatat(place.dir(), place.name(), &st, 0) != 0) return kAttrReparsePoint;
        link = kAttrReparsePoint;
    }
    if (S_ISDIR(st.st_mode)) return link | kAttrDirectory | (IsReadOnlyMode(st.st_mode) ? kAttrReadOnly : 0);
    if (IsReadOnlyMode(st.st_mode)) return link | kAttrReadOnly;
    return link ? link : kAttrNormal;
}

bool SetReadOnly(const char* path, bool read_only) {
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return false;
    if (S_ISLNK(st.st_mode) && (place.confined() || fstatat(place.dir(), place.name(), &st, 0) != 0)) return false;
    mode_t m = st.st_mode & 07777;
    m = read_only ? (m & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (m | S_IWUSR);
    return fchmodat(place.dir(), place.name(), m, 0) == 0;
}

bool CreateFolder(const char* path) {
    if (Injected(FaultKind::kCreateFolder)) return false;
    Place place(path);
    return place.ok() && mkdirat(place.dir(), place.name(), 0777) == 0;
}

bool RemoveFolder(const char* path) {
    if (Injected(FaultKind::kDelete)) return false;
    Place place(path);
    return place.ok() && unlinkat(place.dir(), place.name(), AT_REMOVEDIR) == 0;
}

bool DeleteFile(const char* path) {
    if (Injected(FaultKind::kDelete)) return false;
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return false;
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return false;
    return unlinkat(place.dir(), place.name(), 0) == 0;
}

bool MoveFile(const char* from, const char* to) {
    if (Injected(FaultKind::kMove)) return false;
    Place f(from), t(to);
    struct stat sf, st;
    if (!t.ok() || !f.Stat(&sf)) return false;
    std::string target_name = t.name();
    if (t.Stat(&st)) {
        if (sf.st_dev != st.st_dev || sf.st_ino != st.st_ino) return false;
        // The same entry under another letter case: rename it to the new spelling.
        std::string spelled = WithSlashes(to);
        size_t cut = spelled.find_last_of('/');
        std::string name = cut == std::string::npos ? spelled : spelled.substr(cut + 1);
        size_t tcut = target_name.find_last_of('/');
        target_name = (tcut == std::string::npos ? std::string() : target_name.substr(0, tcut + 1)) + name;
    }
    return renameat(f.dir(), f.name(), t.dir(), target_name.c_str()) == 0;
}

// The new file takes the owner, group and permission bits of the file it replaces (an
// executable stays executable; set-id bits are not carried over), and reaches the disk
// before its name replaces the old one.
bool ReplaceFile(const char* from, const char* to) {
    if (Injected(FaultKind::kMove)) return false;
    Place f(from), t(to);
    struct stat sf, st;
    if (!t.ok() || !f.Stat(&sf)) return false;
    const bool replaces = t.Stat(&st);
    if (replaces) {
        if (S_ISDIR(st.st_mode)) return false;
        if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return false;
    }
    if (S_ISREG(sf.st_mode)) {
        int fd = OpenAt(f, O_RDONLY | O_CLOEXEC | O_NOFOLLOW, 0);
        if (fd < 0) return false;
        bool ok = true;
        if (replaces && S_ISREG(st.st_mode)) {
            if (fchown(fd, st.st_uid, st.st_gid) != 0 && errno != EPERM) ok = false;
            ok = ok && fchmod(fd, st.st_mode & 0777) == 0;
        }
        ok = ok && fsync(fd) == 0;
        close(fd);
        if (!ok) return false;
    }
    return renameat(f.dir(), f.name(), t.dir(), t.name()) == 0;
}

bool FindStoredName(const char* path, std::string* stored) {
    if (!path || !*path || IsSeparator(path[std::strlen(path) - 1])) return false;
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return false;
    std::string p = place.name();
    size_t cut = p.find_last_of('/');
    *stored = cut == std::string::npos ? p : p.substr(cut + 1);
    return true;
}

bool ListFolder(const char* folder, std::vector<FolderItem>* items) {
    Place place(folder);
    if (!place.ok()) return false;
    int fd = openat(place.dir(), place.name(), O_RDONLY | O_DIRECTORY | O_CLOEXEC | (place.confined() ? O_NOFOLLOW : 0));
    if (fd < 0) return false;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return false;
    }
    while (struct dirent* e = readdir(d)) {
        bool is_folder;
        if (e->d_type == DT_DIR) {
            is_folder = true;
        } else if (e->d_type != DT_UNKNOWN) {
            is_folder = false;  // links included: a search never follows them
        } else {
            struct stat st;
            is_folder = fstatat(dirfd(d), e->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
        }
        items->push_back(FolderItem{e->d_name, is_folder});
    }
    closedir(d);
    return true;
}

bool GetCurrentFolder(char* buf, size_t size) { return size > 0 && getcwd(buf, size) != nullptr; }

bool SetCurrentFolder(const char* path) {
    std::string p = Resolve(path);
    return !p.empty() && chdir(p.c_str()) == 0;
}

int GetDriveType(const char* root) {
    if (!root) return kDriveNoRootDir;
    // "C:\" stands for the one fixed drive.
    if ((root[0] == 'C' || root[0] == 'c') && root[1] == ':' && (root[2] == 0 || (IsSeparator(root[2]) && root[3] == 0)))
        return kDriveFixed;
    std::string p = Resolve(root);
    struct stat st;
    if (!p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kDriveFixed;
    return kDriveNoRootDir;
}

std::vector<std::string> FixedDriveRoots() { return {"/"}; }

int64_t FreeSpace(const char* folder) {
    struct statvfs vfs;
    std::string p = Resolve(folder);
    if (p.empty() || statvfs(p.c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

bool SyncFolder(const char* folder) {
    if (Injected(FaultKind::kFlush)) return false;
    std::string p = WithSlashes(folder);
    while (p.size() > 1 && p.back() == '/') p.pop_back();
    int fd;
    std::string rest;
    if (BelowConfinement(p, &rest)) {
        Place place(p.c_str());
        if (!place.ok()) return false;
        fd = openat(place.dir(), place.name(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    } else {
        fd = open(Resolve(p.c_str()).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    }
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    return ok;
}

// ---- Confinement ---------------------------------------------------------------------

Confinement::Confinement(const char* folder) : state_(nullptr) {
    std::string spelled = WithSlashes(folder);
    if (spelled.empty()) return;
    std::string resolved = Resolve(spelled.c_str());
    int fd = open(resolved.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (spelled.back() != '/') spelled += '/';
    if (resolved.back() != '/') resolved += '/';
    state_ = new ConfinementState{spelled, resolved, fd, g_confinement};
    g_confinement = state_;
}

Confinement::~Confinement() {
    if (state_ == nullptr) return;
    g_confinement = state_->outer;
    close(state_->fd);
    delete state_;
}

bool StaysInside(const char* path) {
    std::string rest;
    if (!BelowConfinement(WithSlashes(path), &rest)) return true;
    Place place(path);
    if (!place.ok()) return errno != ELOOP && errno != EXDEV;  // else just not there (yet)
    struct stat st;
    return !place.Stat(&st) || !S_ISLNK(st.st_mode);
}

// ---- Time and resources ------------------------------------------------------------

uint32_t TickCount() {
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    uint64_t ms = static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
    return static_cast<uint32_t>(ms);
}

bool FindRawResource(Module module, ResourceName name, const void** data, size_t* size) {
    const ResourceTable* table = module ? static_cast<const ResourceTable*>(module) : &kProgramResources;
    for (size_t i = 0; i < table->count; ++i) {
        const EmbeddedResource& r = table->items[i];
        bool match = name.text ? (r.name.text && SameFoldedName(r.name.text, name.text))
                               : (!r.name.text && r.name.id == name.id);
        if (match) {
            *data = r.data;
            *size = r.size;
            return true;
        }
    }
    return false;
}

// ---- Private files ---------------------------------------------------------------------

bool CreatePrivateFolder(const char* prefix, std::string* path) {
    const char* base = std::getenv("TMPDIR");
    std::string folder = base != nullptr && base[0] == '/' ? base : "/tmp";
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    std::string pattern = folder + "/" + prefix + "XXXXXX";
    if (pattern.size() + 1 + 32 + 1 > static_cast<size_t>(kMaxPath)) return false;
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return false;  // mode 0700: the owner only
    *path = std::string(name.data()) + "/";
    return true;
}

FileHandle CreatePrivateFile(const char* path) {
    if (Injected(FaultKind::kOpen)) return kInvalidHandle;
    const std::string p = WithSlashes(path);
    int fd = open(p.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return kInvalidHandle;
    if (fchmod(fd, 0600) != 0) {  // a umask may have taken bits, never given any
        close(fd);
        unlink(p.c_str());
        return kInvalidHandle;
    }
    return fd;
}

}  // namespace os
