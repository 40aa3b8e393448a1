// The SA-IS suffix sorter (linked into this test program as SuffixSort) gives the very
// arrays libdivsufsort gives, so that packages do not depend on which one was built.

#include <divsufsort.h>
#include <gtest/gtest.h>

#include <vector>

#include "builder/suffix_sort.h"
#include "support/suffix_inputs.h"

TEST(SaisAgainstDivsufsort, SameArrays) {
    std::vector<SuffixInput> inputs = SmallSuffixInputs();
    for (SuffixInput& in : LargeSuffixInputs()) inputs.push_back(std::move(in));
    for (const SuffixInput& in : inputs) {
        const int32_t n = static_cast<int32_t>(in.bytes.size());
        std::vector<int32_t> ours(n), theirs(n);
        ASSERT_TRUE(SuffixSort(in.bytes.data(), n, ours.data()));
        if (n > 0) {
            ASSERT_EQ(divsufsort(in.bytes.data(), theirs.data(), n), 0);
        }
        ASSERT_EQ(ours, theirs) << in.name;
    }
}
