// Plans a rebuild script: which byte ranges of the new file are copied from the old file
// and which are carried as literals, chosen by an estimate of what each command costs in
// the (compressed) package.
#pragma once

#include <cstdint>
#include <vector>

#include "builder/literal_history.h"
#include "builder/match_index.h"

// Estimated costs in 1/256 of a byte of the package after zlib compression. The command
// sizes are those of the script format; the weights say how well zlib squeezes each field.
struct CostModel {
    int32_t literal_scale;     // applied to the measured cost of literal bytes, in 1/256
    int32_t literal_header[3]; // Literal8/16/32: opcode and count
    int32_t copy_opcode;
    int32_t count[3];          // 8-, 16- and 32-bit counts of copies
    int32_t near_low;          // the 16-bit low part of a near copy
    int32_t far_offset;        // the 32-bit offset of a far copy
    int32_t no_seek;           // the offset 0xFFFFFFFF of a far copy that does not seek
    int32_t set_high;          // a whole SetOffsetHigh command
    // A literal string that deflate finds among the recent literal bytes: one
    // back-reference, priced at `history_match` plus `history_bit` per bit of its distance.
    int32_t history_match;
    int32_t history_bit;

    static CostModel Default();
    int32_t Count(uint32_t length) const { return count[length <= 0xFF ? 0 : length <= 0xFFFF ? 1 : 2]; }
};

// One step of a plan: `length` bytes copied from the old file at `offset`, or `length`
// literal bytes taken from the new file.
struct PlanStep {
    uint32_t length = 0;
    uint32_t offset = 0;
    bool copy = false;
};

// The parser: a forward dynamic program over windows of the new data that weighs
// literals against copies from several candidates per position (continuations of recent
// copies and the longest match the finder sees), with the encoder's state (where the old
// file stands, the near-copy base) carried along each path. Literal strings that repeat
// recent literals are priced as deflate's back-reference. Long matches end a window and
// are taken whole. The state carries over from one call to the next.
class Parser {
public:
    static constexpr uint32_t kWindow = 1u << 14;
    static constexpr uint32_t kNice = 96;   // a match this long is taken without weighing
    static constexpr uint32_t kMinCopy = 3;

    Parser(const CostModel& costs, OldData* old, MatchFinder* finder);

    // Plans data[from..) up to at least `stop` (a copy may run past it, up to n) and
    // appends the steps. data[0] is at `origin` in the new file. Returns where the plan
    // ends.
    uint32_t Plan(const uint8_t* data, uint32_t n, uint64_t origin, uint32_t from, uint32_t stop,
                  std::vector<PlanStep>* plan);
    // Forgets where the last Plan call ended in the data buffer (a new buffer follows).
    void NewBuffer();

private:
    struct State {
        uint32_t prev_end = 0;  // old-file position after the last copy
        uint32_t lit_run = 0;   // literal bytes since the last copy
        int64_t dist = 0;       // old offset minus new position of the last copy
        uint16_t base = 0;      // near-copy base the encoder would have
    };
    struct Node {
        int64_t price = 0;
        uint32_t step_length = 0;  // 0: the window's start
        uint32_t step_offset = 0;
        bool step_copy = false;
        State state;
    };
    struct Candidate {
        uint32_t offset;
        uint32_t length;
    };
    // The copies weighed at one position, no two from the same offset.
    struct Candidates {
        Candidate items[4];
        int count = 0;
        uint32_t best = 0;  // the longest length among them
        // Adds the copy from `offset` of the length measure() tells, unless one from that
        // offset is there already (measure is then not called) or it is shorter than
        // kMinCopy.
        template <typename Measure>
        void Offer(int64_t offset, Measure measure) {
            for (int c = 0; c < count; ++c)
                if (items[c].offset == offset) return;
            const uint32_t length = measure();
            if (length < kMinCopy) return;
            items[count++] = {static_cast<uint32_t>(offset), length};
            if (length > best) best = length;
        }
    };

    // The steps of Plan, one window at a time (script_plan.cpp says what each does).
    Candidates FindCandidates(const uint8_t* p, uint32_t avail, uint64_t position, const State& s);
    void OfferLiteralSteps(const uint8_t* data, uint32_t n, uint32_t i, uint32_t k, uint32_t window);
    void OfferCopySteps(uint32_t k, uint32_t window, uint64_t position, const Candidates& cands);
    uint32_t PriceWindow(const uint8_t* data, uint32_t n, uint64_t origin, uint32_t i, uint32_t window,
                         Candidate* forced);
    uint32_t TakeCheapestPath(const uint8_t* data, uint64_t origin, uint32_t i, uint32_t end, size_t first_step,
                              std::vector<PlanStep>* plan);
    uint32_t TakeForcedMatch(const uint8_t* data, uint32_t n, uint64_t origin, uint32_t i, const Candidate& forced,
                             size_t first_step, std::vector<PlanStep>* plan);

    int32_t CopyCost(const State& s, uint32_t offset, uint32_t length, uint16_t* base) const;
    // What the literal byte data[at] costs: its block's measured average, weighted by how
    // rare the byte's value is in the block.
    int32_t LiteralCost(const uint8_t* data, uint32_t n, uint32_t at);
    void Append(std::vector<PlanStep>* plan, size_t first_step, const uint8_t* data, uint32_t at,
                const PlanStep& step);
    void NoteCopy(uint32_t offset, uint64_t position, uint32_t length);
    // Reaches window position k + length through `length` literal bytes from state s at
    // `price`, when that is cheaper than the best way there so far.
    void OfferLiterals(uint32_t k, uint32_t length, int64_t price, const State& s);
    // What a literal run of `run` bytes pays in headers when `added` more join it.
    int32_t RunHeaderCost(uint32_t run, uint32_t added) const;

    const CostModel& costs_;
    OldData* old_;
    MatchFinder* finder_;
    State state_;
    int64_t reps_[2] = {0, 0};
    std::vector<Node> nodes_;
    std::vector<PlanStep> path_;  // the cheapest path through a window, back to front
    // A long finder match whose tail is offered at the next positions without a search.
    Match carry_;
    uint64_t carry_position_ = 0;
    // Literal cost of each byte value in each block of the current buffer (256 per
    // block), measured when the block is first priced.
    const uint8_t* cost_buffer_ = nullptr;
    std::vector<bool> block_measured_;
    std::vector<int32_t> byte_costs_;
    // The literals already planned, for strings that repeat them.
    LiteralHistory history_;
};
