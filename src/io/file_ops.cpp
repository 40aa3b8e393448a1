// Path and file-operation helpers of the engine and the front end: thin wrappers over the
// OS layer that answer 1 or 0 and keep no error code.
#include "io/file_ops.h"

#include <cstdlib>
#include <cstring>
#include <new>
#include <string>

#include "io/codepage.h"
#include "io/os.h"

// The attribute rule: a folder or a missing path is no file; a file counts whatever its
// read-only, hidden, system or archive bits.
int IsExistingFile(const char* path) {
    uint32_t a = os::GetAttributes(path);
    if (a == os::kInvalidAttributes) return 0;
    if (a & os::kAttrDirectory) return 0;
    if (a == os::kAttrNormal) return 1;
    if (a == 0) return 0;
    return 1;
}

int IsReadOnlyFile(const char* path) {
    uint32_t a = os::GetAttributes(path);
    return a != os::kInvalidAttributes && (a & os::kAttrReadOnly) ? 1 : 0;
}

int CreateFolder(const char* path) { return os::CreateFolder(path) ? 1 : 0; }

int RemoveFolder(const char* path) { return os::RemoveFolder(path) ? 1 : 0; }

int RemoveFile(const char* path) { return os::DeleteFile(path) ? 1 : 0; }

bool ReadWholeFile(const std::string& path, std::string* data) {
    data->clear();
    const os::FileHandle file = os::OpenFile(path.c_str(), os::kModeRead | os::kShareRead);
    if (file == os::kInvalidHandle) return false;
    char buffer[64 * 1024];
    bool ok = true;
    for (;;) {
        uint32_t got = 0;
        ok = os::ReadFile(file, buffer, sizeof buffer, &got);
        if (!ok || got == 0) break;
        data->append(buffer, got);
    }
    os::CloseFile(file);
    return ok;
}

bool SamePathText(const char* a, const char* b) {
    if (!a || !b) return a == b;
    return os::SameFoldedName(a, b);
}

// Moving a file onto itself would delete it first; such a pair is refused untouched.
int MoveFileReplacing(const char* source, const char* destination) {
    if (SamePathText(source, destination)) return 0;
    return os::ReplaceFile(source, destination) ? 1 : 0;
}

// The output is the path, cut to 259 characters, with its last component replaced by the
// stored spelling. A stored name that would not fit leaves the path as it is.
void GetStoredFileName(const char* path, char* output) {
    output[0] = 0;
    if (!path) return;
    std::strncpy(output, path, os::kMaxPath - 1);
    output[os::kMaxPath - 1] = 0;
    std::string stored;
    if (!os::FindStoredName(output, &stored)) return;
    size_t start = 0;
    for (size_t i = 0; output[i]; ++i)
        if (os::IsSeparator(output[i])) start = i + 1;
    if (start + stored.size() + 1 > static_cast<size_t>(os::kMaxPath)) return;
    std::memcpy(output + start, stored.c_str(), stored.size() + 1);
}

// Puts one separator between a and b unless a is empty or one of them already has it.
// Works when out is a or b.
bool JoinPath(char* out, size_t size, const char* a, const char* b) {
    if (size == 0) return false;
    if (!a) a = "";
    if (!b) b = "";
    size_t la = std::strlen(a), lb = std::strlen(b);
    bool separator = la > 0 && lb > 0 && !os::IsSeparator(a[la - 1]) && !os::IsSeparator(b[0]);
    size_t need = la + (separator ? 1 : 0) + lb + 1;
    char* joined = need <= size ? static_cast<char*>(std::malloc(need)) : nullptr;
    if (!joined) {
        out[0] = 0;
        return false;
    }
    std::memcpy(joined, a, la);
    if (separator) joined[la] = os::kSeparator;
    std::memcpy(joined + la + (separator ? 1 : 0), b, lb + 1);
    std::memcpy(out, joined, need);
    std::free(joined);
    return true;
}

CurrentFolderGuard::CurrentFolderGuard() : saved_(new (std::nothrow) char[os::kMaxPath]) {
    if (saved_ && !os::GetCurrentFolder(saved_, os::kMaxPath)) saved_[0] = 0;
}

CurrentFolderGuard::~CurrentFolderGuard() {
    if (saved_ && saved_[0]) os::SetCurrentFolder(saved_);
    delete[] saved_;
}
