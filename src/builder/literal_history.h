// The literal bytes most recently written to a rebuild script, as the package's deflate
// pass will see them: a string found here costs one back-reference, not literal codes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

class LiteralHistory {
public:
    // How far back a string is looked for: deflate sees 32 KiB of the package, and the
    // commands between literal runs take part of that.
    static constexpr uint32_t kReach = 28u << 10;
    // Shorter strings are seldom worth deflate's back-reference.
    static constexpr uint32_t kMinMatch = 5;
    // The longest back-reference deflate has.
    static constexpr uint32_t kMaxMatch = 258;

    LiteralHistory();

    // Appends literal bytes to the current run.
    void Add(const uint8_t* data, uint32_t length);
    // A command follows: the next bytes start a new run, and no string spans the two.
    void EndRun() { run_open_ = false; }
    // The longest string within one run equal to data[0..), at most `limit` bytes, and
    // how far back it starts. 0 when none of kMinMatch bytes is held.
    uint32_t Longest(const uint8_t* data, uint32_t limit, uint32_t* distance) const;

private:
    void Index(size_t from);

    std::vector<uint8_t> bytes_;
    std::vector<uint8_t> run_start_;  // 1 where a run begins
    std::vector<int32_t> head_;       // last position of each 4-byte hash
    std::vector<int32_t> prev_;       // earlier position with the same hash
    bool run_open_ = false;
};
