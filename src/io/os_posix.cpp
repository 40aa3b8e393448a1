// POSIX implementation of the thin OS layer. It emulates what the engine relies on from
// Windows: "\" separators, letter-case-insensitive names, the read-only attribute, local-time
// MS-DOS stamps and a table of raw-data resources. Every path is reached through a Place
// (confine_posix.cpp), which inside a Confinement never follows a link; only plain files
// are opened, and nothing is opened in a way that could block.
#include "io/os.h"

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
#include <vector>

#include "io/codepage.h"
#include "io/os_posix_internal.h"

// The program's own resources, generated at build time from the resource files.
extern const os::ResourceTable kProgramResources;

namespace os {

const char kSeparator = '/';

namespace {

using posix::Injected;
using posix::IsReadOnlyMode;
using posix::OpenAt;
using posix::Place;
using posix::Resolve;
using posix::FromNative;
using posix::Native;

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

// Renames the name of `from` to `to_name` in the folder of `to`, keeping the kept folder
// listings of both folders right.
bool RenameAt(const Place& from, const Place& to, const char* to_name) {
    posix::FolderChange leaving(from.dir()), arriving(to.dir());
    if (renameat(from.dir(), from.name(), to.dir(), to_name) != 0) return false;
    leaving.Removed(from.name());
    arriving.Added(to_name);
    if (from.confined() && to.confined()) {
        const std::string below = to.Below();
        const size_t cut = below.rfind('/');
        posix::Record(DiskEvent::kRename, from.Below(), (cut == std::string::npos ? "" : below.substr(0, cut + 1)) + to_name);
    }
    return true;
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
// Opens never wait: a FIFO or a device is opened without blocking, seen for what it is
// through the handle, and refused, so that nothing planted in a folder can hang a run or
// feed it endless bytes.
FileHandle OpenFile(const char* path, int mode) {
    if (Injected(FaultKind::kOpen)) return kInvalidHandle;
    Place place(path);
    if (!place.ok()) return kInvalidHandle;
    const int access = mode & 3;
    const int nofollow = place.confined() ? O_NOFOLLOW : 0;
    const int common = O_CLOEXEC | O_NONBLOCK | O_NOCTTY;
    int fd = -1;
    bool created = false;
    if (access == kModeWrite) {
        posix::FolderChange change(place.dir());
        fd = OpenAt(place, O_WRONLY | O_CREAT | O_EXCL | common, 0666);
        created = fd >= 0;
        if (created) change.Added(place.name());
        if (fd < 0 && errno == EEXIST && (mode & kModeCreateNew) != kModeCreateNew)
            fd = OpenAt(place, O_WRONLY | common | nofollow, 0);
    } else {
        fd = OpenAt(place, (access == kModeReadWrite ? O_RDWR : O_RDONLY) | common | nofollow, 0);
    }
    if (fd < 0) return kInvalidHandle;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && S_ISREG(st.st_mode);
    if (!ok) errno = EINVAL;  // a folder, a FIFO, a device or a socket
    const int flags = ok ? fcntl(fd, F_GETFL) : -1;
    ok = ok && flags >= 0 && fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
    if (ok && created) ok = KeepOwnerWritable(fd);
    // Root may write anything; the read-only attribute must still hold.
    if (ok && !created && (access & kModeWrite) && IsReadOnlyMode(st.st_mode)) ok = false;
    if (ok && !created && access == kModeWrite && ftruncate(fd, 0) != 0) ok = false;
    if (!ok) {
        close(fd);
        return kInvalidHandle;
    }
    if (created && place.confined() && RecordingDisk()) {
        DiskEvent e;
        e.kind = DiskEvent::kCreate;
        e.path = place.Below();
        e.file = static_cast<uint64_t>(st.st_ino);
        RecordDisk(std::move(e));
    }
    if (!created && access == kModeWrite) posix::RecordHandle(DiskEvent::kTruncate, fd, 0);
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
    if (RecordingDisk()) {
        const off_t at = lseek(Fd(h), 0, SEEK_CUR);
        if (at >= 0) posix::RecordHandle(DiskEvent::kWrite, Fd(h), static_cast<uint64_t>(at), buf, n);
    }
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

void StartWriteback(FileHandle h) {
    if (h != kInvalidHandle) sync_file_range(Fd(h), 0, 0, SYNC_FILE_RANGE_WRITE);
}

bool SyncFile(FileHandle h) {
    if (h == kInvalidHandle || Injected(FaultKind::kFlush) || fsync(Fd(h)) != 0) return false;
    posix::RecordHandle(DiskEvent::kSyncFile, Fd(h));
    return true;
}

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
    if (futimens(Fd(h), times) != 0) return false;
    posix::RecordHandle(DiskEvent::kSetTime, Fd(h), 0, nullptr, 0, static_cast<int64_t>(when));
    return true;
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
    if (!place.ok()) return false;
    posix::FolderChange change(place.dir());
    if (mkdirat(place.dir(), place.name(), 0777) != 0) return false;
    change.Added(place.name());
    if (place.confined()) posix::Record(DiskEvent::kMakeFolder, place.Below());
    return true;
}

bool RemoveFolder(const char* path) {
    if (Injected(FaultKind::kDelete)) return false;
    Place place(path);
    if (!place.ok()) return false;
    posix::FolderChange change(place.dir());
    if (unlinkat(place.dir(), place.name(), AT_REMOVEDIR) != 0) return false;
    change.Removed(place.name());
    if (place.confined()) posix::Record(DiskEvent::kRemoveFolder, place.Below());
    return true;
}

bool DeleteFile(const char* path) {
    if (Injected(FaultKind::kDelete)) return false;
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return false;
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return false;
    posix::FolderChange change(place.dir());
    if (unlinkat(place.dir(), place.name(), 0) != 0) return false;
    change.Removed(place.name());
    if (place.confined()) posix::Record(DiskEvent::kDelete, place.Below());
    return true;
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
        std::string spelled = Native(to);
        size_t cut = spelled.find_last_of('/');
        std::string name = cut == std::string::npos ? spelled : spelled.substr(cut + 1);
        size_t tcut = target_name.find_last_of('/');
        target_name = (tcut == std::string::npos ? std::string() : target_name.substr(0, tcut + 1)) + name;
    }
    return RenameAt(f, t, target_name.c_str());
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
        if (ok) posix::RecordHandle(DiskEvent::kSyncFile, fd);
        close(fd);
        if (!ok) return false;
    }
    return RenameAt(f, t, t.name());
}

bool FindStoredName(const char* path, std::string* stored) {
    if (!path || !*path || IsSeparator(path[std::strlen(path) - 1])) return false;
    Place place(path);
    struct stat st;
    if (!place.Stat(&st)) return false;
    std::string p = place.name();
    size_t cut = p.find_last_of('/');
    return FromNative(cut == std::string::npos ? p : p.substr(cut + 1), stored);
}

bool ListFolder(const char* folder, std::vector<FolderItem>* items) {
    Place place(folder);
    if (!place.ok()) return false;
    int fd = openat(place.dir(), place.name(),
                    O_RDONLY | O_DIRECTORY | O_CLOEXEC | O_NONBLOCK | (place.confined() ? O_NOFOLLOW : 0));
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
        // A name the code page cannot hold is listed all the same, with those characters
        // shown as \u{XXXX}, so that a caller can tell what stands there.
        FolderItem item{std::string(), is_folder, FromNative(e->d_name, &item.name)};
        if (!item.representable) item.name = DescribeUtf8(e->d_name);
        items->push_back(item);
    }
    closedir(d);
    return true;
}

