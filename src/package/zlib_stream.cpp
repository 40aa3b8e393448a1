// Read-only stream that inflates the zlib body of a "[QXZ]" package: compressed bytes are
// read from the source in 8192-byte blocks and handed out from an 8192-byte window.
#include "package/zlib_stream.h"

#include <zlib.h>

#include <cstring>

#include "package/format.h"

bool IsCompressedPackage(TCVLStream& stream) {
    stream.Rewind();
    char marker[16] = {};
    stream.ReadString(marker, sizeof marker);
    return std::strcmp(marker, kCompressedMarker) == 0;
}

TCVLZLibInStream::TCVLZLibInStream(TCVLStream* source, bool owns_source)
    : input_(new uint8_t[kBufferSize]),
      output_(new uint8_t[kBufferSize]),
      zstream_(new z_stream_s()),
      source_(source),
      owns_source_(owns_source) {
    zstream_->avail_out = kBufferSize;  // nothing buffered yet
}

TCVLZLibInStream::~TCVLZLibInStream() {
    EndInflate();
    if (owns_source_) delete source_;
}

void TCVLZLibInStream::PutByte(uint8_t) { SetError(); }

// Number of inflated bytes in the output window that have not been delivered yet.
static uint32_t Available(const z_stream_s& z, uint32_t output_index) {
    return (TCVLZLibInStream::kBufferSize - z.avail_out) - output_index;
}

uint8_t TCVLZLibInStream::GetByte() {
    if (!FillOutput()) {
        SetError();
        return 0;
    }
    ++position_;
    return output_[output_index_++];
}

// Backwards means starting over from the beginning of the source; forwards skips
// inflated bytes. False (error flag set) when the data ends before `position`.
bool TCVLZLibInStream::Seek(uint32_t position) {
    if (position < position_) {
        EndInflate();
        position_ = 0;
    }
    while (position_ < position) {
        if (!FillOutput()) {
            SetError();
            return false;
        }
        uint32_t step = Available(*zstream_, output_index_);
        if (step > position - position_) step = position - position_;
        output_index_ += step;
        position_ += step;
    }
    return true;
}

void TCVLZLibInStream::Clear() { Rewind(); }

uint32_t TCVLZLibInStream::Read(void* buf, uint32_t count) {
    uint8_t* out = static_cast<uint8_t*>(buf);
    uint32_t done = 0;
    while (done < count && FillOutput()) {
        uint32_t step = Available(*zstream_, output_index_);
        if (step > count - done) step = count - done;
        std::memcpy(out + done, output_.get() + output_index_, step);
        output_index_ += step;
        position_ += step;
        done += step;
    }
    // A failed inflate is reported once everything inflated before the fault has been
    // delivered, so a reader gets all good bytes and then a short count with the error.
    if (state_ == kFailed && Available(*zstream_, output_index_) == 0) SetError();
    return done;
}

void TCVLZLibInStream::StartInflate() {
    if (state_ != kNotStarted || source_ == nullptr) return;
    if (!IsCompressedPackage(*source_)) return;
    state_ = kInflating;
    std::memset(zstream_.get(), 0, sizeof(z_stream_s));
    if (inflateInit(zstream_.get()) != Z_OK) state_ = kFailed;
    output_index_ = 0;
    zstream_->next_in = input_.get();
    zstream_->avail_in = 0;
    zstream_->next_out = output_.get();
    zstream_->avail_out = kBufferSize;
}

void TCVLZLibInStream::EndInflate() {
    if (state_ != kNotStarted) inflateEnd(zstream_.get());
    state_ = kNotStarted;
    output_index_ = 0;
    zstream_->avail_out = kBufferSize;
}

// Makes at least one inflated byte available. Inflates with Z_NO_FLUSH in both the
// inflating and the finishing state and goes on as long as zlib makes progress, so that
// a final block that expands to many windows is delivered completely. It fails only on
// a data or stream error, or when zlib can make no progress before the end of the zlib
// stream (truncated data).
bool TCVLZLibInStream::FillOutput() {
    if (state_ == kNotStarted) StartInflate();
    if (HasError()) return false;
    if (state_ == kNotStarted) return false;
    z_stream_s& z = *zstream_;
    for (;;) {
        if (Available(z, output_index_) != 0) return true;
        output_index_ = 0;
        z.next_out = output_.get();
        z.avail_out = kBufferSize;
        if (state_ == kEnded || state_ == kFailed) return false;

        if (state_ == kInflating && z.avail_in == 0) {
            z.next_in = input_.get();
            z.avail_in = source_->Read(input_.get(), kBufferSize);
            if (z.avail_in == 0) state_ = kFinishing;
        }
        const uInt in_before = z.avail_in;
        const int result = inflate(&z, Z_NO_FLUSH);
        const bool progress = z.avail_in != in_before || z.avail_out != kBufferSize;
        if (result == Z_STREAM_END) {
            state_ = kEnded;
        } else if (result == Z_OK || result == Z_BUF_ERROR) {
            // With input and a free window zlib always moves unless the data is cut off.
            if (!progress) state_ = kFailed;
        } else {
            state_ = kFailed;
        }
        if (z.avail_out == kBufferSize && (state_ == kEnded || state_ == kFailed)) return false;
    }
}
