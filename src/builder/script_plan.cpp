// The parser of the package builder: plans copies and literals by their estimated cost.
#include "builder/script_plan.h"

#include <zlib.h>

#include <algorithm>
#include <cmath>
#include <limits>

namespace {

constexpr int64_t kUnreached = std::numeric_limits<int64_t>::max() / 4;
// A finder match at least this long is offered shrunk at the following positions instead
// of searching again.
constexpr uint32_t kCarryMin = 24;
// Literal costs are measured per block of this many new bytes.
constexpr uint32_t kCostBlock = 32u << 10;

}  // namespace

// Weights fitted on real release pairs (a Go and a Rust executable, two JavaScript
// packages; bench/builder) together with the generated game update, for packages written
// at the strongest level. Literal bytes are priced by compressing their 32 KiB block by
// itself at zlib level 1; inside the package they cost 140/256 of that on average. The command
// fields are priced from what each kind of field costs once compressed: the low half of
// a near offset is nearly incompressible, opcodes and the counts of literals are cheap.
// A repeat of recent literals costs about what deflate's length and distance codes take.
CostModel CostModel::Default() {
    CostModel m;
    m.literal_scale = 140;
    m.literal_header[0] = 250;
    m.literal_header[1] = 450;
    m.literal_header[2] = 650;
    m.copy_opcode = 80;
    m.count[0] = 150;
    m.count[1] = 350;
    m.count[2] = 550;
    m.near_low = 400;
    m.far_offset = 820;
    m.no_seek = 128;
    m.set_high = 350;
    m.history_match = 200;
    m.history_bit = 20;
    return m;
}

Parser::Parser(const CostModel& costs, OldData* old, MatchFinder* finder)
    : costs_(costs), old_(old), finder_(finder), nodes_(kWindow + 1) {}

void Parser::NewBuffer() {
    carry_ = Match();
    cost_buffer_ = nullptr;
    if (finder_ != nullptr) finder_->Reset();
}

int32_t Parser::LiteralCost(const uint8_t* data, uint32_t n, uint32_t at) {
    if (cost_buffer_ != data) {
        cost_buffer_ = data;
        block_measured_.assign((static_cast<uint64_t>(n) + kCostBlock - 1) / kCostBlock, false);
        byte_costs_.resize(block_measured_.size() * 256);
    }
    const uint32_t block = at / kCostBlock;
    int32_t* costs = &byte_costs_[static_cast<size_t>(block) * 256];
    if (!block_measured_[block]) {
        block_measured_[block] = true;
        // zlib on the block by itself: what its bytes cost as literals on average, in 1/256
        // byte.
        const uint32_t start = block * kCostBlock;
        const uint32_t len = std::min(kCostBlock, n - start);
        uLongf out_len = compressBound(len);
        std::vector<uint8_t> out(out_len);
        if (compress2(out.data(), &out_len, data + start, len, 1) != Z_OK) out_len = len;
        const double average = static_cast<double>(out_len) * costs_.literal_scale / len;
        // Spread over the byte values by their information in the block: a byte that is
        // rare there (a changed pointer, say) costs more than the block's average, a
        // common one less, much as deflate's Huffman codes weigh them.
        uint32_t count[256] = {};
        for (uint32_t q = start; q < start + len; ++q) ++count[data[q]];
        double bits[256];
        double mean_bits = 0;
        for (int b = 0; b < 256; ++b) {
            bits[b] = -std::log2((count[b] + 0.5) / (len + 128.0));
            mean_bits += count[b] * bits[b];
        }
        mean_bits /= len;
        for (int b = 0; b < 256; ++b)
            costs[b] = std::max<int32_t>(8, static_cast<int32_t>(average * bits[b] / mean_bits));
    }
    return costs[data[at]];
}

int32_t Parser::RunHeaderCost(uint32_t run, uint32_t added) const {
    const uint32_t after = run + added;
    int32_t cost = run == 0 ? costs_.literal_header[0] : 0;
    if (run <= 0xFF && after > 0xFF) cost += costs_.literal_header[1] - costs_.literal_header[0];
    if (run <= 0xFFFF && after > 0xFFFF) cost += costs_.literal_header[2] - costs_.literal_header[1];
    return cost;
}

void Parser::OfferLiterals(uint32_t k, uint32_t length, int64_t price, const State& s) {
    Node& next = nodes_[k + length];
    if (price >= next.price) return;
    next.price = price;
    next.step_length = length;
    next.step_copy = false;
    next.state = s;
    next.state.lit_run += length;
}

