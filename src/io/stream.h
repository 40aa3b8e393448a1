// Byte streams over files and memory with a sticky error flag instead of exceptions.
// Every package byte and every installed file the engine touches moves through these.
#pragma once

#include <cstddef>
#include <cstdint>

#include "io/os.h"

// Base of all streams. By itself it fails every access; the subclasses give it storage.
// The error flag is sticky: only Rewind (and, for files, Open) clears it.
class TCVLStream {
public:
    TCVLStream() = default;
    TCVLStream(const TCVLStream&) = delete;
    TCVLStream& operator=(const TCVLStream&) = delete;

    // The thirteen virtual operations, in their fixed slot order.
    virtual ~TCVLStream();
    virtual void SetError();
    virtual void PutByte(uint8_t b);
    virtual uint8_t GetByte();              // 0 and error at the end of data or on failure
    virtual bool Seek(uint32_t position);   // absolute
    virtual uint32_t Tell();
    virtual uint32_t Size();
    virtual void Sync();                    // no effect, except where a stream buffers writes
    virtual void Rewind();                  // clears the error flag, then Seek(0)
    virtual void Clear();                   // Rewind; memory streams also drop their data
    virtual void ZeroFill(uint32_t count);  // Clear, count zero bytes, Rewind
    virtual void Write(const void* buf, uint32_t count);
    virtual uint32_t Read(void* buf, uint32_t count);  // returns the bytes stored

    bool HasError() const { return error_ != 0; }
    uint16_t ReadU16();  // little-endian; missing bytes read as 0
    uint32_t ReadU32();
    // Reads up to and including a NUL (or the end of data); keeps at most n - 1 characters
    // and returns the full length of the string read.
    uint32_t ReadString(char* buf, uint32_t n);
    // Reads one text line: CR skipped, LF or NUL (end of data) ends it; stores at most n - 1
    // characters and a NUL; returns the full length of the line.
    uint32_t ReadLine(char* buf, uint32_t n);
    void WriteU16(uint16_t v);
    void WriteU32(uint32_t v);
    void WriteString(const char* s);  // the characters and one NUL
    void WriteReal(float x, int decimals);
    float ReadReal();
    // printf-style into 256 bytes (longer output is cut), CR put before every LF, no NUL.
    void WriteFormatted(const char* format, ...) __attribute__((format(printf, 2, 3)));

protected:
    int32_t error_ = 0;
};

// Copies up to n bytes through a 32000-byte buffer; stops early at a short read or a
// destination error. Returns the bytes copied.
uint32_t CopyBytes(TCVLStream& destination, TCVLStream& source, uint32_t n);
// Rewinds the source and copies all of it.
void CopyAll(TCVLStream& destination, TCVLStream& source);

// A stream over one file, unbuffered: each byte operation is one system call.
class TCVLFStream : public TCVLStream {
public:
    enum : int {
        ModeRead = os::kModeRead,
        ModeWrite = os::kModeWrite,
        ModeCreateNew = os::kModeCreateNew,  // a new file only; nothing existing is opened
        ModeReadWrite = os::kModeReadWrite,
        ShareRead = os::kShareRead,
        ShareWrite = os::kShareWrite,
    };

    // Opens path with mode when path is not null.
    TCVLFStream(int mode, const char* path);
    ~TCVLFStream() override;

    // Closes any open file, clears the error flag and opens path; sets the error on failure.
    void Open(int mode, const char* path);
    // Closes any open file, clears the error flag and takes over the open `handle` (opened
    // with `mode`); sets the error when it is invalid.
    void Adopt(os::FileHandle handle, int mode);
    // Hands pending writes to the file and gives up the handle without closing it (the
    // caller owns it then); the stream is closed afterwards. A write failure found while
    // handing them over sets the error flag, which stays.
    os::FileHandle Release();
    void Close();
    bool IsOpen() const { return handle_ != os::kInvalidHandle; }

