// Path and file-operation helpers: each wraps one or two OS-layer calls and answers 1 or 0.
// None of them reports why a call failed; the callers compare file identities instead.
#pragma once

#include <cstddef>
#include <string>

int IsExistingFile(const char* path);  // 1 for an existing file that is not a folder
int IsReadOnlyFile(const char* path);  // 1 when the read-only attribute is set
int CreateFolder(const char* path);    // one level
int RemoveFolder(const char* path);    // only when empty
int RemoveFile(const char* path);      // refuses read-only files
// Moves source onto destination, replacing it. 0 when the two names are the same apart
// from letter case (nothing is touched: moving a file onto itself would delete it) or when
// the move fails.
int MoveFileReplacing(const char* source, const char* destination);
// Copies path into output (at least 260 bytes) with its last component spelled as the
// folder stores it; unchanged when nothing is found.
void GetStoredFileName(const char* path, char* output);

// Compares two paths as the file system compares names: letter case folded by the one rule
// of io/codepage.h, in every letter of the code page (folding only a-z would take "\xC9"
// and "\xE9" for two files, and a move of one onto the other would delete it).
bool SamePathText(const char* a, const char* b);

// Reads a whole file into *data; false when it cannot be opened or read to its end.
bool ReadWholeFile(const std::string& path, std::string* data);

// Joins a and b into out (size bytes). Returns false, leaving out empty, when the result
// with its NUL does not fit: composed paths are refused, never cut.
bool JoinPath(char* out, size_t size, const char* a, const char* b);

// Saves the process's current folder when made and restores it when destroyed.
class CurrentFolderGuard {
public:
    CurrentFolderGuard();
    ~CurrentFolderGuard();
    CurrentFolderGuard(const CurrentFolderGuard&) = delete;
    CurrentFolderGuard& operator=(const CurrentFolderGuard&) = delete;

private:
    char* saved_;
};
