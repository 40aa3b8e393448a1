// String-matching structures over an old file version for the package builder: the old
// bytes themselves (in memory or paged from disk), a suffix array for files that fit in
// memory, and a block-hash index as the bounded-memory fallback for larger files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/os.h"

// Read access to the old file version, as the parser needs it: common prefixes and
// suffixes between old bytes and bytes of the new version.
class OldData {
public:
    virtual ~OldData() = default;
    virtual uint32_t Size() const = 0;
    // Length of the common prefix of old[offset..] and p[0..max).
    virtual uint32_t CommonForward(uint32_t offset, const uint8_t* p, uint32_t max) = 0;
    // Length of the common suffix of old[..end) and the max bytes before p_end.
    virtual uint32_t CommonBackward(uint32_t end, const uint8_t* p_end, uint32_t max) = 0;
    // False once a read of the file failed (paged access only).
    virtual bool Ok() const { return true; }
};

// The old file held in memory (not owned).
class MemoryOldData : public OldData {
public:
    MemoryOldData(const uint8_t* data, uint32_t size) : data_(data), size_(size) {}
    uint32_t Size() const override { return size_; }
    uint32_t CommonForward(uint32_t offset, const uint8_t* p, uint32_t max) override;
    uint32_t CommonBackward(uint32_t end, const uint8_t* p_end, uint32_t max) override;

private:
    const uint8_t* data_;
    uint32_t size_;
};

// The old file read through a small cache of 1 MiB pages, for files too large to hold.
class PagedOldData : public OldData {
public:
    static constexpr uint32_t kPageSize = 1u << 20;
    // Opens the file; Ok() is false when it cannot be opened.
    PagedOldData(const char* path, uint32_t size, uint32_t cache_pages);
    ~PagedOldData() override;
    PagedOldData(const PagedOldData&) = delete;
    PagedOldData& operator=(const PagedOldData&) = delete;

    uint32_t Size() const override { return size_; }
    uint32_t CommonForward(uint32_t offset, const uint8_t* p, uint32_t max) override;
    uint32_t CommonBackward(uint32_t end, const uint8_t* p_end, uint32_t max) override;
    bool Ok() const override { return ok_; }

private:
    // The page holding `offset`, loaded when needed; null after a read failure.
    const uint8_t* Page(uint32_t index);

    os::FileHandle file_ = os::kInvalidHandle;
    uint32_t size_;
    bool ok_ = true;
    struct Slot {
        uint32_t index = 0xFFFFFFFFu;
        uint64_t last_use = 0;
        std::vector<uint8_t> bytes;
    };
    std::vector<Slot> slots_;
    uint64_t clock_ = 0;
    Slot* last_ = nullptr;
};

struct Match {
    uint32_t offset = 0;
    uint32_t length = 0;
};

// Finds long matches of new-file bytes in the old file.
class MatchFinder {
public:
    virtual ~MatchFinder() = default;
    // The longest match of p[0..avail) in the old file that the finder can see; false when
    // there is none. Every match of at least MinLength() bytes is seen. `position` is p's
    // offset in the new file.
    virtual bool Find(uint64_t position, const uint8_t* p, uint32_t avail, Match* match) = 0;
    virtual uint32_t MinLength() const = 0;
    // Inside literal runs the parser asks at every SearchStep()-th position only.
    virtual uint32_t SearchStep() const { return 1; }
    // Forgets any state tied to the previous buffer of new bytes.
    virtual void Reset() {}
};

// Suffix array over an old file in memory (see suffix_sort.h), with a table of the ranges of
// every two-byte prefix and a bitmap of hashed 8-byte grams that rules out most positions
// without a match before any search: a position is searched when its first two grams
// occur in the old file (its first gram only, within 16 bytes of the end of the data).
// Memory: 4 bytes per old byte plus about half a byte, plus what the suffix sorter takes
// while the index is built.
class SuffixMatcher : public MatchFinder {
public:
    static constexpr uint32_t kGram = 8;
    // Builds the index over data[0..size); false when memory for it cannot be had.
    bool Build(const uint8_t* data, uint32_t size);
    bool Find(uint64_t position, const uint8_t* p, uint32_t avail, Match* match) override;
    uint32_t MinLength() const override { return 2 * kGram; }
    // A search costs a binary search. Asking at every second position inside new data
    // finds the short matches of machine code (a match found is extended backwards when
    // it is taken): 0.5 % smaller packages of executables than every eighth, for 5-15 %
    // more build time.
    uint32_t SearchStep() const override { return 2; }
    // Bytes the index takes for an old file of `size` bytes.
    static uint64_t IndexBytes(uint64_t size);

private:
    const uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    std::vector<int32_t> sa_;
    std::vector<uint32_t> buckets_;  // 65537 starts of the two-byte prefix ranges
    std::vector<uint64_t> filter_;
    uint32_t filter_shift_ = 0;
};

// Hashes of the aligned blocks of an old file, for files too big for a suffix array.
// Finds matches that contain at least one whole aligned block of the old file, that is
// every match of at least 2 * BlockSize() - 1 bytes and many shorter ones; a rolling hash
// over the new bytes makes every position a candidate.
class BlockMatcher : public MatchFinder {
public:
    // Reads the old file through `old` once; `table_bytes` bounds the hash table. False
    // when the file cannot be read.
    bool Build(const char* path, uint32_t size, OldData* old, uint64_t table_bytes);
    bool Find(uint64_t position, const uint8_t* p, uint32_t avail, Match* match) override;
    uint32_t MinLength() const override { return block_; }
    void Reset() override { last_ = nullptr; }
    uint32_t BlockSize() const { return block_; }
    static uint64_t HashOf(const uint8_t* p, uint32_t n);

private:
    OldData* old_ = nullptr;
    uint32_t block_ = 64;
    uint64_t power_ = 1;  // the multiplier raised to block_ - 1
    std::vector<uint64_t> table_;  // hash in the high 32 bits, block number + 1 in the low
    uint32_t shift_ = 0;
    const uint8_t* last_ = nullptr;
    uint64_t hash_ = 0;
};
