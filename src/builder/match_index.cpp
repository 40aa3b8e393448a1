// Matching structures over old file versions: in-memory and paged old bytes, the suffix
// array index and the block-hash index.
#include "builder/match_index.h"

#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "builder/scoped_file.h"
#include "builder/suffix_sort.h"
#include "builder/tree.h"

namespace {

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Common prefix length of a[0..n) and b[0..n), eight bytes at a time.
inline uint32_t CommonPrefix(const uint8_t* a, const uint8_t* b, uint32_t n) {
    uint32_t i = 0;
    while (i + 8 <= n) {
        const uint64_t x = Load64(a + i) ^ Load64(b + i);
        if (x != 0) return i + static_cast<uint32_t>(__builtin_ctzll(x) >> 3);
        i += 8;
    }
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

// Common suffix length of the n bytes before a_end and before b_end.
inline uint32_t CommonSuffix(const uint8_t* a_end, const uint8_t* b_end, uint32_t n) {
    uint32_t i = 0;
    while (i < n && a_end[-1 - static_cast<int64_t>(i)] == b_end[-1 - static_cast<int64_t>(i)]) ++i;
    return i;
}

inline uint64_t GramHash(const uint8_t* p) { return Load64(p) * 0x9E3779B97F4A7C15ull; }

constexpr uint64_t kRollMultiplier = 0x100000001B3ull * 0x5BD1E995ull | 1;

inline uint64_t Mix(uint64_t h) {
    h ^= h >> 31;
    h *= 0xBF58476D1CE4E5B9ull;
    h ^= h >> 29;
    return h;
}

// The longest match that the suffix search may look for at once; longer matches are
// extended by the parser.
constexpr uint32_t kMaxSearch = 1u << 16;

}  // namespace

// ---- Old bytes ----------------------------------------------------------------------

uint32_t MemoryOldData::CommonForward(uint32_t offset, const uint8_t* p, uint32_t max) {
    if (offset >= size_) return 0;
    const uint32_t n = std::min(max, size_ - offset);
    return CommonPrefix(data_ + offset, p, n);
}

uint32_t MemoryOldData::CommonBackward(uint32_t end, const uint8_t* p_end, uint32_t max) {
    if (end > size_) return 0;
    return CommonSuffix(data_ + end, p_end, std::min(max, end));
}

PagedOldData::PagedOldData(const char* path, uint32_t size, uint32_t cache_pages) : size_(size) {
    // The slots first: should they not fit in memory, no file is open yet to be left behind.
    slots_.resize(std::max<uint32_t>(cache_pages, 2));
    file_ = os::OpenFile(path, os::kModeRead | os::kShareRead);
    ok_ = file_ != os::kInvalidHandle;
}

PagedOldData::~PagedOldData() {
    if (file_ != os::kInvalidHandle) os::CloseFile(file_);
}

const uint8_t* PagedOldData::Page(uint32_t index) {
    if (last_ != nullptr && last_->index == index) return last_->bytes.data();
    if (!ok_) return nullptr;
    Slot* victim = &slots_[0];
    for (Slot& s : slots_) {
        if (s.index == index) {
            s.last_use = ++clock_;
            last_ = &s;
            return s.bytes.data();
        }
        if (s.last_use < victim->last_use) victim = &s;
    }
    const uint64_t start = static_cast<uint64_t>(index) * kPageSize;
    const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(kPageSize, size_ - start));
    victim->bytes.resize(kPageSize);
    victim->index = 0xFFFFFFFFu;
    uint32_t got_total = 0;
    if (os::SeekFile(file_, static_cast<int64_t>(start), os::kFromBegin) != static_cast<int64_t>(start)) {
        ok_ = false;
        return nullptr;
    }
    while (got_total < n) {
        uint32_t got = 0;
        if (!os::ReadFile(file_, victim->bytes.data() + got_total, n - got_total, &got) || got == 0) {
            ok_ = false;
            return nullptr;
        }
        got_total += got;
    }
    victim->index = index;
    victim->last_use = ++clock_;
    last_ = victim;
    return victim->bytes.data();
}

