// A file handle of the OS layer that closes itself, so that the builder's files are closed
// on every way out of a function.
#pragma once

#include "io/os.h"

class ScopedFile {
public:
    explicit ScopedFile(os::FileHandle handle = os::kInvalidHandle) : handle_(handle) {}
    ~ScopedFile() { Close(); }
    ScopedFile(const ScopedFile&) = delete;
    ScopedFile& operator=(const ScopedFile&) = delete;

    bool ok() const { return handle_ != os::kInvalidHandle; }
    os::FileHandle get() const { return handle_; }
    // Closes the file now (before it is opened again, say); nothing happens when none is open.
    void Close() {
        if (handle_ != os::kInvalidHandle) os::CloseFile(handle_);
        handle_ = os::kInvalidHandle;
    }
    // Closes the file held and holds `handle` instead.
    void Reset(os::FileHandle handle) {
        Close();
        handle_ = handle;
    }

private:
    os::FileHandle handle_;
};
