// The stream family: the failing base, the file stream with its optional buffer, the sizer
// and the flat memory stream, plus the integer, string and copy helpers built on them.
#include "io/stream.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

// ---- TCVLStream: fails every access; the helpers are built on the virtual operations ----

TCVLStream::~TCVLStream() = default;

void TCVLStream::SetError() { error_ = 1; }

void TCVLStream::PutByte(uint8_t) { SetError(); }

uint8_t TCVLStream::GetByte() {
    SetError();
    return 0;
}

bool TCVLStream::Seek(uint32_t) {
    SetError();
    return false;
}

uint32_t TCVLStream::Tell() {
    SetError();
    return 0;
}

uint32_t TCVLStream::Size() {
    SetError();
    return 0;
}

void TCVLStream::Sync() {}

void TCVLStream::Rewind() {
    error_ = 0;
    Seek(0);
}

void TCVLStream::Clear() { Rewind(); }

void TCVLStream::ZeroFill(uint32_t count) {
    Clear();
    for (uint32_t i = 0; i < count; ++i) PutByte(0);
    Rewind();
}

void TCVLStream::Write(const void* buf, uint32_t count) {
    const uint8_t* p = static_cast<const uint8_t*>(buf);
    for (uint32_t i = 0; i < count; ++i) PutByte(p[i]);
}

// Byte by byte; stops at the first byte that raised the error flag (which is sticky, so a
// stream already in error delivers nothing).
uint32_t TCVLStream::Read(void* buf, uint32_t count) {
    uint8_t* p = static_cast<uint8_t*>(buf);
    for (uint32_t i = 0; i < count; ++i) {
        p[i] = GetByte();
        if (error_) return i;
    }
    return count;
}

uint16_t TCVLStream::ReadU16() {
    uint8_t b[2] = {0, 0};
    Read(b, 2);
    return static_cast<uint16_t>(b[0] | (b[1] << 8));
}

uint32_t TCVLStream::ReadU32() {
    uint8_t b[4] = {0, 0, 0, 0};
    Read(b, 4);
    return static_cast<uint32_t>(b[0]) | (static_cast<uint32_t>(b[1]) << 8) |
           (static_cast<uint32_t>(b[2]) << 16) | (static_cast<uint32_t>(b[3]) << 24);
}

uint32_t TCVLStream::ReadString(char* buf, uint32_t n) {
    uint32_t stored = 0, length = 0;
    for (;;) {
        uint8_t c = GetByte();
        if (c == 0) break;
        if (stored + 1 < n) buf[stored++] = static_cast<char>(c);
        ++length;
    }
    if (n > 0) buf[stored] = 0;
    return length;
}

uint32_t TCVLStream::ReadLine(char* buf, uint32_t n) {
    uint32_t length = 0;
    for (;;) {
        uint8_t c = GetByte();
        if (c == 13) continue;
        if (c == 10 || c == 0) break;
        if (length + 1 < n) buf[length] = static_cast<char>(c);
        ++length;
    }
    if (n > 0) buf[length < n - 1 ? length : n - 1] = 0;
    return length;
}

void TCVLStream::WriteU16(uint16_t v) {
    uint8_t b[2] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8)};
    Write(b, 2);
}

void TCVLStream::WriteU32(uint32_t v) {
    uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v >> 16),
                    static_cast<uint8_t>(v >> 24)};
    Write(b, 4);
}

void TCVLStream::WriteString(const char* s) {
    if (s)
        for (; *s; ++s) PutByte(static_cast<uint8_t>(*s));
    PutByte(0);
}

void TCVLStream::WriteReal(float x, int decimals) {
    char text[40];
    std::snprintf(text, sizeof text, "%01.*f", decimals, static_cast<double>(x));
    WriteString(text);
}

float TCVLStream::ReadReal() {
    char text[40];
    ReadString(text, sizeof text);
    float x = 0;
    if (std::sscanf(text, "%f", &x) != 1) x = 0;
    return x;
}

void TCVLStream::WriteFormatted(const char* format, ...) {
    char text[256];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);  // longer output is cut to 255 characters
    va_end(args);
    for (const char* p = text; *p; ++p) {
        if (*p == '\n') PutByte(13);
        PutByte(static_cast<uint8_t>(*p));
    }
}

// ---- Stream-to-stream copies ---------------------------------------------------------

namespace {
constexpr uint32_t kCopyBufferSize = 32000;
}