uint32_t PagedOldData::CommonForward(uint32_t offset, const uint8_t* p, uint32_t max) {
    uint32_t done = 0;
    while (done < max && offset < size_) {
        const uint8_t* page = Page(offset / kPageSize);
        if (page == nullptr) return done;
        const uint32_t within = offset % kPageSize;
        const uint32_t n = std::min({max - done, kPageSize - within, size_ - offset});
        const uint32_t c = CommonPrefix(page + within, p + done, n);
        done += c;
        offset += c;
        if (c < n) break;
    }
    return done;
}

uint32_t PagedOldData::CommonBackward(uint32_t end, const uint8_t* p_end, uint32_t max) {
    if (end > size_) return 0;
    uint32_t done = 0;
    while (done < max && end > 0) {
        const uint8_t* page = Page((end - 1) / kPageSize);
        if (page == nullptr) return done;
        const uint32_t within_end = (end - 1) % kPageSize + 1;
        const uint32_t n = std::min(max - done, within_end);
        const uint32_t c = CommonSuffix(page + within_end, p_end - done, n);
        done += c;
        end -= c;
        if (c < n) break;
    }
    return done;
}

// ---- Suffix array -------------------------------------------------------------------

uint64_t SuffixMatcher::IndexBytes(uint64_t size) {
    uint64_t bits = 1u << 16;
    while (bits < 4 * size && bits < (1ull << 28)) bits <<= 1;
    return 4 * size + SuffixSortExtraBytes(size) + bits / 8 + 2 * 65537 * 4;
}

bool SuffixMatcher::Build(const uint8_t* data, uint32_t size) {
    data_ = data;
    size_ = size;
    if (size > INT32_MAX) return false;  // beyond what a 32-bit suffix array can hold
    try {
        sa_.assign(size, 0);
        buckets_.assign(2 * 65537, 0);
        uint64_t bits = 1u << 16;
        while (bits < 4ull * size && bits < (1ull << 28)) bits <<= 1;
        filter_.assign(bits / 64, 0);
        filter_shift_ = 64 - static_cast<uint32_t>(__builtin_ctzll(bits));
    } catch (const std::bad_alloc&) {
        sa_.clear();
        sa_.shrink_to_fit();
        return false;
    }
    if (size == 0) return true;
    if (!SuffixSort(data, static_cast<int32_t>(size), sa_.data())) return false;

    // Ranges of the suffixes by their first two bytes: starts in [0, 65536), ends in
    // [65537, 131073). The one suffix of a single byte lies before every range of its byte.
    uint32_t* start = buckets_.data();
    uint32_t* end = buckets_.data() + 65537;
    for (uint32_t i = 0; i + 1 < size; ++i) ++end[(data[i] << 8) | data[i + 1]];
    uint32_t at = 0;
    const uint32_t lone = data[size - 1];
    for (uint32_t k = 0; k < 65536; ++k) {
        if ((k & 0xFF) == 0 && (k >> 8) == lone) ++at;
        start[k] = at;
        at += end[k];
        end[k] = at;
    }
    for (uint32_t i = 0; i + kGram <= size; ++i) {
        const uint64_t h = GramHash(data + i) >> filter_shift_;
        filter_[h >> 6] |= 1ull << (h & 63);
    }
    return true;
}

bool SuffixMatcher::Find(uint64_t, const uint8_t* p, uint32_t avail, Match* match) {
    if (avail < kGram || size_ < kGram) return false;
    const uint64_t h = GramHash(p) >> filter_shift_;
    if ((filter_[h >> 6] & (1ull << (h & 63))) == 0) return false;
    if (avail >= 2 * kGram) {
        // Matches shorter than two grams are seldom worth a copy; asking for the second
        // gram as well rules out most positions that the first lets through by chance.
        const uint64_t h2 = GramHash(p + kGram) >> filter_shift_;
        if ((filter_[h2 >> 6] & (1ull << (h2 & 63))) == 0) return false;
    }
    const uint32_t key = (p[0] << 8) | p[1];
    const int64_t lo = buckets_[key];
    const int64_t hi = buckets_[65537 + key];
    if (lo >= hi) return false;
    const uint32_t plen = std::min(avail, kMaxSearch);

    // Binary search for the first suffix not below the pattern; every suffix between
    // the two bounds shares min(left_lcp, right_lcp) bytes with it.
    int64_t left = lo - 1, right = hi;
    uint32_t left_lcp = 2, right_lcp = 2;
    while (right - left > 1) {
        const int64_t mid = left + (right - left) / 2;
        const uint32_t s = static_cast<uint32_t>(sa_[mid]);
        const uint32_t known = std::min(left_lcp, right_lcp);
        const uint32_t room = std::min(plen, size_ - s);
        const uint32_t lcp = known + (known < room ? CommonPrefix(data_ + s + known, p + known, room - known) : 0);
        if (lcp == plen) {
            right = mid;
            right_lcp = lcp;
        } else if (lcp == size_ - s || data_[s + lcp] < p[lcp]) {
            left = mid;
            left_lcp = lcp;
        } else {
            right = mid;
            right_lcp = lcp;
        }
    }
    Match best;
    if (left >= lo) best = {static_cast<uint32_t>(sa_[left]), left_lcp};
    if (right < hi && right_lcp > best.length) best = {static_cast<uint32_t>(sa_[right]), right_lcp};
    if (best.length < kGram) return false;
    *match = best;
    return true;
}

