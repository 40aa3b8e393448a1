// POSIX implementation of the thin OS layer. It emulates what the engine relies on from
// Windows: "\" separators, letter-case-insensitive names, the read-only attribute, local-time
// MS-DOS stamps and a table of raw-data resources.
#include "io/os.h"

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>

// The program's own resources, generated at build time from the resource files.
extern const os::ResourceTable kProgramResources;

namespace os {

const char kSeparator = '/';

namespace {

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

// Finds an entry of `folder` whose name equals `name` apart from ASCII letter case.
bool FindNoCase(const std::string& folder, const std::string& name, std::string* found) {
    DIR* d = opendir(folder.empty() ? "." : folder.c_str());
    if (!d) return false;
    bool ok = false;
    while (struct dirent* e = readdir(d)) {
        if (EqualFoldingAscii(e->d_name, name.c_str())) {
            *found = e->d_name;
            ok = true;
            break;
        }
    }
    closedir(d);
    return ok;
}

// Turns a path of the engine into the name of an existing entry where one matches: "\"
// becomes "/", and when the path does not exist as spelled each component is looked up
// without regard to ASCII letter case. Components that do not exist (a file about to be
// created, say) keep their spelling.
std::string Resolve(const char* path) {
    if (!path) return std::string();
    std::string p(path);
    for (char& c : p)
        if (c == '\\') c = '/';
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

}  // namespace

std::string FoldedName(const char* name) {
    std::string s(name ? name : "");
    for (char& c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// ---- File handles -------------------------------------------------------------------

FileHandle OpenFile(const char* path, int mode) {
    std::string p = Resolve(path);
    if (p.empty()) return kInvalidHandle;
    int access = mode & 3;
    int flags = O_CLOEXEC;
    if (access == kModeWrite)
        flags |= O_WRONLY | O_CREAT;  // truncated below, once the file is known to be writable
    else if (access == kModeReadWrite)
        flags |= O_RDWR;
    else
        flags |= O_RDONLY;
    int fd;
    do {
        fd = open(p.c_str(), flags, 0666);
    } while (fd < 0 && errno == EINTR);
    if (fd < 0) return kInvalidHandle;
    struct stat st;
    bool ok = fstat(fd, &st) == 0 && !S_ISDIR(st.st_mode);
    // Root may write anything; the read-only attribute must still hold.
    if (ok && (access & kModeWrite) && IsReadOnlyMode(st.st_mode)) ok = false;
    if (ok && access == kModeWrite && ftruncate(fd, 0) != 0) ok = false;
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
    if (h == kInvalidHandle) return false;
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
    if (h == kInvalidHandle) return false;
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

bool SyncFile(FileHandle h) { return h != kInvalidHandle && fsync(Fd(h)) == 0; }

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
    if (h == kInvalidHandle) return false;
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
    std::string p = Resolve(path);
    struct stat st;
    if (p.empty() || stat(p.c_str(), &st) != 0) return kInvalidAttributes;
    if (S_ISDIR(st.st_mode)) return kAttrDirectory | (IsReadOnlyMode(st.st_mode) ? kAttrReadOnly : 0);
    return IsReadOnlyMode(st.st_mode) ? kAttrReadOnly : kAttrNormal;
}

bool SetReadOnly(const char* path, bool read_only) {
    std::string p = Resolve(path);
    struct stat st;
    if (p.empty() || stat(p.c_str(), &st) != 0) return false;
    mode_t m = st.st_mode & 07777;
    m = read_only ? (m & ~static_cast<mode_t>(S_IWUSR | S_IWGRP | S_IWOTH)) : (m | S_IWUSR);
    return chmod(p.c_str(), m) == 0;
}

bool CreateFolder(const char* path) {
    std::string p = Resolve(path);
    return !p.empty() && mkdir(p.c_str(), 0777) == 0;
}

bool RemoveFolder(const char* path) {
    std::string p = Resolve(path);
    return !p.empty() && rmdir(p.c_str()) == 0;
}

bool DeleteFile(const char* path) {
    std::string p = Resolve(path);
    struct stat st;
    if (p.empty() || lstat(p.c_str(), &st) != 0) return false;
    if (S_ISDIR(st.st_mode)) return false;
    if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return false;
    return unlink(p.c_str()) == 0;
}

bool MoveFile(const char* from, const char* to) {
    std::string f = Resolve(from), t = Resolve(to);
    struct stat sf, st;
    if (f.empty() || t.empty() || lstat(f.c_str(), &sf) != 0) return false;
    if (lstat(t.c_str(), &st) == 0) {
        if (sf.st_dev != st.st_dev || sf.st_ino != st.st_ino) return false;
        // The same entry under another letter case: rename it to the new spelling.
        std::string spelled(to);
        for (char& c : spelled)
            if (c == '\\') c = '/';
        size_t cut = spelled.find_last_of('/');
        size_t tcut = t.find_last_of('/');
        std::string name = cut == std::string::npos ? spelled : spelled.substr(cut + 1);
        t = (tcut == std::string::npos ? std::string() : t.substr(0, tcut + 1)) + name;
    }
    return rename(f.c_str(), t.c_str()) == 0;
}

bool ReplaceFile(const char* from, const char* to) {
    std::string f = Resolve(from), t = Resolve(to);
    struct stat sf, st;
    if (f.empty() || t.empty() || lstat(f.c_str(), &sf) != 0) return false;
    if (lstat(t.c_str(), &st) == 0) {
        if (S_ISDIR(st.st_mode)) return false;
        if (!S_ISLNK(st.st_mode) && IsReadOnlyMode(st.st_mode)) return false;
    }
    // The new content must be on the disk before its name replaces the old file.
    if (S_ISREG(sf.st_mode)) {
        int fd = open(f.c_str(), O_RDONLY | O_CLOEXEC);
        if (fd < 0) return false;
        bool synced = fsync(fd) == 0;
        close(fd);
        if (!synced) return false;
    }
    return rename(f.c_str(), t.c_str()) == 0;
}

bool FindStoredName(const char* path, std::string* stored) {
    if (!path || !*path || IsSeparator(path[std::strlen(path) - 1])) return false;
    std::string p = Resolve(path);
    if (!Exists(p)) return false;
    size_t cut = p.find_last_of('/');
    *stored = cut == std::string::npos ? p : p.substr(cut + 1);
    return true;
}

bool ListFolder(const char* folder, std::vector<FolderItem>* items) {
    std::string p = Resolve(folder);
    if (p.empty()) return false;
    DIR* d = opendir(p.c_str());
    if (!d) return false;
    std::string prefix = p.back() == '/' ? p : p + "/";
    while (struct dirent* e = readdir(d)) {
        bool is_folder;
        if (e->d_type == DT_DIR) {
            is_folder = true;
        } else if (e->d_type != DT_UNKNOWN) {
            is_folder = false;  // links included: a search never follows them
        } else {
            struct stat st;
            is_folder = lstat((prefix + e->d_name).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
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
        bool match = name.text ? (r.name.text && EqualFoldingAscii(r.name.text, name.text))
                               : (!r.name.text && r.name.id == name.id);
        if (match) {
            *data = r.data;
            *size = r.size;
            return true;
        }
    }
    return false;
}

}  // namespace os
