// Folder trees for the package builder: walking a tree into its files and folders with
// names as the package stores them, glob patterns for exclusions and policy overrides,
// and byte-wise comparison of two files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "io/os.h"

// A glob over relative names, matched without regard to letter case, with "\" and
// "/" alike: "*" matches within one name, "?" one character of a name, "**" any run of
// characters across folders. A pattern without a separator matches a file's or folder's
// own name in any folder ("*.bak"); one with a separator matches the whole relative
// name ("Saves\*", "Logs\**"). A leading separator is ignored.
class Glob {
public:
    explicit Glob(const std::string& pattern);
    bool Matches(const std::string& relative_name) const;
    const std::string& Pattern() const { return text_; }

private:
    std::string text_;
    std::string pattern_;  // separators as "\", letters folded
    bool whole_name_;
};

struct TreeFile {
    std::string name;  // relative, "\" between folders, as the folder stores it
    std::string path;  // for opening
    uint64_t size = 0;
};

struct Tree {
    std::vector<TreeFile> files;
    std::vector<std::string> folders;  // relative names, excluded folders included
};

// Walks the folder `root`. Files and folders matching one of `excludes` are left out
// (an excluded folder is listed in `folders` but not entered). False with *error set
// when the root or a folder inside it cannot be read.
bool ScanTree(const std::string& root, const std::vector<Glob>& excludes, Tree* tree, std::string* error);

// The name with "\" separators and its letters folded to upper case (os::FoldedName): the
// key under which Windows finds it.
std::string FoldName(const std::string& name);

// Reads exactly n bytes of an open file; false at a read failure or an early end.
bool ReadExactly(os::FileHandle f, uint8_t* out, uint32_t n);

// Compares two files byte for byte. *same tells the result; false with *error set when
// either cannot be read.
bool SameContent(const std::string& a, const std::string& b, uint64_t size, bool* same, std::string* error);