    bool GetFileStamp(uint32_t* stamp);
    bool GetState(os::FileState* state);  // what the file is now (os::GetFileState)
    bool SetFileStamp(uint32_t stamp);  // needs ModeReadWrite
    bool SeekRelative(int32_t distance);
    bool SyncToDisk();  // flushes written data to the disk
    // Gives the stream a read-ahead / write-behind buffer of `size` bytes so that byte-wise
    // and small-chunk access does not cost one system call each. Every operation keeps
    // its unbuffered meaning (positions, sizes, error flag); buffered writes reach the file
    // at the latest on Seek, Tell, Size, Sync, Close and destruction, and a write failure
    // found then sets the error flag. Off by default.
    void EnableBuffering(uint32_t size);

    void PutByte(uint8_t b) override;
    uint8_t GetByte() override;
    bool Seek(uint32_t position) override;
    uint32_t Tell() override;
    uint32_t Size() override;
    void Sync() override;  // hands buffered writes to the system (see EnableBuffering)
    void Write(const void* buf, uint32_t count) override;
    uint32_t Read(void* buf, uint32_t count) override;

private:
    // What the optional buffer holds: nothing, bytes read ahead, or bytes not yet written.
    enum class BufferState { kEmpty, kReadAhead, kWriteBehind };
    bool Writable() const { return (mode_ & 3) == ModeWrite || (mode_ & 3) == ModeReadWrite; }
    bool FlushWrites();     // writes pending bytes; false (and the error flag) on failure
    void DropReadAhead();   // puts the system's file pointer back at the stream position
    bool FillReadAhead(uint32_t wanted);  // reads the next buffer; false at the end or on failure

    os::FileHandle handle_ = os::kInvalidHandle;
    int mode_ = 0;
    uint8_t* buffer_ = nullptr;  // owned; null while unbuffered
    uint32_t buffer_size_ = 0;
    BufferState state_ = BufferState::kEmpty;
    uint32_t buffer_base_ = 0;   // file position of buffer_[0]
    uint32_t buffer_fill_ = 0;   // bytes held
    uint32_t buffer_next_ = 0;   // read-ahead: index of the next byte to deliver
    uint32_t file_pos_ = 0;      // the system's file pointer while buffering
    // A seek outside the buffer makes the next read-ahead only as long as the read that
    // needs it (in whole pages): the rebuild copies short pieces from all over an old
    // file, and a full buffer per piece read the file many times over.
    bool after_seek_ = false;
};

// Stores nothing: measures how many bytes a writer produces; reads yield zeros.
class TCVLSizerStream : public TCVLStream {
public:
    TCVLSizerStream() = default;

    void PutByte(uint8_t b) override;
    uint8_t GetByte() override;
    bool Seek(uint32_t position) override;
    uint32_t Tell() override { return position_; }
    uint32_t Size() override { return size_; }
    void Clear() override;

protected:
    uint32_t size_ = 0;
    uint32_t position_ = 0;
};

// A stream over one flat memory block, either the caller's or its own (growable).
class TCVLFlatRamStream : public TCVLSizerStream {
public:
    TCVLFlatRamStream() = default;
    // Laid over caller memory; the data is the first `size` bytes; never grows.
    TCVLFlatRamStream(void* block, uint32_t capacity, uint32_t size);
    // Owns a block of `capacity` bytes that grows by `grow_step` (0: never grows).
    TCVLFlatRamStream(uint32_t capacity, uint32_t grow_step);
    ~TCVLFlatRamStream() override;

    void PutByte(uint8_t b) override;
    uint8_t GetByte() override;
    bool Seek(uint32_t position) override;

    const uint8_t* Data() const { return block_; }
    uint32_t Capacity() const { return capacity_; }

private:
    uint32_t capacity_ = 0;
    bool owned_ = false;
    uint32_t grow_step_ = 0;
    uint8_t* block_ = nullptr;
    uint8_t* cursor_ = nullptr;
};