int32_t Parser::CopyCost(const State& s, uint32_t offset, uint32_t length, uint16_t* base) const {
    const uint16_t high = static_cast<uint16_t>(offset >> 16);
    *base = s.base;
    int32_t where;
    if (offset == s.prev_end) {
        where = costs_.no_seek;
        if (high == s.base) where = std::min(where, costs_.near_low);
    } else if (high == s.base) {
        where = costs_.near_low;
    } else if (costs_.set_high + costs_.near_low <= costs_.far_offset) {
        where = costs_.set_high + costs_.near_low;
        *base = high;
    } else {
        where = costs_.far_offset;
    }
    return costs_.copy_opcode + where + costs_.Count(length);
}

void Parser::NoteCopy(uint32_t offset, uint64_t position, uint32_t length) {
    const int64_t dist = static_cast<int64_t>(offset) - static_cast<int64_t>(position);
    if (dist != state_.dist) {
        reps_[1] = reps_[0];
        reps_[0] = state_.dist;
    }
    state_.dist = dist;
    state_.prev_end = offset + length;
    state_.lit_run = 0;
}

// Appends a step, merging literal runs and copies that continue each other. A copy that
// follows literals of this call and does not continue the previous copy is extended
// backwards over literal bytes that the old file has in front of it.
void Parser::Append(std::vector<PlanStep>* plan, size_t first_step, const uint8_t* data, uint32_t at,
                    const PlanStep& step) {
    PlanStep s = step;
    if (s.length == 0) return;
    if (!plan->empty() && plan->size() > first_step) {
        PlanStep& last = plan->back();
        if (!s.copy && !last.copy) {
            last.length += s.length;
            return;
        }
        if (s.copy && last.copy && last.offset + last.length == s.offset) {
            last.length += s.length;
            return;
        }
        if (s.copy && !last.copy) {
            uint32_t prev_end = 0;
            bool continues = false;
            if (plan->size() >= 2) {
                const PlanStep& before = (*plan)[plan->size() - 2];
                prev_end = before.offset + before.length;
                continues = before.copy && prev_end == s.offset;
            }
            if (!continues && s.offset > 0) {
                const uint32_t back = old_->CommonBackward(s.offset, data + at, std::min(last.length, s.offset));
                if (back > 0) {
                    s.offset -= back;
                    s.length += back;
                    last.length -= back;
                    if (last.length == 0) {
                        plan->pop_back();
                        Append(plan, first_step, data, at - back, s);
                        return;
                    }
                }
            }
        }
    }
    plan->push_back(s);
}

// The copies weighed at window position k: continuations of the recent copies and, unless
// one of those is already long, the carried tail of a long finder match or what the
// finder sees.
Parser::Candidates Parser::FindCandidates(const uint8_t* p, uint32_t avail, uint64_t position, const State& s) {
    Candidates cands;
    const uint32_t old_size = old_->Size();
    for (const int64_t dist : {s.dist, reps_[0], reps_[1]}) {
        const int64_t offset = static_cast<int64_t>(position) + dist;
        if (offset < 0 || offset >= old_size) continue;
        cands.Offer(offset, [&] { return old_->CommonForward(static_cast<uint32_t>(offset), p, avail); });
    }
    if (cands.best >= kNice || finder_ == nullptr) return cands;
    if (carry_.length >= kCarryMin && position > carry_position_ &&
        position - carry_position_ + kCarryMin <= carry_.length) {
        const uint32_t delta = static_cast<uint32_t>(position - carry_position_);
        cands.Offer(carry_.offset + delta, [&] { return std::min(carry_.length - delta, avail); });
    } else if (s.lit_run == 0 || position % finder_->SearchStep() == 0) {
        Match m;
        if (finder_->Find(position, p, avail, &m)) {
            cands.Offer(m.offset, [&] { return m.length; });
            carry_ = m;
            carry_position_ = position;
        }
    }
    return cands;
}

// From window position k of the window at data[i..): a literal byte, and literal strings of
// every useful length that repeat recent literals.
void Parser::OfferLiteralSteps(const uint8_t* data, uint32_t n, uint32_t i, uint32_t k, uint32_t window) {
    const Node& node = nodes_[k];
    const State& s = node.state;
    OfferLiterals(k, 1, node.price + LiteralCost(data, n, i + k) + RunHeaderCost(s.lit_run, 1), s);
    uint32_t distance = 0;
    const uint32_t repeat = history_.Longest(data + i + k, window - k, &distance);
    if (repeat == 0) return;
    const int64_t price = node.price + costs_.history_match + costs_.history_bit * (32 - __builtin_clz(distance));
    for (uint32_t l = LiteralHistory::kMinMatch; l <= repeat; ++l) OfferLiterals(k, l, price + RunHeaderCost(s.lit_run, l), s);
}

