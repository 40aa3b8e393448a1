// Suffix sorting through libdivsufsort.
#include "builder/suffix_sort.h"

#include <divsufsort.h>

bool SuffixSort(const uint8_t* data, int32_t n, int32_t* sa) {
    if (n < 0) return false;
    if (n == 0) return true;
    return divsufsort(data, sa, static_cast<saidx_t>(n)) == 0;
}

// divsufsort works in `sa` itself, plus bucket tables of a few hundred KiB.
uint64_t SuffixSortExtraBytes(uint64_t) { return 0; }