uint32_t CopyBytes(TCVLStream& destination, TCVLStream& source, uint32_t n) {
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kCopyBufferSize]);
    if (!buffer) {
        if (n > 0) destination.SetError();
        return 0;
    }
    uint32_t copied = 0;
    uint32_t k;
    do {
        uint32_t want = n - copied < kCopyBufferSize ? n - copied : kCopyBufferSize;
        k = source.Read(buffer.get(), want);
        if (k > 0) destination.Write(buffer.get(), k);
        copied += k;
    } while (copied < n && k == kCopyBufferSize && !destination.HasError());
    return copied;
}

// A stream holds at most 4 GiB - 1 bytes, so asking for that many copies all of it (or up
// to the destination's first error, which is sticky anyway).
void CopyAll(TCVLStream& destination, TCVLStream& source) {
    source.Rewind();
    CopyBytes(destination, source, UINT32_MAX);
}

// ---- TCVLFStream ---------------------------------------------------------------------
// Unbuffered, each operation is one system call. With a buffer, the buffer holds either
// bytes read ahead of the stream position (the system's pointer is after them) or bytes
// written behind it (the system's pointer is where they go); file_pos_ mirrors the system's
// pointer so that no call is needed to know the position.

TCVLFStream::TCVLFStream(int mode, const char* path) {
    if (path) Open(mode, path);
}

TCVLFStream::~TCVLFStream() {
    Close();
    delete[] buffer_;
}

void TCVLFStream::Open(int mode, const char* path) {
    Close();
    error_ = 0;
    mode_ = mode;
    handle_ = os::OpenFile(path, mode);
    if (handle_ == os::kInvalidHandle) SetError();
}

void TCVLFStream::Adopt(os::FileHandle handle, int mode) {
    Close();
    error_ = 0;
    mode_ = mode;
    handle_ = handle;
    if (handle_ == os::kInvalidHandle) SetError();
}

os::FileHandle TCVLFStream::Release() {
    FlushWrites();
    DropReadAhead();
    const os::FileHandle handle = handle_;
    handle_ = os::kInvalidHandle;
    Close();
    return handle;
}

void TCVLFStream::Close() {
    if (handle_ != os::kInvalidHandle) {
        FlushWrites();
        os::CloseFile(handle_);
        handle_ = os::kInvalidHandle;
    }
    state_ = BufferState::kEmpty;
    buffer_fill_ = buffer_next_ = 0;
    file_pos_ = 0;
}

void TCVLFStream::EnableBuffering(uint32_t size) {
    FlushWrites();
    DropReadAhead();
    delete[] buffer_;
    buffer_ = nullptr;
    buffer_size_ = 0;
    if (size == 0) return;
    buffer_ = new (std::nothrow) uint8_t[size];
    if (!buffer_) return;  // stays unbuffered, which is only slower
    buffer_size_ = size;
    int64_t pos = IsOpen() ? os::SeekFile(handle_, 0, os::kFromCurrent) : 0;
    file_pos_ = pos < 0 ? 0 : static_cast<uint32_t>(pos);
}

bool TCVLFStream::FlushWrites() {
    if (state_ != BufferState::kWriteBehind) return true;
    state_ = BufferState::kEmpty;
    uint32_t pending = buffer_fill_, put = 0;
    buffer_fill_ = 0;
    os::WriteFile(handle_, buffer_, pending, &put);
    file_pos_ = buffer_base_ + put;
    if (put < pending) {
        SetError();
        return false;
    }
    return true;
}

void TCVLFStream::DropReadAhead() {
    if (state_ != BufferState::kReadAhead) return;
    state_ = BufferState::kEmpty;
    uint32_t position = buffer_base_ + buffer_next_;
    if (position == file_pos_) return;
    int64_t r = os::SeekFile(handle_, position, os::kFromBegin);
    if (r != position) {
        SetError();
        if (r >= 0) file_pos_ = static_cast<uint32_t>(r);
        return;
    }
    file_pos_ = position;
}

// Precondition: nothing buffered, so the system's pointer is the stream position. Reads
// a whole buffer, or after a seek only `wanted` bytes rounded up to whole pages.
bool TCVLFStream::FillReadAhead(uint32_t wanted) {
    constexpr uint32_t kPage = 4096;
    uint32_t length = buffer_size_;
    if (after_seek_ && buffer_size_ > kPage && wanted < buffer_size_ - kPage) length = (wanted / kPage + 1) * kPage;
    after_seek_ = false;
    uint32_t got = 0;
    bool ok = os::ReadFile(handle_, buffer_, length, &got);
    if (!ok) SetError();
    if (got == 0) return false;
    state_ = BufferState::kReadAhead;
    buffer_base_ = file_pos_;
    buffer_fill_ = got;
    buffer_next_ = 0;
    file_pos_ += got;
    return true;
}

