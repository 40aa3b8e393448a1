// Recent literal bytes of a rebuild script, searched through hash chains.
#include "builder/literal_history.h"

#include <algorithm>

namespace {

constexpr uint32_t kHashBits = 15;
// Positions tried per search: enough for the strings that repeat in code and text, few
// enough to keep the search a small part of the parse.
constexpr int kChainDepth = 4;

uint32_t Hash4(const uint8_t* p) {
    const uint32_t v = p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return (v * 2654435761u) >> (32 - kHashBits);
}

}  // namespace

LiteralHistory::LiteralHistory() : head_(1u << kHashBits, -1) {}

// Hashes the positions from `from` on whose four bytes are all held.
void LiteralHistory::Index(size_t from) {
    prev_.resize(bytes_.size(), -1);
    for (size_t q = from; q + 4 <= bytes_.size(); ++q) {
        const uint32_t h = Hash4(&bytes_[q]);
        prev_[q] = head_[h];
        head_[h] = static_cast<int32_t>(q);
    }
}

void LiteralHistory::Add(const uint8_t* data, uint32_t length) {
    if (length == 0) return;
    // Keep the buffer between kReach and twice that: drop the front and index again.
    if (bytes_.size() + length > 2 * kReach) {
        const size_t keep = std::min<size_t>(kReach, bytes_.size());
        bytes_.erase(bytes_.begin(), bytes_.end() - keep);
        run_start_.erase(run_start_.begin(), run_start_.end() - keep);
        std::fill(head_.begin(), head_.end(), -1);
        prev_.clear();
        Index(0);
    }
    const size_t old_size = bytes_.size();
    bytes_.insert(bytes_.end(), data, data + length);
    run_start_.resize(bytes_.size(), 0);
    if (!run_open_) run_start_[old_size] = 1;
    run_open_ = true;
    // The last three positions before these bytes now have their four bytes.
    Index(old_size >= 3 ? old_size - 3 : 0);
}

uint32_t LiteralHistory::Longest(const uint8_t* data, uint32_t limit, uint32_t* distance) const {
    limit = std::min(limit, kMaxMatch);
    if (limit < kMinMatch || bytes_.size() < kMinMatch) return 0;
    const int64_t reach = static_cast<int64_t>(bytes_.size()) - kReach;
    uint32_t best = 0;
    int32_t q = head_[Hash4(data)];
    for (int depth = 0; q >= 0 && q >= reach && depth < kChainDepth; ++depth, q = prev_[q]) {
        const uint32_t room = std::min<uint32_t>(limit, static_cast<uint32_t>(bytes_.size() - q));
        uint32_t l = 0;
        while (l < room && bytes_[q + l] == data[l] && (l == 0 || !run_start_[q + l])) ++l;
        if (l > best) {
            best = l;
            *distance = static_cast<uint32_t>(bytes_.size() - q);
            if (best == limit) break;
        }
    }
    return best >= kMinMatch ? best : 0;
}
