// How the POSIX OS layer reaches a path: "\" as "/", names looked up without regard to
// letter case through a kept listing of each folder, and, inside a Confinement, every path
// walked from the confinement folder's descriptor one component at a time without
// following links, so that no link, planted before or during the run, leads outside.
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <map>
#include <mutex>
#include <unordered_map>
#include <utility>
#include <vector>

#include "io/codepage.h"
#include "io/os_posix_internal.h"

namespace os {

// The folder of one Confinement: its text (with "/" separators and a final "/") as the
// engine spells paths inside it, its resolved spelling, and an open descriptor.
struct ConfinementState {
    std::string spelled;
    std::string resolved;
    int fd;
    ConfinementState* outer;
};

namespace posix {

namespace {

ConfinementState* g_confinement = nullptr;

bool Exists(const std::string& path) {
    struct stat st;
    return lstat(path.c_str(), &st) == 0;
}

bool SameTime(const struct timespec& a, const struct timespec& b) {
    return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec;
}

// The folding key of a native name: FoldedName of its code-page text; false for a name
// the code page cannot hold, which no name of the engine can match.
bool KeyOf(const std::string& native, std::string* key) {
    std::string text;
    if (!FromNative(native, &text)) return false;
    *key = FoldedName(text);
    return true;
}

// ---- Kept folder listings ----------------------------------------------------------
// A folder's names by their folded key, as listed when the folder had the change and
// modification times kept with them. Looking a name up costs one fstat of the folder
// while those times hold; a folder of many files is not read again for every name.
struct Listing {
    struct timespec changed;
    struct timespec modified;
    std::unordered_map<std::string, std::string> names;  // key -> name as stored
};

// Listings are kept for the whole process (the builder's threads look names up too), up
// to a bound on the names they hold.
constexpr size_t kMaxListedNames = 1u << 21;
std::mutex g_listings_mutex;
std::map<std::pair<dev_t, ino_t>, Listing> g_listings;
size_t g_listed_names = 0;

bool Current(const Listing& listing, const struct stat& st) {
    return SameTime(listing.changed, st.st_ctim) && SameTime(listing.modified, st.st_mtim);
}

// Reads the folder `dir` into `listing`; `st` is its state taken before the read, so that
// a change during the read shows as a change next time.
bool ReadListing(int dir, const struct stat& st, Listing* listing) {
    int fd = openat(dir, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    DIR* d = fdopendir(fd);
    if (!d) {
        close(fd);
        return false;
    }
    listing->names.clear();
    listing->changed = st.st_ctim;
    listing->modified = st.st_mtim;
    std::string key;
    while (struct dirent* e = readdir(d))
        if (KeyOf(e->d_name, &key)) listing->names.emplace(key, e->d_name);
    closedir(d);
    return true;
}

void Forget(std::map<std::pair<dev_t, ino_t>, Listing>::iterator it) {
    g_listed_names -= it->second.names.size();
    g_listings.erase(it);
}

}  // namespace

std::string Native(const char* path) {
    std::string p;
    if (path != nullptr && !ToUtf8(path, &p)) {
        errno = EILSEQ;
        return std::string();
    }
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

bool FromNative(const std::string& native, std::string* text) { return FromUtf8(native, text); }

bool FindNoCaseAt(int dir, const std::string& name, std::string* found) {
    struct stat st;
    if (fstat(dir, &st) != 0) return false;
    const std::pair<dev_t, ino_t> id{st.st_dev, st.st_ino};
    std::lock_guard<std::mutex> lock(g_listings_mutex);
    auto it = g_listings.find(id);
    if (it == g_listings.end() || !Current(it->second, st)) {
        if (it != g_listings.end()) Forget(it);
        Listing listing;
        if (!ReadListing(dir, st, &listing)) return false;
        if (g_listed_names + listing.names.size() > kMaxListedNames) {
            g_listings.clear();
            g_listed_names = 0;
        }
        g_listed_names += listing.names.size();
        it = g_listings.emplace(id, std::move(listing)).first;
    }
    std::string key;
    if (!KeyOf(name, &key)) return false;
    auto hit = it->second.names.find(key);
    if (hit == it->second.names.end()) return false;
    *found = hit->second;
    return true;
}

FolderChange::FolderChange(int dir) : dir_(dir), known_(fstat(dir, &before_) == 0) {}

void FolderChange::Done(const char* name, bool present) {
    struct stat after;
    if (!known_ || fstat(dir_, &after) != 0) return;
    std::lock_guard<std::mutex> lock(g_listings_mutex);
    auto it = g_listings.find({after.st_dev, after.st_ino});
    if (it == g_listings.end()) return;
    Listing& listing = it->second;
    // Changed by someone else before this change: the listing is read again when needed.
    if (!Current(listing, before_)) {
        Forget(it);
        return;
    }
    std::string key;
    if (!KeyOf(name, &key)) return;
    if (present) {
        if (listing.names.emplace(key, name).second) ++g_listed_names;
    } else if (listing.names.erase(key) != 0) {
        --g_listed_names;
    }
    listing.changed = after.st_ctim;
    listing.modified = after.st_mtim;
}

namespace {

bool FindNoCase(const std::string& folder, const std::string& name, std::string* found) {
    int fd = open(folder.empty() ? "." : folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = FindNoCaseAt(fd, name, found);
    close(fd);
    return ok;
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

// Opens the folder component `comp` of the open folder `dir` without following a link,
// looking it up without regard to case when it does not exist as spelled; *used is the
// name it was found under.
int OpenFolderAt(int dir, const std::string& comp, std::string* used) {
    *used = comp;
    int fd = openat(dir, comp.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0) return fd;
    std::string stored;
    if (errno == ENOENT && FindNoCaseAt(dir, comp, &stored)) {
        fd = openat(dir, stored.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        *used = stored;
    }
    if (fd < 0 && (errno == ENOTDIR || errno == ELOOP)) {
        struct stat st;
        const char* name = stored.empty() ? comp.c_str() : stored.c_str();
        if (fstatat(dir, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(st.st_mode)) errno = ELOOP;
    }
    return fd;
}

// The components of a path below the confinement folder; false (errno EXDEV) for "..".
bool SplitBelow(const std::string& rest, std::vector<std::string>* parts) {
    size_t i = 0;
    while (i <= rest.size()) {
        size_t end = rest.find('/', i);
        if (end == std::string::npos) end = rest.size();
        std::string comp = rest.substr(i, end - i);
        if (comp == "..") {
            errno = EXDEV;
            return false;
        }
        if (!comp.empty() && comp != ".") parts->push_back(comp);
        i = end + 1;
    }
    return true;
}

}  // namespace

std::string Resolve(const std::string& native) {
    const std::string& p = native;
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

Place::Place(const char* path) {
    std::string p = Native(path);
    std::string rest;
    if (p.empty()) {
        if (errno != EILSEQ) errno = ENOENT;
        return;
    }
    if (!BelowConfinement(p, &rest)) {
        name_ = Resolve(p);
        ok_ = true;
        const ConfinementState* c = g_confinement;
        while (p.size() > 1 && p.back() == '/') p.pop_back();
        itself_ = c != nullptr && (p + "/" == c->spelled || p + "/" == c->resolved);
        return;
    }
    confined_ = true;
    Walk(rest);
}

Place::~Place() {
    if (dir_ >= 0) close(dir_);
}

int Place::dir() const { return dir_ >= 0 ? dir_ : confined_ ? g_confinement->fd : AT_FDCWD; }

bool Place::Stat(struct stat* st) const { return ok_ && fstatat(dir(), name(), st, AT_SYMLINK_NOFOLLOW) == 0; }

void Place::Walk(const std::string& rest) {
    std::vector<std::string> parts;
    if (!SplitBelow(rest, &parts)) return;
    if (parts.empty()) {
        errno = ENOENT;
        return;
    }
    int dir = g_confinement->fd;
    for (size_t k = 0; k + 1 < parts.size(); ++k) {
        std::string used;
        int next = OpenFolderAt(dir, parts[k], &used);
        const int error = errno;
        if (dir != g_confinement->fd) close(dir);
        if (next < 0) {
            errno = error;
            return;
        }
        dir = next;
        folders_ += used + "/";
    }
    if (dir != g_confinement->fd) dir_ = dir;
    name_ = parts.back();
    struct stat st;
    std::string stored;
    if (fstatat(this->dir(), name_.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0 && FindNoCaseAt(this->dir(), name_, &stored))
        name_ = stored;
    ok_ = true;
}

int OpenAt(const Place& place, int flags, mode_t mode) {
    int fd;
    do {
        fd = openat(place.dir(), place.name(), flags, mode);
    } while (fd < 0 && errno == EINTR);
    return fd;
}

void Record(DiskEvent::Kind kind, const std::string& path, const std::string& to) {
    if (!RecordingDisk()) return;
    DiskEvent e;
    e.kind = kind;
    e.path = path;
    e.to = to;
    RecordDisk(std::move(e));
}

void RecordHandle(DiskEvent::Kind kind, int fd, uint64_t offset, const void* data, size_t n, int64_t time) {
    if (!RecordingDisk()) return;
    struct stat st;
    if (fstat(fd, &st) != 0) return;
    DiskEvent e;
    e.kind = kind;
    e.file = static_cast<uint64_t>(st.st_ino);
    e.offset = offset;
    if (data != nullptr) e.data.assign(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
    e.time = time;
    RecordDisk(std::move(e));
}

FileState StateOf(const struct stat& st) {
    FileState s;
    s.exists = true;
    s.regular = S_ISREG(st.st_mode);
    s.size = static_cast<uint64_t>(st.st_size);
    s.volume = static_cast<uint64_t>(st.st_dev);
    s.file = static_cast<uint64_t>(st.st_ino);
    s.links = static_cast<uint32_t>(st.st_nlink);
    s.written = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    s.changed = static_cast<int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return s;
}

}  // namespace posix

// ---- Confinement ---------------------------------------------------------------------

Confinement::Confinement(const char* folder) : state_(nullptr) {
    std::string spelled = posix::Native(folder);
    if (spelled.empty()) return;
    std::string resolved = posix::Resolve(spelled);
    int fd = open(resolved.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    if (spelled.back() != '/') spelled += '/';
    if (resolved.back() != '/') resolved += '/';
    state_ = new ConfinementState{spelled, resolved, fd, posix::g_confinement};
    posix::g_confinement = state_;
}

Confinement::~Confinement() {
    if (state_ == nullptr) return;
    posix::g_confinement = state_->outer;
    close(state_->fd);
    delete state_;
}

bool StaysInside(const char* path) {
    std::string rest;
    if (!posix::BelowConfinement(posix::Native(path), &rest)) return true;
    posix::Place place(path);
    if (!place.ok()) return errno != ELOOP && errno != EXDEV;  // else just not there (yet)
    struct stat st;
    return !place.Stat(&st) || !S_ISLNK(st.st_mode);
}

}  // namespace os
