// Constants of the upgrade package file: markers, limits, entry operations and the
// opcodes of the rebuild scripts. Shared by the reader, the writer and the engine.
#pragma once

#include <cstdint>

// "[QXUPD]" and its NUL: the first 8 bytes of a plain package.
constexpr char kPlainMarker[8] = "[QXUPD]";
// "[QXZ]" and its NUL, followed by one zlib stream holding a plain package.
constexpr char kCompressedMarker[6] = "[QXZ]";
constexpr uint8_t kMaxFormatVersion = 17;
constexpr int kHeaderSize = 11;
constexpr int kMaxEntries = 10000;

// Buffer sizes of the reader, NUL included; longer strings are cut to them.
constexpr int kTitleSize = 80;
constexpr int kDescriptionSize = 8192;
constexpr int kNameSize = 250;
constexpr int kEntryDescriptionSize = 80;
constexpr int kIdentitySize = 10;

// Name of the temporary folder the engine builds into, inside the target folder.
constexpr char kTempFolderName[] = "__QXUPD_";

enum Operation : uint8_t {
    kOpAdd = 0,
    kOpUpdate = 1,
    kOpRemove = 2,
};

// Entry flags byte: bits 0-1 operation, 2-3 warning policy, 4-5 error policy.
inline uint8_t PackEntryFlags(uint8_t op, uint8_t warning, uint8_t error) {
    return static_cast<uint8_t>((op & 3) | ((warning & 3) << 2) | ((error & 3) << 4));
}
inline bool HasOldIdentity(uint8_t op) { return op == kOpUpdate || op == kOpRemove; }
inline bool HasNewIdentity(uint8_t op) { return op == kOpAdd || op == kOpUpdate; }

enum Opcode : uint8_t {
    kCmdEnd = 0,
    kCmdLiteral8 = 1,
    kCmdLiteral16 = 2,
    kCmdLiteral32 = 3,
    kCmdSetOffsetHigh = 4,
    kCmdCopyNear8 = 5,
    kCmdCopyNear16 = 6,
    kCmdCopyNear32 = 7,
    kCmdCopyFar8 = 8,
    kCmdCopyFar16 = 9,
    kCmdCopyFar32 = 10,
};
// An old-file offset meaning "continue where the last copy ended".
constexpr uint32_t kNoSeek = 0xFFFFFFFFu;

// What a file must look like: MS-DOS local time stamp, size and 16-bit check value.
// Stored little-endian as stamp (u32), size (u32), check (u16).
struct FileIdentity {
    uint32_t stamp = 0;
    uint32_t size = 0;
    uint16_t check = 0;

    bool SameContent(const FileIdentity& o) const { return size == o.size && check == o.check; }
    bool operator==(const FileIdentity& o) const { return SameContent(o) && stamp == o.stamp; }
    bool operator!=(const FileIdentity& o) const { return !(*this == o); }
};

// Decodes / encodes the 10 stored bytes.
FileIdentity DecodeIdentity(const uint8_t bytes[kIdentitySize]);
void EncodeIdentity(const FileIdentity& id, uint8_t bytes[kIdentitySize]);