// From window position k (new-file position `position`): copies of every useful length
// from each candidate.
void Parser::OfferCopySteps(uint32_t k, uint32_t window, uint64_t position, const Candidates& cands) {
    const Node& node = nodes_[k];
    for (int c = 0; c < cands.count; ++c) {
        const Candidate& cand = cands.items[c];
        const uint32_t longest = std::min(cand.length, window - k);
        uint16_t base = 0;
        const int64_t price = node.price + CopyCost(node.state, cand.offset, 1, &base);
        for (uint32_t l = kMinCopy; l <= longest; ++l) {
            Node& next = nodes_[k + l];
            if (price < next.price) {
                next.price = price;
                next.step_length = l;
                next.step_offset = cand.offset;
                next.step_copy = true;
                next.state.prev_end = cand.offset + l;
                next.state.lit_run = 0;
                next.state.dist = static_cast<int64_t>(cand.offset) - static_cast<int64_t>(position);
                next.state.base = base;
            }
        }
    }
}

// Prices every way through the window of `window` bytes at data[i..). Returns where the
// cheapest path is to end: the window's end, or the position of a long match, which is
// then left in *forced to be taken whole (else forced->length is 0).
uint32_t Parser::PriceWindow(const uint8_t* data, uint32_t n, uint64_t origin, uint32_t i, uint32_t window,
                             Candidate* forced) {
    nodes_[0].price = 0;
    nodes_[0].step_length = 0;
    nodes_[0].state = state_;
    for (uint32_t k = 1; k <= window; ++k) nodes_[k].price = kUnreached;
    *forced = Candidate{0, 0};
    for (uint32_t k = 0; k < window; ++k) {
        const uint32_t avail = n - i - k;
        const uint64_t position = origin + i + k;
        const Candidates cands = FindCandidates(data + i + k, avail, position, nodes_[k].state);
        if (cands.best >= kNice || (cands.best > 0 && cands.best == avail)) {
            for (int c = 0; c < cands.count; ++c) {
                if (cands.items[c].length == cands.best) {
                    *forced = cands.items[c];
                    break;
                }
            }
            return k;
        }
        OfferLiteralSteps(data, n, i, k, window);
        OfferCopySteps(k, window, position, cands);
    }
    return window;
}

// Appends the cheapest path to window position `end` (the window starting at data[i]),
// front to back, and follows the state along it. Returns the new-data position after it.
uint32_t Parser::TakeCheapestPath(const uint8_t* data, uint64_t origin, uint32_t i, uint32_t end, size_t first_step,
                                  std::vector<PlanStep>* plan) {
    path_.clear();
    for (uint32_t k = end; k > 0;) {
        const Node& node = nodes_[k];
        PlanStep s;
        s.length = node.step_length;
        s.copy = node.step_copy;
        s.offset = node.step_offset;
        path_.push_back(s);
        k -= node.step_length;
    }
    uint32_t at = i;
    for (auto it = path_.rbegin(); it != path_.rend(); ++it) {
        if (it->copy) {
            NoteCopy(it->offset, origin + at, it->length);
            history_.EndRun();
        } else {
            // Append may yet give a few of these bytes to a copy extended backwards; the
            // history then holds some bytes the script does not, which only shifts an
            // estimate.
            state_.lit_run += it->length;
            history_.Add(data + at, it->length);
        }
        Append(plan, first_step, data, at, *it);
        at += it->length;
    }
    state_.base = nodes_[end].state.base;
    return i + end;
}

// Appends the long match `forced` at data[i], extended forwards as far as the old file
// agrees. Returns the new-data position after it.
uint32_t Parser::TakeForcedMatch(const uint8_t* data, uint32_t n, uint64_t origin, uint32_t i, const Candidate& forced,
                                 size_t first_step, std::vector<PlanStep>* plan) {
    const uint8_t* p = data + i;
    uint32_t length = forced.length;
    if (length < n - i) length += old_->CommonForward(forced.offset + length, p + length, n - i - length);
    uint16_t base = 0;
    CopyCost(state_, forced.offset, length, &base);
    state_.base = base;
    NoteCopy(forced.offset, origin + i, length);
    history_.EndRun();
    PlanStep s;
    s.copy = true;
    s.offset = forced.offset;
    s.length = length;
    Append(plan, first_step, data, i, s);
    return i + length;
}

uint32_t Parser::Plan(const uint8_t* data, uint32_t n, uint64_t origin, uint32_t from, uint32_t stop,
                      std::vector<PlanStep>* plan) {
    const size_t first_step = plan->size();
    uint32_t i = from;
    while (i < stop && i < n) {
        const uint32_t window = std::min<uint32_t>(kWindow, n - i);
        Candidate forced;
        const uint32_t end = PriceWindow(data, n, origin, i, window, &forced);
        i = TakeCheapestPath(data, origin, i, end, first_step, plan);
        if (forced.length > 0) i = TakeForcedMatch(data, n, origin, i, forced, first_step, plan);
    }
    return i;
}
