// Suffix sorting for the builder's suffix-array index: one function, two implementations
// chosen by CMake (libdivsufsort where it is found, else the induced sorting of
// suffix_sort_sais.cpp).
#pragma once

#include <cstdint>

// Fills sa[0..n) with the start positions of the suffixes of data[0..n) in ascending
// order (a shorter suffix before every longer one it begins). False when the memory the
// sorter needs besides `sa` cannot be had; `sa` is then undefined.
bool SuffixSort(const uint8_t* data, int32_t n, int32_t* sa);

// The most memory the sorter may take besides `sa` for n bytes, beyond a few KiB.
uint64_t SuffixSortExtraBytes(uint64_t n);
