// Walking folder trees, glob matching and file comparison for the package builder.
#include "builder/tree.h"

#include <algorithm>
#include <cstring>

#include "builder/scoped_file.h"
#include "io/codepage.h"
#include "io/os.h"

namespace {

// Normalised form for matching: "\" separators, letters folded as the file system folds
// them.
std::string Normalise(const std::string& s) {
    std::string out = s;
    for (char& c : out)
        if (os::IsSeparator(c)) c = '\\';
    return os::FoldedName(out);
}

// Glob matching by backtracking; both strings are normalised.
bool Match(const char* p, const char* s) {
    while (*p != '\0') {
        if (p[0] == '*' && p[1] == '*') {
            p += 2;
            // "**\" may also match no folder at all.
            if (*p == '\\' && Match(p + 1, s)) return true;
            for (const char* t = s;; ++t) {
                if (Match(p, t)) return true;
                if (*t == '\0') return false;
            }
        }
        if (*p == '*') {
            ++p;
            for (const char* t = s;; ++t) {
                if (Match(p, t)) return true;
                if (*t == '\0' || *t == '\\') return false;
            }
        }
        if (*s == '\0') return false;
        if (*p == '?') {
            if (*s == '\\') return false;
        } else if (*p != *s) {
            return false;
        }
        ++p;
        ++s;
    }
    return *s == '\0';
}

bool Walk(const std::string& root, const std::string& relative, const std::vector<Glob>& excludes, Tree* tree,
          std::string* error) {
    std::string folder = root;
    if (!relative.empty()) {
        std::string native = relative;
        std::replace(native.begin(), native.end(), '\\', os::kSeparator);
        folder += os::kSeparator + native;
    }
    std::vector<os::FolderItem> items;
    if (!os::ListFolder(folder.c_str(), &items)) {
        *error = "cannot read the folder " + folder;
        return false;
    }
    // A stable order, whatever the platform lists first.
    std::sort(items.begin(), items.end(), [](const os::FolderItem& a, const os::FolderItem& b) { return a.name < b.name; });
    for (const os::FolderItem& item : items) {
        if (item.name == "." || item.name == "..") continue;
        // A "\" character (not a byte of one in a double-byte code page).
        std::string characters;
        if (item.representable && os::ToUtf8(item.name, &characters) && characters.find('\\') != std::string::npos) {
            *error = "the name \"" + item.name + "\" in " + folder + " holds a \"\\\", which Windows reads as a folder separator";
            return false;
        }
        const std::string name = relative.empty() ? item.name : relative + "\\" + item.name;
        bool excluded = false;
        for (const Glob& g : excludes) excluded = excluded || g.Matches(name);
        if (!item.representable && !excluded) {
            *error = folder + os::kSeparator + item.name + ": the name holds characters that code page " +
                     std::to_string(os::CodePage()) + " cannot hold (shown as \\u{...}); a package names its files in " +
                     "one ANSI code page (--codepage), so rename it or leave it out (--exclude)";
            return false;
        }
        std::string native = name;
        std::replace(native.begin(), native.end(), '\\', os::kSeparator);
        if (item.is_folder) {
            tree->folders.push_back(name);
            if (!excluded && !Walk(root, name, excludes, tree, error)) return false;
            continue;
        }
        if (excluded) continue;
        TreeFile file;
        file.name = name;
        file.path = root + os::kSeparator + native;
        const ScopedFile h(os::OpenFile(file.path.c_str(), os::kModeRead | os::kShareRead));
        const int64_t size = h.ok() ? os::FileSize(h.get()) : -1;
        if (size < 0) {
            *error = "cannot read " + file.path;
            return false;
        }
        file.size = static_cast<uint64_t>(size);
        tree->files.push_back(file);
    }
    return true;
}

}  // namespace

bool ReadExactly(os::FileHandle f, uint8_t* out, uint32_t n) {
    uint32_t have = 0;
    while (have < n) {
        uint32_t got = 0;
        if (!os::ReadFile(f, out + have, n - have, &got) || got == 0) return false;
        have += got;
    }
    return true;
}


Glob::Glob(const std::string& pattern) : text_(pattern) {
    std::string p = Normalise(pattern);
    while (!p.empty() && p[0] == '\\') p.erase(0, 1);
    whole_name_ = p.find('\\') != std::string::npos;
    pattern_ = p;
}

bool Glob::Matches(const std::string& relative_name) const {
    const std::string name = Normalise(relative_name);
    if (whole_name_) return Match(pattern_.c_str(), name.c_str());
    const size_t cut = name.rfind('\\');
    return Match(pattern_.c_str(), name.c_str() + (cut == std::string::npos ? 0 : cut + 1));
}

std::string FoldName(const std::string& name) { return Normalise(name); }

bool ScanTree(const std::string& root, const std::vector<Glob>& excludes, Tree* tree, std::string* error) {
    tree->files.clear();
    tree->folders.clear();
    std::string r = root;
    while (r.size() > 1 && os::IsSeparator(r.back())) r.pop_back();
    const uint32_t attributes = os::GetAttributes(r.c_str());
    if (attributes == os::kInvalidAttributes || (attributes & os::kAttrDirectory) == 0) {
        *error = root + " is not a folder";
        return false;
    }
    return Walk(r, "", excludes, tree, error);
}

bool SameContent(const std::string& a, const std::string& b, uint64_t size, bool* same, std::string* error) {
    const ScopedFile fa(os::OpenFile(a.c_str(), os::kModeRead | os::kShareRead));
    const ScopedFile fb(os::OpenFile(b.c_str(), os::kModeRead | os::kShareRead));
    bool ok = fa.ok() && fb.ok();
    *same = true;
    if (ok) {
        std::vector<uint8_t> ba(1u << 20), bb(1u << 20);
        uint64_t done = 0;
        while (ok && *same && done < size) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(ba.size(), size - done));
            ok = ReadExactly(fa.get(), ba.data(), n) && ReadExactly(fb.get(), bb.data(), n);
            *same = ok && std::memcmp(ba.data(), bb.data(), n) == 0;
            done += n;
        }
    }
    if (!ok) *error = "cannot read " + a + " or " + b;
    return ok;
}
