// Writing upgrade packages front to back: header, strings, entry records and rebuild
// scripts, either plain or as "[QXZ]" followed by one zlib stream of the plain bytes.
#include "package/writer.h"

#include <zlib.h>

#include <cstring>

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
    if (file_ != nullptr) std::fclose(file_);
}

bool PackageFileWriter::Open(const char* path, int compression_level, std::string* error) {
    if (file_ != nullptr) {
        if (error) *error = "a package is already being written";
        return false;
    }
    if (compression_level < 0 || compression_level > 9) {
        if (error) *error = "the compression level must be 0 to 9";
        return false;
    }
    file_ = std::fopen(path, "wb");
    if (file_ == nullptr) {
        if (error) *error = std::string("cannot create ") + path;
        return false;
    }
    failed_ = false;
    plain_bytes_ = 0;
    compressed_ = compression_level > 0;
    if (compressed_) {
        zstream_.reset(new z_stream_s());
        if (deflateInit(zstream_.get(), compression_level) != Z_OK) {
            zstream_.reset();
            std::fclose(file_);
            file_ = nullptr;
            if (error) *error = "cannot start the compressor";
            return false;
        }
        zbuffer_.resize(kDeflateBuffer);
        if (std::fwrite(kCompressedMarker, 1, sizeof kCompressedMarker, file_) != sizeof kCompressedMarker)
            failed_ = true;
    }
    return true;
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
    if (file_ == nullptr || failed_) {
        failed_ = true;
        return;
    }
    if (!compressed_) {
        if (std::fwrite(data, 1, n, file_) != n) failed_ = true;
        return;
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
            const size_t have = zbuffer_.size() - z.avail_out;
            if (have > 0 && std::fwrite(zbuffer_.data(), 1, have, file_) != have) {
                failed_ = true;
                return;
            }
        } while (z.avail_out == 0 || (flush == Z_FINISH && result != Z_STREAM_END));
    } while (n > 0);
}

bool PackageFileWriter::Finish(std::string* error) {
    if (file_ == nullptr) {
        if (error) *error = "no package is being written";
        return false;
    }
    if (compressed_) {
        Emit(nullptr, 0, true);
        deflateEnd(zstream_.get());
        zstream_.reset();
    }
    if (std::fflush(file_) != 0) failed_ = true;
    if (std::fclose(file_) != 0) failed_ = true;
    file_ = nullptr;
    if (failed_ && error) *error = "writing the package failed";
    return !failed_;
}

std::vector<uint8_t> BuildPackageBytes(const PackageHeader& header, const std::vector<EntryRecord>& entries,
                                       const std::vector<std::vector<uint8_t>>& scripts, int compression_level) {
    std::vector<uint8_t> plain = SerializeTable(header, entries);
    for (const auto& script : scripts) plain.insert(plain.end(), script.begin(), script.end());
    if (compression_level <= 0) return plain;
    if (compression_level > 9) compression_level = 9;

    uLongf bound = compressBound(static_cast<uLong>(plain.size()));
    std::vector<uint8_t> out(kCompressedMarker, kCompressedMarker + sizeof kCompressedMarker);
    out.resize(out.size() + bound);
    if (compress2(out.data() + sizeof kCompressedMarker, &bound, plain.data(), static_cast<uLong>(plain.size()),
                  compression_level) != Z_OK)
        return {};
    out.resize(sizeof kCompressedMarker + bound);
    return out;
}