bool GetCurrentFolder(char* buf, size_t size) {
    char native[4096];
    std::string text;
    if (size == 0 || getcwd(native, sizeof native) == nullptr || !FromNative(native, &text) || text.size() >= size)
        return false;
    std::memcpy(buf, text.c_str(), text.size() + 1);
    return true;
}

bool SetCurrentFolder(const char* path) {
    std::string p = Resolve(Native(path));
    return !p.empty() && chdir(p.c_str()) == 0;
}

int GetDriveType(const char* root) {
    if (!root) return kDriveNoRootDir;
    // "C:\" stands for the one fixed drive.
    if ((root[0] == 'C' || root[0] == 'c') && root[1] == ':' && (root[2] == 0 || (IsSeparator(root[2]) && root[3] == 0)))
        return kDriveFixed;
    std::string p = Resolve(Native(root));
    struct stat st;
    if (!p.empty() && stat(p.c_str(), &st) == 0 && S_ISDIR(st.st_mode)) return kDriveFixed;
    return kDriveNoRootDir;
}

std::vector<std::string> FixedDriveRoots() { return {"/"}; }

int64_t FreeSpace(const char* folder) {
    struct statvfs vfs;
    std::string p = Resolve(Native(folder));
    if (p.empty() || statvfs(p.c_str(), &vfs) != 0) return -1;
    return static_cast<int64_t>(vfs.f_bavail) * static_cast<int64_t>(vfs.f_frsize);
}

