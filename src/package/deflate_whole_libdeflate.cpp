// Whole-buffer compression through libdeflate: its levels 10 to 12 search much harder
// than zlib's 9 and still write a plain zlib stream.
#include <libdeflate.h>

#include <algorithm>

#include "package/deflate_whole.h"

bool HaveStrongDeflate() { return true; }

bool CompressWhole(const uint8_t* data, size_t n, int level, std::vector<uint8_t>* out) {
    libdeflate_compressor* c = libdeflate_alloc_compressor(std::clamp(level, 1, kMaxCompressionLevel));
    if (c == nullptr) return false;
    const size_t start = out->size();
    out->resize(start + libdeflate_zlib_compress_bound(c, n));
    const size_t written = libdeflate_zlib_compress(c, data, n, out->data() + start, out->size() - start);
    libdeflate_free_compressor(c);
    out->resize(start + written);
    return written > 0;
}
