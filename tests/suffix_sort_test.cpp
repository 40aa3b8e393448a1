// Tests of the suffix sorter linked into the builder (libdivsufsort or SA-IS): small
// inputs of many shapes against a plain sort of the suffixes, inputs of a few MB checked
// pair by pair through the ranks of the following suffixes.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <numeric>
#include <string>
#include <vector>

#include "builder/suffix_sort.h"
#include "support/suffix_inputs.h"

namespace {

std::vector<int32_t> Sorted(const std::vector<uint8_t>& s) {
    std::vector<int32_t> sa(s.size());
    EXPECT_TRUE(SuffixSort(s.data(), static_cast<int32_t>(s.size()), sa.data()));
    return sa;
}

std::vector<int32_t> NaiveSorted(const std::vector<uint8_t>& s) {
    std::vector<int32_t> sa(s.size());
    std::iota(sa.begin(), sa.end(), 0);
    std::sort(sa.begin(), sa.end(), [&](int32_t a, int32_t b) {
        const size_t la = s.size() - a, lb = s.size() - b;
        const int c = std::memcmp(s.data() + a, s.data() + b, std::min(la, lb));
        return c != 0 ? c < 0 : la < lb;
    });
    return sa;
}

// The first reason sa is not the suffix array of s, or "". It is when it holds every
// position once and each neighbouring pair is in order by its first byte and, on a tie,
// by the ranks of the suffixes one further on (the empty suffix ranking first).
std::string SuffixArrayFault(const std::vector<uint8_t>& s, const std::vector<int32_t>& sa) {
    const int64_t n = static_cast<int64_t>(s.size());
    if (static_cast<int64_t>(sa.size()) != n) return "wrong length";
    std::vector<int64_t> rank(n + 1, -1);
    for (int64_t i = 0; i < n; ++i) {
        if (sa[i] < 0 || sa[i] >= n || rank[sa[i]] != -1) return "not a permutation at " + std::to_string(i);
        rank[sa[i]] = i;
    }
    rank[n] = -1;
    for (int64_t i = 0; i + 1 < n; ++i) {
        const int32_t a = sa[i], b = sa[i + 1];
        if (s[a] > s[b] || (s[a] == s[b] && rank[a + 1] > rank[b + 1]))
            return "suffixes " + std::to_string(a) + " and " + std::to_string(b) + " out of order at " + std::to_string(i);
    }
    return "";
}

}  // namespace

TEST(SuffixSort, SmallInputsOfEveryShapeMatchAPlainSort) {
    for (const SuffixInput& in : SmallSuffixInputs()) {
        ASSERT_EQ(Sorted(in.bytes), NaiveSorted(in.bytes)) << in.name;
    }
    const std::vector<uint8_t> banana = {'b', 'a', 'n', 'a', 'n', 'a'};
    EXPECT_EQ(Sorted(banana), (std::vector<int32_t>{5, 3, 1, 0, 4, 2}));
}

TEST(SuffixSort, TheCheckerCatchesAWrongArray) {
    const std::vector<uint8_t> s = {'a', 'b', 'a', 'b'};
    EXPECT_EQ(SuffixArrayFault(s, {2, 0, 3, 1}), "");
    EXPECT_NE(SuffixArrayFault(s, {0, 2, 3, 1}), "");  // "abab" before "ab"
    EXPECT_NE(SuffixArrayFault(s, {2, 0, 3, 3}), "");
}

TEST(SuffixSort, LargeRepetitiveAndRandomInputs) {
    for (const SuffixInput& in : LargeSuffixInputs()) {
        EXPECT_EQ(SuffixArrayFault(in.bytes, Sorted(in.bytes)), "") << in.name;
    }
}

TEST(SuffixSort, ExtraMemoryIsBoundedByTheInput) {
    EXPECT_EQ(SuffixSortExtraBytes(0), 0u);
    EXPECT_LE(SuffixSortExtraBytes(1000), 2000u);
    EXPECT_LE(SuffixSortExtraBytes(300u << 20), (300ull << 20) * 3 / 2);
}
