// The file access of the signing code, all of it through the OS layer: small key and
// signature files read whole, and new files written completely or not at all.
#pragma once

#include <cstddef>
#include <string>

#include "io/os.h"
#include "sign/secret_bytes.h"

namespace sign {

// Owns an OS-layer file handle and closes it when it goes.
class FileOwner {
public:
    explicit FileOwner(os::FileHandle h = os::kInvalidHandle) : handle_(h) {}
    ~FileOwner() { Close(); }
    FileOwner(const FileOwner&) = delete;
    FileOwner& operator=(const FileOwner&) = delete;
    os::FileHandle Get() const { return handle_; }
    bool Open() const { return handle_ != os::kInvalidHandle; }
    void Close() {
        if (handle_ != os::kInvalidHandle) os::CloseFile(handle_);
        handle_ = os::kInvalidHandle;
    }

private:
    os::FileHandle handle_;
};

// Writes all n bytes; false when the system wrote fewer.
bool WriteAll(os::FileHandle h, const void* data, size_t n);

// Reads a whole file of at most `max` bytes. *error says "does not exist", "cannot be
// read" or "is larger than ..." on failure.
bool ReadSmallFile(const char* path, size_t max, std::string* text, std::string* error);
// The same into secret memory, for secret key files.
bool ReadSecretFile(const char* path, size_t max, SecretBytes* text, std::string* error);

// Creates a file that must not exist yet and writes it whole, synced; `owner_only` makes
// it readable by its owner alone. On failure nothing of it is left.
bool WriteNewFile(const char* path, const void* data, size_t n, bool owner_only, std::string* error);
// Writes a file beside `path` and then puts it in the place of `path`, so that a reader
// sees the old text or the new one, never a part. On failure `path` is as it was.
bool ReplaceFileText(const char* path, const std::string& text, std::string* error);

}  // namespace sign
