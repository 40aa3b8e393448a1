// Writing upgrade packages front to back: header, strings, entry records and rebuild
// scripts, either plain or as "[QXZ]" followed by one zlib stream of the plain bytes.
#include "package/writer.h"

#include <zlib.h>

#include <cstring>

#include "io/os.h"
#include "package/deflate_whole.h"

namespace {

constexpr size_t kDeflateBuffer = 64 * 1024;

void PutU16(std::vector<uint8_t>& out, uint32_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}

void PutU32(std::vector<uint8_t>& out, uint32_t v) {
    PutU16(out, v & 0xFFFF);
    PutU16(out, v >> 16);
}

// The characters up to the first NUL, then one NUL: the string form of the package.
void PutString(std::vector<uint8_t>& out, const std::string& s) {
    const char* c = s.c_str();
    out.insert(out.end(), c, c + std::strlen(c));
    out.push_back(0);
}

// Header, title, description and entry records as the reader expects them.
std::vector<uint8_t> SerializeTable(const PackageHeader& header, const std::vector<EntryRecord>& entries) {
    std::vector<uint8_t> out(kPlainMarker, kPlainMarker + sizeof kPlainMarker);
    out.push_back(header.format_version);
    const int count = header.entry_count == -1 ? static_cast<int>(entries.size()) : header.entry_count;
    PutU16(out, static_cast<uint16_t>(count));
    PutString(out, header.title);
    PutString(out, header.description);
    for (const EntryRecord& e : entries) {
        out.push_back(PackEntryFlags(e.operation, e.warning_policy, e.error_policy));
        PutString(out, e.name);
        PutString(out, e.description);
        uint8_t id[kIdentitySize];
        if (HasOldIdentity(e.operation & 3)) {
            EncodeIdentity(e.old_identity, id);
            out.insert(out.end(), id, id + kIdentitySize);
        }
        if (HasNewIdentity(e.operation & 3)) {
            EncodeIdentity(e.new_identity, id);
            out.insert(out.end(), id, id + kIdentitySize);
        }
    }
    return out;
}

}  // namespace

void ScriptWriter::Literal(const uint8_t* data, uint32_t n) {
    if (n == 0) return;
    if (n <= 0xFF) {
        Raw(kCmdLiteral8);
        Raw(static_cast<uint8_t>(n));
    } else if (n <= 0xFFFF) {
        Raw(kCmdLiteral16);
        PutU16(bytes_, n);
    } else {
        Raw(kCmdLiteral32);
        PutU32(bytes_, n);
    }
    bytes_.insert(bytes_.end(), data, data + n);
}

void ScriptWriter::SetOffsetHigh(uint16_t high) {
    Raw(kCmdSetOffsetHigh);
    PutU16(bytes_, high);
}

void ScriptWriter::CopyNear(uint16_t low, uint32_t count) {
    if (count <= 0xFF) {
        Raw(kCmdCopyNear8);
        PutU16(bytes_, low);
        Raw(static_cast<uint8_t>(count));
    } else if (count <= 0xFFFF) {
        Raw(kCmdCopyNear16);
        PutU16(bytes_, low);
        PutU16(bytes_, count);
    } else {
        Raw(kCmdCopyNear32);
        PutU16(bytes_, low);
        PutU32(bytes_, count);
    }
}

void ScriptWriter::CopyFar(uint32_t offset, uint32_t count) {
    if (count <= 0xFF) {
        Raw(kCmdCopyFar8);
        PutU32(bytes_, offset);
        Raw(static_cast<uint8_t>(count));
    } else if (count <= 0xFFFF) {
        Raw(kCmdCopyFar16);
        PutU32(bytes_, offset);
        PutU16(bytes_, count);
    } else {
        Raw(kCmdCopyFar32);
        PutU32(bytes_, offset);
        PutU32(bytes_, count);
    }
}

PackageFileWriter::PackageFileWriter() = default;

PackageFileWriter::~PackageFileWriter() {
    if (zstream_) deflateEnd(zstream_.get());
    if (file_ != os::kInvalidHandle) os::CloseFile(file_);
}

bool PackageFileWriter::Open(const char* path, int compression_level, std::string* error) {
    if (file_ != os::kInvalidHandle) {
        if (error) *error = "a package is already being written";
        return false;
    }
    if (compression_level < 0 || compression_level > kMaxCompressionLevel) {
        if (error) *error = "the compression level must be 0 to " + std::to_string(kMaxCompressionLevel);
        return false;
    }
    file_ = os::OpenFile(path, os::kModeWrite);
    if (file_ == os::kInvalidHandle) {
        if (error) *error = std::string("cannot create ") + path;
        return false;
    }
    failed_ = false;
    plain_bytes_ = 0;
    out_.clear();
    compressed_ = compression_level > 0;
    whole_level_ = compression_level > kZlibMaxLevel ? compression_level : 0;
    whole_.clear();
    if (compressed_) {
        if (whole_level_ == 0 && !StartStream(compression_level)) {
            os::CloseFile(file_);
            file_ = os::kInvalidHandle;
            if (error) *error = "cannot start the compressor";
            return false;
        }
        Write(kCompressedMarker, sizeof kCompressedMarker);
    }
    return true;
}