// ---- Block hashes -------------------------------------------------------------------

uint64_t BlockMatcher::HashOf(const uint8_t* p, uint32_t n) {
    uint64_t h = 0;
    for (uint32_t i = 0; i < n; ++i) h = h * kRollMultiplier + p[i];
    return h;
}

bool BlockMatcher::Build(const char* path, uint32_t size, OldData* old, uint64_t table_bytes) {
    old_ = old;
    block_ = 32;
    for (;;) {
        const uint64_t blocks = size / block_;
        uint64_t slots = 1024;
        while (slots < 2 * blocks) slots <<= 1;
        if (slots * 8 <= table_bytes || block_ >= (1u << 20)) {
            try {
                table_.assign(slots, 0);
            } catch (const std::bad_alloc&) {
                return false;
            }
            shift_ = 64 - static_cast<uint32_t>(__builtin_ctzll(slots));
            break;
        }
        block_ *= 2;
    }
    power_ = 1;
    for (uint32_t i = 1; i < block_; ++i) power_ *= kRollMultiplier;

    ScopedFile f(os::OpenFile(path, os::kModeRead | os::kShareRead));
    if (!f.ok()) return false;
    std::vector<uint8_t> buffer(std::max<uint32_t>(block_, 1u << 20));
    uint32_t block_number = 0;
    uint64_t done = 0;
    bool ok = true;
    while (done + block_ <= size) {
        const uint32_t want = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), size - done) / block_ * block_);
        if (!ReadExactly(f.get(), buffer.data(), want)) {
            ok = false;
            break;
        }
        const uint32_t have = want;
        for (uint32_t at = 0; at + block_ <= have; at += block_, ++block_number) {
            const uint64_t m = Mix(HashOf(buffer.data() + at, block_));
            const uint64_t check = m & 0xFFFFFFFFu;
            uint64_t slot = m >> shift_;
            // Keep the first block of each content: repeated blocks add nothing.
            for (int probe = 0; probe < 64; ++probe) {
                uint64_t& e = table_[slot];
                if (e == 0) {
                    e = (check << 32) | (block_number + 1ull);
                    break;
                }
                if ((e >> 32) == check) break;
                slot = (slot + 1) & (table_.size() - 1);
            }
        }
        done += have;
    }
    return ok;
}

bool BlockMatcher::Find(uint64_t, const uint8_t* p, uint32_t avail, Match* match) {
    if (avail < block_) {
        last_ = nullptr;
        return false;
    }
    if (last_ != nullptr && p == last_ + 1)
        hash_ = (hash_ - last_[0] * power_) * kRollMultiplier + p[block_ - 1];
    else
        hash_ = HashOf(p, block_);
    last_ = p;
    const uint64_t m = Mix(hash_);
    const uint64_t check = m & 0xFFFFFFFFu;
    uint64_t slot = m >> shift_;
    Match best;
    for (int probe = 0; probe < 64; ++probe) {
        const uint64_t e = table_[slot];
        if (e == 0) break;
        if ((e >> 32) == check) {
            const uint32_t offset = static_cast<uint32_t>((e & 0xFFFFFFFFu) - 1) * block_;
            const uint32_t n = old_->CommonForward(offset, p, avail);
            if (n >= block_ && n > best.length) best = {offset, n};
            break;
        }
        slot = (slot + 1) & (table_.size() - 1);
    }
    if (best.length == 0) return false;
    *match = best;
    return true;
}
