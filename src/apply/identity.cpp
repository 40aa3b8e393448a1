// File identities: reading size, stamp and check value of a file, stamping and verifying
// rebuilt files, the per-entry findings before anything is changed, and the installation
// match test that decides whether a folder holds the copy a package upgrades.
#include "apply/identity.h"

#include <cstring>
#include <memory>
#include <new>

#include "io/file_ops.h"
#include "io/os.h"
#include "io/stream.h"
#include "package/message_table.h"

namespace {

// The check value is defined over 512-byte chunks of the file; every chunk but the last is
// full, so only the last chunk's length can be odd.
constexpr uint64_t kCheckChunk = 512;
// Identities are read in blocks of this size (a multiple of the chunk size).
constexpr uint32_t kReadBlock = 64 * 1024;

// XORs the bytes of data[0..n) into two accumulators by the parity of their position in
// the file: `even` takes the bytes at even file positions, `odd` the others.
void XorByParity(const uint8_t* data, uint64_t n, uint64_t position, uint8_t* even, uint8_t* odd) {
    uint8_t at[2] = {0, 0};  // at[0]: same parity as `position`, at[1]: the other
    uint64_t i = 0;
    uint64_t wide = 0;
    for (; i + 8 <= n; i += 8) {
        uint64_t word;
        std::memcpy(&word, data + i, 8);
        wide ^= word;
    }
    uint8_t lanes[8];
    std::memcpy(lanes, &wide, 8);  // byte j of the word is data[i + j] whatever the byte order
    for (int j = 0; j < 8; ++j) at[j & 1] ^= lanes[j];
    for (; i < n; ++i) at[i & 1] ^= data[i];
    if (position & 1) {
        *even ^= at[1];
        *odd ^= at[0];
    } else {
        *even ^= at[0];
        *odd ^= at[1];
    }
}

Finding MakeFinding(uint8_t code, int line, bool warning) {
    Finding f;
    f.code = code;
    f.line = line;
    f.warning = warning;
    return f;
}

}  // namespace

// Within a chunk of n bytes the byte at offset k goes to the low byte when n - k is odd,
// else to the high byte. For full chunks that means: odd file positions low, even high.
// In the final partial chunk (starting at file_size rounded down to 512) the roles are
// swapped when its length, and so the file size, is odd.
uint16_t UpdateCheckValue(uint16_t check, const uint8_t* data, uint32_t n, uint64_t position,
                          uint64_t file_size) {
    const uint64_t tail_start = file_size - file_size % kCheckChunk;
    uint64_t head = 0;  // bytes of the block that lie in full chunks
    if (position < tail_start) head = tail_start - position < n ? tail_start - position : n;
    uint8_t even = 0, odd = 0;
    XorByParity(data, head, position, &even, &odd);
    uint16_t value = static_cast<uint16_t>(check ^ (static_cast<uint16_t>(even) << 8) ^ odd);
    if (head < n) {
        uint8_t tail_even = 0, tail_odd = 0;
        XorByParity(data + head, n - head, position + head, &tail_even, &tail_odd);
        if (file_size & 1) value ^= static_cast<uint16_t>((static_cast<uint16_t>(tail_odd) << 8) ^ tail_even);
        else value ^= static_cast<uint16_t>((static_cast<uint16_t>(tail_even) << 8) ^ tail_odd);
    }
    return value;
}

// Reads in large blocks; the bytes after the last 512-byte boundary are held back until
// the end of the file is known, since only then is it clear whether they form the final
// chunk. So the value equals the one of a 512-byte chunked read whatever the block size.
bool ReadStreamIdentity(TCVLFStream& file, FileIdentity* identity) {
    *identity = FileIdentity();
    uint32_t stamp = 0;
    if (!file.IsOpen() || !file.GetFileStamp(&stamp) || !file.Seek(0)) return false;

    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[kReadBlock]);
    if (!buffer) return false;
    uint64_t position = 0;  // file position of buffer[0]
    uint32_t pending = 0;   // bytes at the start of the buffer not yet added
    uint16_t check = 0;
    for (;;) {
        uint32_t got = file.Read(buffer.get() + pending, kReadBlock - pending);
        if (got == 0) {
            check = UpdateCheckValue(check, buffer.get(), pending, position, position + pending);
            position += pending;
            break;
        }
        uint32_t available = pending + got;
        uint32_t whole = available - available % kCheckChunk;
        // Full chunks: any file size beyond them gives the same value.
        check = UpdateCheckValue(check, buffer.get(), whole, position, UINT64_MAX - UINT64_MAX % kCheckChunk);
        position += whole;
        pending = available - whole;
        if (pending != 0) std::memmove(buffer.get(), buffer.get() + whole, pending);
    }
    // A read that failed is no end of the file: its identity is unknown.
    if (file.HasError()) return false;
    identity->stamp = stamp;
    identity->size = static_cast<uint32_t>(position);  // the stored size is 32 bits
    identity->check = check;
    return true;
}