void TCVLFStream::PutByte(uint8_t b) {
    if (!buffer_) {
        uint32_t put = 0;
        os::WriteFile(handle_, &b, 1, &put);
        if (put != 1) SetError();
        return;
    }
    if (!IsOpen() || !Writable()) {
        SetError();
        return;
    }
    DropReadAhead();
    if (state_ == BufferState::kEmpty) {
        state_ = BufferState::kWriteBehind;
        buffer_base_ = file_pos_;
        buffer_fill_ = 0;
    }
    buffer_[buffer_fill_++] = b;
    if (buffer_fill_ == buffer_size_) FlushWrites();
}

uint8_t TCVLFStream::GetByte() {
    if (!buffer_) {
        uint8_t b = 0;
        uint32_t got = 0;
        os::ReadFile(handle_, &b, 1, &got);
        if (got != 1) {
            SetError();
            return 0;
        }
        return b;
    }
    FlushWrites();
    if (state_ == BufferState::kReadAhead && buffer_next_ < buffer_fill_) return buffer_[buffer_next_++];
    state_ = BufferState::kEmpty;  // an exhausted read-ahead leaves the pointer at the position
    if (!FillReadAhead(1)) {
        SetError();
        return 0;
    }
    return buffer_[buffer_next_++];
}

bool TCVLFStream::Seek(uint32_t position) {
    if (buffer_) {
        FlushWrites();
        if (state_ == BufferState::kReadAhead && position >= buffer_base_ &&
            position - buffer_base_ <= buffer_fill_) {
            buffer_next_ = position - buffer_base_;
            return true;
        }
        state_ = BufferState::kEmpty;
        after_seek_ = true;
    }
    int64_t r = os::SeekFile(handle_, position, os::kFromBegin);
    if (buffer_) {
        if (r < 0) r = os::SeekFile(handle_, 0, os::kFromCurrent);
        if (r >= 0) file_pos_ = static_cast<uint32_t>(r);
    }
    if (r != static_cast<int64_t>(position)) {
        SetError();
        return false;
    }
    return true;
}

uint32_t TCVLFStream::Tell() {
    if (!buffer_) {
        int64_t r = os::SeekFile(handle_, 0, os::kFromCurrent);
        if (r < 0) {
            SetError();
            return 0;
        }
        return static_cast<uint32_t>(r);
    }
    if (!IsOpen()) {
        SetError();
        return 0;
    }
    FlushWrites();
    if (state_ == BufferState::kReadAhead) return buffer_base_ + buffer_next_;
    return file_pos_;
}

uint32_t TCVLFStream::Size() {
    FlushWrites();
    int64_t size = os::FileSize(handle_);
    if (size < 0 || size > 0x7FFFFFFF) {
        SetError();
        return 0;
    }
    return static_cast<uint32_t>(size);
}

void TCVLFStream::Sync() { FlushWrites(); }

void TCVLFStream::Write(const void* buf, uint32_t count) {
    if (!buffer_) {
        uint32_t put = 0;
        os::WriteFile(handle_, buf, count, &put);
        if (put < count) SetError();
        return;
    }
    if (count == 0) return;
    if (!IsOpen() || !Writable()) {
        SetError();
        return;
    }
    DropReadAhead();
    if (state_ == BufferState::kWriteBehind && buffer_fill_ + count <= buffer_size_) {
        std::memcpy(buffer_ + buffer_fill_, buf, count);
        buffer_fill_ += count;
        if (buffer_fill_ == buffer_size_) FlushWrites();
        return;
    }
    FlushWrites();
    if (count >= buffer_size_) {
        uint32_t put = 0;
        os::WriteFile(handle_, buf, count, &put);
        file_pos_ += put;
        if (put < count) SetError();
        return;
    }
    state_ = BufferState::kWriteBehind;
    buffer_base_ = file_pos_;
    std::memcpy(buffer_, buf, count);
    buffer_fill_ = count;
}

