// Writes upgrade packages: the header, the entry records and the rebuild scripts, plain
// or in the compressed "[QXZ]" form. Used by the package builder and by the tests.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/os.h"
#include "package/format.h"

struct z_stream_s;

struct EntryRecord {
    uint8_t operation = kOpAdd;
    uint8_t warning_policy = 0;
    uint8_t error_policy = 0;
    std::string name;  // "\" between folders
    std::string description;
    FileIdentity old_identity;  // written for Update and Remove
    FileIdentity new_identity;  // written for Add and Update
};

struct PackageHeader {
    uint8_t format_version = kMaxFormatVersion;
    std::string title;
    std::string description;
    // The stored entry count; -1 writes the number of records. Other values let tests
    // write packages whose count disagrees with their records.
    int entry_count = -1;
};

// Encodes rebuild-script commands into a byte buffer.
class ScriptWriter {
public:
    std::vector<uint8_t>& bytes() { return bytes_; }

    void Raw(uint8_t b) { bytes_.push_back(b); }
    void End() { Raw(kCmdEnd); }
    // Literal bytes in as few commands as possible (Literal8/16/32 by count).
    void Literal(const uint8_t* data, uint32_t n);
    void Literal(const std::string& s) { Literal(reinterpret_cast<const uint8_t*>(s.data()), static_cast<uint32_t>(s.size())); }
    void SetOffsetHigh(uint16_t high);
    void CopyNear(uint16_t low, uint32_t count);  // smallest of CopyNear8/16/32
    void CopyFar(uint32_t offset, uint32_t count);  // smallest of CopyFar8/16/32

private:
    std::vector<uint8_t> bytes_;
};

// Streams a package to a file front to back: WriteHeader once, then the scripts of the
// Add and Update entries in table order with WriteBytes, then Finish.
class PackageFileWriter {
public:
    PackageFileWriter();
    ~PackageFileWriter();
    PackageFileWriter(const PackageFileWriter&) = delete;
    PackageFileWriter& operator=(const PackageFileWriter&) = delete;

    // compression_level 0 writes the plain form, 1 to 12 the compressed form at that
    // level (deflate_whole.h). Levels 1 to 9 stream through zlib. Levels 10 to 12 hold the
    // plain bytes and compress them whole at the end; past kWholeLimit bytes they go on
    // streaming through zlib at level 9, so memory stays bounded. False (with *error set)
    // when the file cannot be created.
    bool Open(const char* path, int compression_level, std::string* error);
    static constexpr size_t kWholeLimit = size_t{128} << 20;
    // Bounds what levels 10 to 12 hold (kWholeLimit by default); call before Open.
    void SetWholeLimit(size_t bytes) { whole_limit_ = bytes; }
    void WriteHeader(const PackageHeader& header, const std::vector<EntryRecord>& entries);
    void WriteBytes(const void* data, size_t n);
    // Flushes and closes; false (with *error set) when any write failed.
    bool Finish(std::string* error);
    uint64_t PlainBytesWritten() const { return plain_bytes_; }

private:
    bool StartStream(int level);
    void Emit(const void* data, size_t n, bool finish);
    void Write(const void* data, size_t n);
    void Flush();
    void Put(const void* data, size_t n);
    static constexpr size_t kWriteBuffer = 64 * 1024;
    os::FileHandle file_ = os::kInvalidHandle;
    std::vector<uint8_t> out_;     // written bytes not yet handed to the file
    int whole_level_ = 0;          // above 0 while the plain bytes are held in `whole_`
    std::vector<uint8_t> whole_;
    size_t whole_limit_ = kWholeLimit;
    std::unique_ptr<z_stream_s> zstream_;
    std::vector<uint8_t> zbuffer_;
    bool compressed_ = false;
    bool failed_ = false;
    uint64_t plain_bytes_ = 0;
};

// Serialises a whole package in memory (tests and small tools).
std::vector<uint8_t> BuildPackageBytes(const PackageHeader& header,
                                       const std::vector<EntryRecord>& entries,
                                       const std::vector<std::vector<uint8_t>>& scripts,
                                       int compression_level);