bool ReadFileIdentity(const char* path, FileIdentity* identity, os::FileState* state) {
    if (state != nullptr) *state = os::FileState();
    TCVLFStream file(TCVLFStream::ModeRead, path);
    if (file.HasError() || !ReadStreamIdentity(file, identity)) {
        *identity = FileIdentity();
        return false;
    }
    return state == nullptr || file.GetState(state);
}

bool StampFile(const char* path, uint32_t stamp) {
    TCVLFStream file(TCVLFStream::ModeReadWrite, path);
    if (file.HasError() || !file.IsOpen()) return false;
    return file.SetFileStamp(stamp);
}

// The stamp read from the built file is not compared: the file is given the expected one.
bool VerifyBuiltFile(const char* path, const FileIdentity& expected) {
    TCVLFStream file(TCVLFStream::ModeReadWrite, path);
    return !file.HasError() && VerifyBuiltStream(file, expected);
}

bool VerifyBuiltStream(TCVLFStream& file, const FileIdentity& expected) {
    FileIdentity actual;
    if (!ReadStreamIdentity(file, &actual) || file.HasError()) return false;
    if (!actual.SameContent(expected)) return false;
    return file.SetFileStamp(expected.stamp);
}

namespace {

// The tests of the entry's operation in their fixed order; the first that hits decides.
// A file that cannot be read has an all-zero identity and so shows up as changed (or as
// a differing time stamp when the old identity has size and check value 0). Update and
// Remove note the state of the file they read in `seen`.
Finding CheckEntryFile(const FileEntry& entry, const char* path, os::FileState* seen) {
    const bool exists = IsExistingFile(path) != 0;
    switch (entry.Operation) {
    case kOpAdd:
        if (!exists) return Finding();
        if (IsReadOnlyFile(path)) return MakeFinding(kStateReadOnly, kMsgAddReadOnly, false);
        return MakeFinding(kStateExists, kMsgAddExists, true);
    case kOpUpdate:
    case kOpRemove: {
        const bool remove = entry.Operation == kOpRemove;
        if (!exists) return MakeFinding(kStateMissing, kMsgMissing, false);
        FileIdentity actual;
        // An unreadable file (or no file at all: a FIFO, a device) reads as ten zero bytes.
        if (!ReadFileIdentity(path, &actual, seen)) os::LookAt(path, seen);
        if (!actual.SameContent(entry.OldIdentity)) {
            return remove ? MakeFinding(kStateChanged, kMsgRemoveChanged, true)
                          : MakeFinding(kStateChanged, kMsgChanged, false);
        }
        if (IsReadOnlyFile(path)) return MakeFinding(kStateReadOnly, kMsgReadOnly, false);
        if (actual != entry.OldIdentity) {
            return remove ? MakeFinding(kStateTimeDiffers, kMsgRemoveChanged, true)
                          : MakeFinding(kStateTimeDiffers, kMsgTimeDiffers, true);
        }
        return Finding();
    }
    default:
        // Operation 3 is not defined: nothing is known about the file, so the entry is
        // skipped as an error, with the text that points at a damaged package.
        return MakeFinding(kStateBadOperation, kMsgBuildSkipped, false);
    }
}

}  // namespace

Finding VerifyEntry(const FileEntry& entry, const char* path) {
    os::FileState seen;
    Finding f = CheckEntryFile(entry, path, &seen);
    if (entry.Operation == kOpAdd) os::LookAt(path, &seen);
    f.seen = seen;
    return f;
}

// Counts the Update and Remove entries whose files are missing or changed against those
// that match; an entry with error policy 2 rejects the folder at once. A path that does
// not fit its buffer counts as a missing file.
bool InstallationMatches(UpgradePackage& package) {
    os::Confinement confine(package.target_folder);
    int missing = 0;
    int matched = 0;
    for (const FileEntry& entry : package.entries) {
        if (entry.Operation != kOpUpdate && entry.Operation != kOpRemove) continue;
        const bool fits = JoinPath(package.path_a, sizeof package.path_a, package.target_folder, entry.name);
        if (!fits || !IsExistingFile(package.path_a)) {
            if (entry.ErrorPolicy != 0) ++missing;
            if (entry.ErrorPolicy == 2) return false;
            continue;
        }
        if (entry.ErrorPolicy == 0) continue;
        FileIdentity actual;
        ReadFileIdentity(package.path_a, &actual);
        if (!actual.SameContent(entry.OldIdentity)) {
            if (entry.ErrorPolicy == 2) return false;
            ++missing;
            continue;
        }
        const bool same_stamp = actual.stamp == entry.OldIdentity.stamp;
        if (!same_stamp && entry.WarningPolicy == 2) return false;
        if (entry.WarningPolicy == 0 || same_stamp) ++matched;
    }
    return missing == 0 || missing < matched;
}