// A short read is not an error (the caller sees the count); a failed system call is.
uint32_t TCVLFStream::Read(void* buf, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(buf);
    if (!buffer_) {
        uint32_t got = 0;
        if (!os::ReadFile(handle_, out, count, &got)) SetError();
        return got;
    }
    if (count == 0) {  // asks the system all the same, so a failing handle is noticed alike
        uint32_t got = 0;
        if (!os::ReadFile(handle_, out, 0, &got)) SetError();
        return 0;
    }
    FlushWrites();
    uint32_t done = 0;
    if (state_ == BufferState::kReadAhead) {
        uint32_t avail = buffer_fill_ - buffer_next_;
        done = count < avail ? count : avail;
        std::memcpy(out, buffer_ + buffer_next_, done);
        buffer_next_ += done;
        if (done == count) return done;
        state_ = BufferState::kEmpty;
    }
    uint32_t rest = count - done;
    if (rest >= buffer_size_) {
        uint32_t got = 0;
        if (!os::ReadFile(handle_, out + done, rest, &got)) SetError();
        file_pos_ += got;
        return done + got;
    }
    if (!FillReadAhead(rest)) return done;
    uint32_t take = rest < buffer_fill_ ? rest : buffer_fill_;
    std::memcpy(out + done, buffer_, take);
    buffer_next_ = take;
    return done + take;
}

bool TCVLFStream::GetState(os::FileState* state) {
    FlushWrites();
    return os::GetFileState(handle_, state);
}

bool TCVLFStream::GetFileStamp(uint32_t* stamp) {
    FlushWrites();
    return os::GetFileStamp(handle_, stamp);
}

// Only a stream opened for writing may set the time, on every platform.
bool TCVLFStream::SetFileStamp(uint32_t stamp) {
    if (!Writable()) return false;
    FlushWrites();
    return os::SetFileStamp(handle_, stamp);
}

bool TCVLFStream::SeekRelative(int32_t distance) {
    FlushWrites();
    DropReadAhead();
    int64_t r = os::SeekFile(handle_, distance, os::kFromCurrent);
    if (r < 0) {
        SetError();
        return false;
    }
    file_pos_ = static_cast<uint32_t>(r);
    return true;
}

bool TCVLFStream::SyncToDisk() {
    bool flushed = FlushWrites();
    return os::SyncFile(handle_) && flushed;
}

// ---- TCVLSizerStream -----------------------------------------------------------------

void TCVLSizerStream::PutByte(uint8_t) {
    ++position_;
    if (position_ > size_) size_ = position_;
}

uint8_t TCVLSizerStream::GetByte() {
    if (position_ < size_) {
        ++position_;
        return 0;
    }
    SetError();
    return 0;
}

// Reading zeros up to the position leaves the position there; done in one step.
bool TCVLSizerStream::Seek(uint32_t position) {
    if (position > size_) return false;
    position_ = position;
    return true;
}

void TCVLSizerStream::Clear() {
    Rewind();
    size_ = 0;
}

// ---- TCVLFlatRamStream ---------------------------------------------------------------

TCVLFlatRamStream::TCVLFlatRamStream(void* block, uint32_t capacity, uint32_t size)
    : capacity_(capacity), block_(static_cast<uint8_t*>(block)), cursor_(static_cast<uint8_t*>(block)) {
    size_ = size <= capacity ? size : capacity;  // the data cannot reach past the block
}

TCVLFlatRamStream::TCVLFlatRamStream(uint32_t capacity, uint32_t grow_step) : owned_(true), grow_step_(grow_step) {
    if (capacity > 0) {
        block_ = static_cast<uint8_t*>(std::malloc(capacity));
        if (block_)
            capacity_ = capacity;
        else
            error_ = 1;
    }
    cursor_ = block_;
}

TCVLFlatRamStream::~TCVLFlatRamStream() {
    if (owned_ && block_) std::free(block_);
}

void TCVLFlatRamStream::PutByte(uint8_t b) {
    if (position_ >= capacity_) {
        if (grow_step_ == 0 || !owned_) {
            SetError();
            return;
        }
        uint32_t grown = capacity_ < grow_step_ ? grow_step_ : capacity_ + grow_step_;
        if (grown <= capacity_) {  // the size would wrap around
            SetError();
            return;
        }
        uint8_t* block = static_cast<uint8_t*>(std::realloc(block_, grown));
        if (!block) {
            SetError();
            return;
        }
        block_ = block;
        capacity_ = grown;
        cursor_ = block_ + position_;
    }
    *cursor_++ = b;
    ++position_;
    if (position_ > size_) size_ = position_;
}

uint8_t TCVLFlatRamStream::GetByte() {
    if (position_ < size_) {
        ++position_;
        return *cursor_++;
    }
    SetError();
    return 0;
}

bool TCVLFlatRamStream::Seek(uint32_t position) {
    if (position > size_) return false;
    position_ = position;
    cursor_ = block_ + position;
    return true;
}