bool SyncFolder(const char* folder) {
    if (Injected(FaultKind::kFlush)) return false;
    std::string p = folder;
    while (p.size() > 1 && IsSeparator(p.back())) p.pop_back();
    Place place(p.c_str());
    if (!place.ok()) return false;
    const int fd = OpenAt(place, O_RDONLY | O_DIRECTORY | O_CLOEXEC | (place.confined() ? O_NOFOLLOW : 0), 0);
    if (fd < 0) return false;
    bool ok = fsync(fd) == 0;
    close(fd);
    if (ok && (place.confined() || place.IsConfinementFolder())) posix::Record(DiskEvent::kSyncFolder, place.Below());
    return ok;
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

// ---- For the package builder -------------------------------------------------------

bool TemporaryFolder(std::string* folder) {
    const char* variable = std::getenv("TMPDIR");
    std::string f = variable != nullptr && *variable != '\0' ? variable : "/tmp";
    struct stat st;
    if (stat(f.c_str(), &st) != 0 || !S_ISDIR(st.st_mode) || !FromNative(f, folder)) return false;
    if (folder->back() != '/') *folder += '/';
    return true;
}

// Links are followed, except a final one inside a Confinement.
bool SameFile(const char* a, const char* b) {
    Place pa(a), pb(b);
    struct stat sa, sb;
    if (!pa.ok() || !pb.ok()) return false;
    if (fstatat(pa.dir(), pa.name(), &sa, pa.confined() ? AT_SYMLINK_NOFOLLOW : 0) != 0) return false;
    if (fstatat(pb.dir(), pb.name(), &sb, pb.confined() ? AT_SYMLINK_NOFOLLOW : 0) != 0) return false;
    return sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// ---- Private files ---------------------------------------------------------------------

bool CreatePrivateFolder(const char* prefix, std::string* path) {
    std::string folder;
    if (!TemporaryFolder(&folder)) return false;
    const std::string pattern = folder + prefix + "XXXXXX";
    if (pattern.size() + 1 + 32 + 1 > static_cast<size_t>(kMaxPath)) return false;
    const std::string native = Native(pattern.c_str());
    std::vector<char> name(native.begin(), native.end());
    name.push_back('\0');
    if (mkdtemp(name.data()) == nullptr) return false;  // mode 0700: the owner only
    if (!FromNative(name.data(), path)) {
        rmdir(name.data());
        return false;
    }
    *path += "/";
    return true;
}

FileHandle CreatePrivateFile(const char* path) {
    if (Injected(FaultKind::kOpen)) return kInvalidHandle;
    const std::string p = Native(path);
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
