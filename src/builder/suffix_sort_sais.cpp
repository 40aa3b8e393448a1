// Suffix sorting by induced sorting (SA-IS), in linear time, working inside the suffix
// array itself: the reduced problems of the recursion live in its free part.
//
// Terms: suffix i is S-type when it is smaller than suffix i+1, L-type when larger; the
// empty suffix at n is S-type and smaller than all others, so suffix n-1 is L-type. An S
// suffix right after an L one is LMS (leftmost S). Within the bucket of suffixes that
// start with a character c, the L suffixes come first and the S ones last.
//
// No array of types is kept. They follow from the characters while the suffix array is
// scanned: suffix j-1 is L when s[j-1] > s[j], S when s[j-1] < s[j], and has the type of
// suffix j when both are equal; and the type of the suffix j found at index i in the
// bucket of c = s[j] is known from where the S part of that bucket has got to.
#include "builder/suffix_sort.h"

#include <algorithm>
#include <new>
#include <vector>

namespace {

constexpr int32_t kEmpty = -1;

// Fills bucket[0..k) with the first index of each character's bucket in the suffix array
// of s[0..n) (ends == false), or with one past its last index (ends == true).
template <typename C>
void FindBuckets(const C* s, int32_t n, int32_t k, int32_t* bucket, bool ends) {
    std::fill(bucket, bucket + k, 0);
    for (int32_t i = 0; i < n; ++i) ++bucket[s[i]];
    int32_t sum = 0;
    for (int32_t c = 0; c < k; ++c) {
        const int32_t count = bucket[c];
        bucket[c] = ends ? sum + count : sum;
        sum += count;
    }
}

// The scans read the characters at suffix positions in the order of the suffix array,
// which jumps all over the string: the ones kAhead entries on are fetched in advance.
constexpr int32_t kAhead = 32;
template <typename C>
inline void Prefetch(const C* s, int32_t j) {
    if (j > 0) __builtin_prefetch(s + j - 1);
}
// At half that distance, the bucket of the character fetched before (for large
// alphabets of the recursion; a byte's bucket is always in the cache).
template <typename C>
inline void PrefetchBucket(const C* s, const int32_t* bucket, int32_t j) {
    if (sizeof(C) > 1 && j > 0) __builtin_prefetch(bucket + s[j - 1]);
}

// Calls f(p) for every LMS position p of s[0..n), from the last to the first.
template <typename C, typename F>
void ForEachLmsBackward(const C* s, int32_t n, F f) {
    bool next_is_s = false;  // suffix n-1 is L-type
    for (int32_t i = n - 2; i >= 0; --i) {
        const bool is_s = s[i] < s[i + 1] || (s[i] == s[i + 1] && next_is_s);
        if (!is_s && next_is_s) f(i + 1);
        next_is_s = is_s;
    }
}

// With LMS suffixes at the ends of their buckets (the rest of sa empty), places every L
// suffix in a left-to-right pass, then every S suffix in a right-to-left pass. When the
// LMS suffixes come in the order of their LMS substrings, the result orders all suffixes
// by those substrings; when they come in suffix order, it is the suffix array. After the
// S pass, bucket[c] is where the S part of c's bucket begins.
template <typename C>
void Induce(const C* s, int32_t n, int32_t k, int32_t* sa, int32_t* bucket) {
    // L pass. The empty suffix, before everything, induces suffix n-1. Only L and LMS
    // suffixes are in the array during this pass, and the suffix before either is L
    // exactly when its character is not smaller.
    FindBuckets(s, n, k, bucket, false);
    sa[bucket[s[n - 1]]++] = n - 1;
    for (int32_t i = 0; i < n; ++i) {
        if (i + kAhead < n) Prefetch(s, sa[i + kAhead]);
        if (i + kAhead / 2 < n) PrefetchBucket(s, bucket, sa[i + kAhead / 2]);
        const int32_t j = sa[i];
        if (j > 0 && s[j - 1] >= s[j]) sa[bucket[s[j - 1]]++] = j - 1;
    }
    // S pass: each bucket's S part fills from its end downwards, always below the index
    // being scanned, so suffix j at index i is S exactly when i has been reached by the
    // filling of its bucket. Left-over LMS entries there are overwritten before they are
    // scanned.
    FindBuckets(s, n, k, bucket, true);
    for (int32_t i = n - 1; i >= 0; --i) {
        if (i >= kAhead) Prefetch(s, sa[i - kAhead]);
        if (i >= kAhead / 2) PrefetchBucket(s, bucket, sa[i - kAhead / 2]);
        const int32_t j = sa[i];
        if (j <= 0) continue;
        const C before = s[j - 1], at = s[j];
        if (before < at || (before == at && i >= bucket[at])) sa[--bucket[before]] = j - 1;
    }
}

// The bucket array of one level of the sort: in the free room after the suffix array
// when it fits there, else an array of its own, which can be released while a deeper
// level runs.
class BucketArray {
public:
    BucketArray(int32_t* free_room, int32_t free_size, int32_t k) : room_(free_room), fits_(k <= free_size), k_(k) {}
    // The array; nullptr when one of its own cannot be allocated.
    int32_t* Get() {
        if (fits_) return room_;
        try {
            own_.resize(k_);
        } catch (const std::bad_alloc&) {
            return nullptr;
        }
        return own_.data();
    }
    void Release() {
        own_.clear();
        own_.shrink_to_fit();
    }

private:
    int32_t* room_;
    bool fits_;
    int32_t k_;
    std::vector<int32_t> own_;
};

// Step 1: sorts the LMS substrings. The LMS suffixes go to their bucket ends in any order
// and the rest is induced from them. Returns how many LMS positions there are.
template <typename C>
int32_t SortLmsSubstrings(const C* s, int32_t n, int32_t k, int32_t* sa, int32_t* bucket) {
    std::fill(sa, sa + n, kEmpty);
    FindBuckets(s, n, k, bucket, true);
    int32_t m = 0;
    ForEachLmsBackward(s, n, [&](int32_t p) {
        sa[--bucket[s[p]]] = p;
        ++m;
    });
    Induce(s, n, k, sa, bucket);
    return m;
}

// Step 2: gathers the LMS suffixes in their induced order into sa[0..m): the S suffixes
// whose predecessor has a larger character.
template <typename C>
void GatherLms(const C* s, int32_t n, int32_t* sa, const int32_t* bucket) {
    int32_t found = 0;
    for (int32_t i = 0; i < n; ++i) {
        const int32_t j = sa[i];
        if (j > 0 && s[j - 1] > s[j] && i >= bucket[s[j]]) sa[found++] = j;
    }
}

// Step 3: names the sorted LMS substrings: equal substrings share a name, names rise with
// the order. LMS positions are at least two apart, so sa[m + p/2] has room for a value per
// LMS position p: first the length of its substring (up to and including the next LMS
// character, or the end marker for the last one), then its name. Returns the number of
// distinct names.
template <typename C>
int32_t NameLmsSubstrings(const C* s, int32_t n, int32_t* sa, int32_t m) {
    std::fill(sa + m, sa + n, kEmpty);
    int32_t next = n;
    ForEachLmsBackward(s, n, [&](int32_t p) {
        sa[m + (p >> 1)] = next - p + 1;
        next = p;
    });
    int32_t names = 0, previous = 0, previous_length = 0;
    for (int32_t i = 0; i < m; ++i) {
        const int32_t p = sa[i], length = sa[m + (p >> 1)];
        // The substring that takes in the end marker (p + length > n) equals no other.
        bool same = length == previous_length && p + length <= n && previous + length <= n;
        for (int32_t d = 0; same && d < length; ++d) same = s[p + d] == s[previous + d];
        if (!same) ++names;
        sa[m + (p >> 1)] = names - 1;
        previous = p;
        previous_length = length;
    }
    return names;
}

// Step 4: moves the names, in text order, to the top of the room sa[0..room): the reduced
// string, which is returned. This overwrites a bucket array kept there.
int32_t* MoveReducedString(int32_t* sa, int32_t n, int32_t m, int32_t room) {
    int32_t top = room;
    for (int32_t i = n - 1; i >= m; --i)
        if (sa[i] != kEmpty) sa[--top] = sa[i];
    return sa + room - m;
}

// Step 6: suffix i of the reduced string starts at the i-th LMS position: turns the
// reduced suffix array in sa[0..m) into the LMS suffixes in sorted order. The reduced
// string at `reduced` gives way to the list of LMS positions.
template <typename C>
void LmsInSortedOrder(const C* s, int32_t n, int32_t* sa, int32_t m, int32_t* reduced) {
    int32_t* lms = reduced;
    int32_t w = m;
    ForEachLmsBackward(s, n, [&](int32_t p) { lms[--w] = p; });
    for (int32_t i = 0; i < m; ++i) sa[i] = lms[sa[i]];
}

// Step 7: puts the sorted LMS suffixes of sa[0..m) at their bucket ends, keeping their
// order, and induces the rest: the suffix array.
template <typename C>
void InduceFromSortedLms(const C* s, int32_t n, int32_t k, int32_t* sa, int32_t m, int32_t* bucket) {
    std::fill(sa + m, sa + n, kEmpty);
    FindBuckets(s, n, k, bucket, true);
    for (int32_t i = m - 1; i >= 0; --i) {
        const int32_t p = sa[i];
        sa[i] = kEmpty;
        sa[--bucket[s[p]]] = p;
    }
    Induce(s, n, k, sa, bucket);
}

// Sorts the suffixes of s[0..n), characters in [0, k), into sa[0..n); fs more entries
// after sa are free to use. False when a bucket array that does not fit there cannot be
// allocated.
template <typename C>
bool Sort(const C* s, int32_t n, int32_t k, int32_t* sa, int32_t fs) {
    if (n <= 1) {  // also the empty input
        if (n == 1) sa[0] = 0;
        return true;
    }
    BucketArray buckets(sa + n, fs, k);
    int32_t* bucket = buckets.Get();
    if (bucket == nullptr) return false;
    const int32_t m = SortLmsSubstrings(s, n, k, sa, bucket);
    GatherLms(s, n, sa, bucket);
    const int32_t names = NameLmsSubstrings(s, n, sa, m);
    const int32_t room = n + fs;
    int32_t* reduced = MoveReducedString(sa, n, m, room);

    // Step 5: sorts the reduced string's suffixes into sa[0..m): directly when every name
    // is unique, else recursively in the room between sa[m] and the reduced string.
    if (names < m) {
        buckets.Release();
        if (!Sort<int32_t>(reduced, m, names, sa, room - 2 * m)) return false;
    } else {
        for (int32_t i = 0; i < m; ++i) sa[reduced[i]] = i;
    }

    LmsInSortedOrder(s, n, sa, m, reduced);
    bucket = buckets.Get();  // the one in the room was overwritten: filled anew
    if (bucket == nullptr) return false;
    InduceFromSortedLms(s, n, k, sa, m, bucket);
    return true;
}

}  // namespace

bool SuffixSort(const uint8_t* data, int32_t n, int32_t* sa) {
    if (n < 0) return false;
    return Sort<uint8_t>(data, n, 256, sa, 0);
}

// The only memory besides sa is one bucket array per level, released before the next
// level starts, and taken only when it does not fit the free part of sa. At the first
// level of recursion the alphabet k1 is below the number m1 of LMS positions, and it
// outgrows the free room n - 2*m1 by at most the number of distinct LMS substrings of
// three bytes, c0 < c1 > c2 (sum of b*b for b < 256 = 5,559,680), since every longer
// one adds at least one entry to that room: k1 <= (n + 5,559,681) / 3 + 1. Deeper
// levels have alphabets below n/4.
uint64_t SuffixSortExtraBytes(uint64_t n) {
    const uint64_t first_level = 4 * ((n + 5559681) / 3 + 1);
    return std::min(first_level, 2 * n);
}
