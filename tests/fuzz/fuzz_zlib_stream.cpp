// Fuzz target: the inflating stream over memory or a file. The first input byte chooses
// the source, whether the "[QXZ]" marker is put in front, how the reader takes the bytes
// and whether it seeks back; the rest is the compressed body. Besides the sanitizers it
// checks that a backward seek delivers the same bytes again and that an error is sticky.
#include <algorithm>
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "fuzz_support.h"
#include "io/stream.h"
#include "package/format.h"
#include "package/zlib_stream.h"

namespace {

// Inflated bytes read per run at most: a tiny body may expand a thousandfold.
constexpr uint32_t kReadLimit = 1u << 20;

void Require(bool condition) {
    if (!condition) std::abort();
}

// Reads up to `limit` bytes in pieces whose sizes follow `pattern`.
std::vector<uint8_t> ReadAll(TCVLStream& stream, uint8_t pattern, uint32_t limit) {
    static const uint32_t kPieces[8] = {1, 2, 7, 256, 4096, 8192, 8193, 65536};
    std::vector<uint8_t> out;
    uint32_t k = pattern;
    while (out.size() < limit) {
        uint32_t want = kPieces[k++ % 8];
        if (want > limit - out.size()) want = limit - static_cast<uint32_t>(out.size());
        const size_t at = out.size();
        out.resize(at + want);
        uint32_t got;
        if (want == 1) {
            out[at] = stream.GetByte();
            got = stream.HasError() ? 0 : 1;
        } else {
            got = stream.Read(out.data() + at, want);
        }
        out.resize(at + got);
        if (got < want) break;
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0) return 0;
    const uint8_t mode = data[0];
    const bool from_file = mode & 1;
    const bool with_marker = !(mode & 2);
    const uint8_t pattern = static_cast<uint8_t>((mode >> 2) & 7);
    const bool seek_back = mode & 0x20;

    std::vector<uint8_t> body;
    if (with_marker) body.assign(kCompressedMarker, kCompressedMarker + sizeof kCompressedMarker);
    body.insert(body.end(), data + 1, data + size);

    std::unique_ptr<TCVLStream> source;
    if (from_file) {
        static const std::string path = ScratchFolder() + "/body.bin";
        Require(WriteWholeFile(path, body.data(), body.size()));
        auto file = std::make_unique<TCVLFStream>(TCVLFStream::ModeRead, path.c_str());
        if (mode & 0x40) file->EnableBuffering(4096);
        source = std::move(file);
    } else {
        source = std::make_unique<TCVLFlatRamStream>(body.data(), static_cast<uint32_t>(body.size()),
                                                     static_cast<uint32_t>(body.size()));
    }
    TCVLZLibInStream stream(source.release(), true);
    const std::vector<uint8_t> first = ReadAll(stream, pattern, kReadLimit);
    Require(stream.Tell() == first.size());
    // Without the marker in front nothing inflates; the input itself may start with one.
    const bool body_marked =
        body.size() >= sizeof kCompressedMarker &&
        std::equal(kCompressedMarker, kCompressedMarker + sizeof kCompressedMarker, body.begin());
    if (!body_marked) Require(first.empty());

    if (seek_back && !first.empty()) {
        const uint32_t back = static_cast<uint32_t>(first.size() / 2);
        const bool had_error = stream.HasError();
        Require(stream.Seek(back) || had_error);
        if (!had_error) {
            const std::vector<uint8_t> again = ReadAll(stream, static_cast<uint8_t>(pattern + 1),
                                                       static_cast<uint32_t>(first.size()) - back);
            Require(std::equal(again.begin(), again.end(), first.begin() + back));
            Require(again.size() == first.size() - back);
        }
    }
    // Rewind clears the error and starts over with the same bytes.
    stream.Rewind();
    Require(!stream.HasError());
    const uint32_t prefix = first.size() < 64 ? static_cast<uint32_t>(first.size()) : 64;
    std::vector<uint8_t> start(prefix);
    Require(stream.Read(start.data(), prefix) == prefix);
    Require(std::equal(start.begin(), start.end(), first.begin()));
    // A write always fails on this read-only stream.
    stream.PutByte(0);
    Require(stream.HasError());
    return 0;
}