bool PackageFileWriter::StartStream(int level) {
    zstream_.reset(new z_stream_s());
    if (deflateInit(zstream_.get(), level) != Z_OK) {
        zstream_.reset();
        return false;
    }
    zbuffer_.resize(kDeflateBuffer);
    return true;
}

// Collects small writes into one buffer; a large one goes to the file at once.
void PackageFileWriter::Write(const void* data, size_t n) {
    if (failed_) return;
    if (out_.size() + n > kWriteBuffer) Flush();
    if (n >= kWriteBuffer)
        Put(data, n);
    else
        out_.insert(out_.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
}

void PackageFileWriter::Flush() {
    Put(out_.data(), out_.size());
    out_.clear();
}

// Hands bytes to the file in calls the OS layer takes (32-bit counts); a failed or short
// write marks the package failed.
void PackageFileWriter::Put(const void* data, size_t n) {
    const uint8_t* p = static_cast<const uint8_t*>(data);
    while (!failed_ && n > 0) {
        const uint32_t chunk = static_cast<uint32_t>(n < (1u << 30) ? n : (1u << 30));
        uint32_t put = 0;
        if (!os::WriteFile(file_, p, chunk, &put) || put != chunk) failed_ = true;
        p += chunk;
        n -= chunk;
    }
}

void PackageFileWriter::WriteHeader(const PackageHeader& header, const std::vector<EntryRecord>& entries) {
    const std::vector<uint8_t> table = SerializeTable(header, entries);
    WriteBytes(table.data(), table.size());
}

void PackageFileWriter::WriteBytes(const void* data, size_t n) {
    if (n == 0) return;
    plain_bytes_ += n;
    Emit(data, n, false);
}

// Passes plain bytes on to the file, through the compressor in the compressed form;
// `finish` ends the zlib stream.
void PackageFileWriter::Emit(const void* data, size_t n, bool finish) {
    if (file_ == os::kInvalidHandle || failed_) {
        failed_ = true;
        return;
    }
    if (!compressed_) {
        Write(data, n);
        return;
    }
    if (whole_level_ > 0) {
        if (whole_.size() + n <= whole_limit_) {
            whole_.insert(whole_.end(), static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + n);
            return;
        }
        // Too much to hold: what is held goes into a zlib stream, and the rest follows it.
        std::vector<uint8_t> held;
        held.swap(whole_);
        whole_level_ = 0;
        if (!StartStream(kZlibMaxLevel)) {
            failed_ = true;
            return;
        }
        Emit(held.data(), held.size(), false);
    }
    z_stream_s& z = *zstream_;
    const uint8_t* in = static_cast<const uint8_t*>(data);
    // zlib takes at most a uInt of input per call.
    do {
        const size_t chunk = n > 0x40000000u ? 0x40000000u : n;
        z.next_in = const_cast<Bytef*>(in);
        z.avail_in = static_cast<uInt>(chunk);
        in += chunk;
        n -= chunk;
        const int flush = finish && n == 0 ? Z_FINISH : Z_NO_FLUSH;
        int result;
        do {
            z.next_out = zbuffer_.data();
            z.avail_out = static_cast<uInt>(zbuffer_.size());
            result = deflate(&z, flush);
            if (result == Z_STREAM_ERROR) {
                failed_ = true;
                return;
            }
            Write(zbuffer_.data(), zbuffer_.size() - z.avail_out);
            if (failed_) return;
        } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    } while (n > 0);
}

bool PackageFileWriter::Finish(std::string* error) {
    if (file_ == os::kInvalidHandle) {
        if (error) *error = "no package is being written";
        return false;
    }
    if (whole_level_ > 0) {
        std::vector<uint8_t> packed;
        if (!failed_ && !CompressWhole(whole_.data(), whole_.size(), whole_level_, &packed)) failed_ = true;
        Write(packed.data(), packed.size());
        whole_.clear();
        whole_.shrink_to_fit();
    } else if (compressed_) {
        Emit(nullptr, 0, true);
        deflateEnd(zstream_.get());
        zstream_.reset();
    }
    // The package reaches the disk before the caller gives it its final name.
    Flush();
    if (!failed_ && !os::SyncFile(file_)) failed_ = true;
    os::CloseFile(file_);
    file_ = os::kInvalidHandle;
    if (failed_ && error) *error = "cannot write the package: a write to the disk failed";
    return !failed_;
}

std::vector<uint8_t> BuildPackageBytes(const PackageHeader& header, const std::vector<EntryRecord>& entries,
                                       const std::vector<std::vector<uint8_t>>& scripts, int compression_level) {
    std::vector<uint8_t> plain = SerializeTable(header, entries);
    for (const auto& script : scripts) plain.insert(plain.end(), script.begin(), script.end());
    if (compression_level <= 0) return plain;
    std::vector<uint8_t> out(kCompressedMarker, kCompressedMarker + sizeof kCompressedMarker);
    if (!CompressWhole(plain.data(), plain.size(), compression_level, &out)) return {};
    return out;
}
