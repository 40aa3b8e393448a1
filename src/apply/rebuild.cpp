// The rebuild-script interpreter: builds a new file version from literal bytes of the
// package and byte ranges of the old file, a chunk at a time (256 bytes for a window that
// pumps its messages), advancing the progress percentage and polling for cancel after
// every chunk.
#include "apply/rebuild.h"

#include <memory>
#include <new>

#include "apply/frontend.h"
#include "apply/progress.h"
#include "io/os.h"
#include "package/format.h"
#include "package/package.h"

namespace {

// The chunk without a front end: nobody waits for a cancel poll.
constexpr uint32_t kQuietChunk = 64 * 1024;

// Where the chunks of one rebuild pass through, of the front end's chunk size.
struct ChunkBuffer {
    explicit ChunkBuffer(uint32_t n)
        : size(n < 256 ? 256 : n > (1u << 20) ? 1u << 20 : n), bytes(new (std::nothrow) uint8_t[size]) {
        if (!bytes) {  // the smallest chunk always has room on the stack
            size = sizeof fallback;
            data = fallback;
        } else {
            data = bytes.get();
        }
    }
    uint32_t size;
    std::unique_ptr<uint8_t[]> bytes;
    uint8_t fallback[256];
    uint8_t* data;
};

// Moves `count` bytes from `source` to `*output` in chunks, advancing the progress after
// each. Stops moving at a short read (the source has nothing more) or when there is nothing
// to move (no source, or a copy for an entry whose output is gone); the rest of the count
// then only advances the progress. `*output` becomes null once writing would pass `limit`.
// Returns false when PollCancel asked to stop.
bool MoveBytes(UpgradePackage& package, ChunkBuffer& buffer, TCVLStream* source, bool is_literal, uint32_t count,
               TCVLStream** output, uint32_t* written, uint32_t limit) {
    uint8_t* chunk_buffer = buffer.data;
    while (count != 0) {
        const bool useful = source != nullptr && (is_literal || *output != nullptr);
        if (!useful) break;
        const uint32_t chunk = count < buffer.size ? count : buffer.size;
        const uint32_t got = source->Read(chunk_buffer, chunk);
        if (*output != nullptr && got != 0) {
            if (got > limit - *written) {
                (*output)->SetError();  // longer than the new version: it cannot pass
                *output = nullptr;
            } else {
                (*output)->Write(chunk_buffer, got);
                *written += got;
            }
        }
        count -= chunk;
        package.ProgressDone = static_cast<int32_t>(static_cast<uint32_t>(package.ProgressDone) + chunk);
        UpdateProgress(package);
        if (PollCancel(package)) return false;
        if (got < chunk) break;  // the end of the old file or of the package
    }
    if (count == 0) return true;
    package.ProgressDone = static_cast<int32_t>(static_cast<uint32_t>(package.ProgressDone) + count);
    UpdateProgress(package);
    return !PollCancel(package);
}

}  // namespace

// For each command: decode source, position and count, seek the source once, then move
// the count. A literal whose entry is skipped (no output) is still read from the package
// so that the next command is found; copies from an absent old file move nothing.
// Progress advances by the full count either way.
int ReconstructFile(UpgradePackage& package, TCVLStream* old_file, TCVLStream* output, uint32_t output_limit) {
    TCVLStream& script = *package.stream;
    ChunkBuffer buffer(package.frontend != nullptr ? package.frontend->RebuildChunk() : kQuietChunk);
    UpdateProgress(package);
    uint32_t base = 0;
    uint32_t written = 0;
    for (;;) {
        const uint8_t opcode = script.GetByte();
        if (opcode == kCmdEnd) return 0;
        TCVLStream* source = nullptr;
        uint32_t position = kNoSeek;
        uint32_t count = 0;
        switch (opcode) {
        case kCmdLiteral8: count = script.GetByte(); source = &script; break;
        case kCmdLiteral16: count = script.ReadU16(); source = &script; break;
        case kCmdLiteral32: count = script.ReadU32(); source = &script; break;
        case kCmdSetOffsetHigh: base = static_cast<uint32_t>(script.ReadU16()) << 16; break;
        case kCmdCopyNear8:
            position = base + script.ReadU16();
            count = script.GetByte();
            source = old_file;
            break;
        case kCmdCopyNear16:
            position = base + script.ReadU16();
            count = script.ReadU16();
            source = old_file;
            break;
        case kCmdCopyNear32:
            position = base + script.ReadU16();
            count = script.ReadU32();
            source = old_file;
            break;
        case kCmdCopyFar8:
            position = script.ReadU32();
            count = script.GetByte();
            source = old_file;
            break;
        case kCmdCopyFar16:
            position = script.ReadU32();
            count = script.ReadU16();
            source = old_file;
            break;
        case kCmdCopyFar32:
            position = script.ReadU32();
            count = script.ReadU32();
            source = old_file;
            break;
        default: break;  // 11 to 255: no operands, no effect
        }
        const bool is_literal = source == &script;
        if (position != kNoSeek && source != nullptr && output != nullptr) source->Seek(position);
        if (!MoveBytes(package, buffer, source, is_literal, count, &output, &written, output_limit)) return 1;
    }
}

// percentage = done / (total / 100 + 1) + 1, capped at 100; painted and paced only when
// it changes.
void UpdateProgress(UpgradePackage& package) {
    const uint32_t done = static_cast<uint32_t>(package.ProgressDone);
    uint32_t percent = done / (package.ProgressTotal / 100 + 1) + 1;
    if (percent > 100) percent = 100;
    if (static_cast<int>(percent) == ProgressPercent) return;
    ProgressPercent = static_cast<int>(percent);
    ApplyFrontEnd* frontend = package.frontend;
    if (frontend == nullptr) return;
    frontend->PaintPercentBar(ProgressPercent);
    if (frontend->WantsPacing()) PauseWithPolling(package, 100);
}

// Polls until `ms` milliseconds have passed, the poll budget (500 per millisecond) runs
// out or the poll asks to stop. The elapsed time is measured across a wrap of the tick
// count.
void PauseWithPolling(UpgradePackage& package, uint32_t ms) {
    const uint32_t start = os::TickCount();
    int64_t budget = static_cast<int64_t>(ms) * 500;
    while (os::TickCount() - start < ms) {
        if (--budget <= 1) break;
        if (PollCancel(package)) break;
    }
}
