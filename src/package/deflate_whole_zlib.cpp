// Whole-buffer compression through zlib, for builds without libdeflate.
#include <zlib.h>

#include <algorithm>

#include "package/deflate_whole.h"

bool HaveStrongDeflate() { return false; }

bool CompressWhole(const uint8_t* data, size_t n, int level, std::vector<uint8_t>* out) {
    z_stream z{};
    if (deflateInit(&z, std::clamp(level, 1, kZlibMaxLevel)) != Z_OK) return false;
    const size_t start = out->size();
    out->resize(start + deflateBound(&z, static_cast<uLong>(std::min<size_t>(n, 0xFFFFFFFFu))) + 64);
    z.next_out = out->data() + start;
    z.avail_out = static_cast<uInt>(out->size() - start);
    int result = Z_OK;
    // zlib takes at most a uInt of input per call; the output bound covers buffers up to
    // 4 GiB, which is more than a package can hold.
    while (result == Z_OK) {
        const size_t chunk = std::min<size_t>(n, 1u << 30);
        z.next_in = const_cast<Bytef*>(data);
        z.avail_in = static_cast<uInt>(chunk);
        data += chunk;
        n -= chunk;
        result = deflate(&z, n == 0 ? Z_FINISH : Z_NO_FLUSH);
        if (result == Z_BUF_ERROR) break;
    }
    const bool ok = result == Z_STREAM_END;
    out->resize(ok ? out->size() - z.avail_out : start);
    deflateEnd(&z);
    return ok;
}
