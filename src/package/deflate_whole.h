// One-shot compression of a whole buffer into one zlib stream, with the strongest deflate
// encoder the build has (libdeflate where available, zlib otherwise).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

// Levels 1 to 9 are zlib's; 10 to 12 are the slower, stronger levels of libdeflate, which
// builds without it serve with zlib's level 9. Every level writes a standard zlib stream
// (32 KiB window, no dictionary) that zlib's inflate reads.
constexpr int kMaxCompressionLevel = 12;
constexpr int kZlibMaxLevel = 9;

// True when levels above 9 really use the stronger encoder in this build.
bool HaveStrongDeflate();

// Appends the zlib stream of data[0..n) at `level` (1 to 12) to *out. False when the
// encoder cannot get memory; *out is then unchanged.
bool CompressWhole(const uint8_t* data, size_t n, int level, std::vector<uint8_t>* out);
