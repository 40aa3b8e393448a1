// Read-only stream that inflates the zlib body of a compressed package on the fly, so
// that compressed and plain packages read the same.
#pragma once

#include <cstdint>
#include <memory>

#include "io/stream.h"

struct z_stream_s;

// True when the stream begins with "[QXZ]" and its NUL. Rewinds first; afterwards the
// stream stands after the first NUL of the data.
bool IsCompressedPackage(TCVLStream& stream);

class TCVLZLibInStream : public TCVLStream {
public:
    static constexpr uint32_t kBufferSize = 8192;
    static constexpr uint32_t kUnknownSize = 0x7FFFFFF0u;  // the inflated length is not stored

    TCVLZLibInStream(TCVLStream* source, bool owns_source);
    ~TCVLZLibInStream() override;

    void PutByte(uint8_t b) override;
    uint8_t GetByte() override;
    bool Seek(uint32_t position) override;  // backwards restarts from the beginning
    uint32_t Tell() override { return position_; }
    uint32_t Size() override { return kUnknownSize; }
    void Clear() override;
    uint32_t Read(void* buf, uint32_t count) override;

    enum State : int32_t { kNotStarted = 0, kInflating = 1, kFinishing = 2, kEnded = 3, kFailed = 4 };
    State state() const { return state_; }

private:
    void StartInflate();
    void EndInflate();
    bool FillOutput();  // true when at least one inflated byte is available

    State state_ = kNotStarted;
    uint32_t position_ = 0;
    uint32_t output_index_ = 0;
    std::unique_ptr<uint8_t[]> input_;
    std::unique_ptr<uint8_t[]> output_;
    std::unique_ptr<z_stream_s> zstream_;
    TCVLStream* source_;
    bool owns_source_;
};
