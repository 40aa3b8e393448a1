// Encoding of planned copies and literals into rebuild-script commands.
#include "builder/script_encoder.h"

#include <algorithm>

namespace {

// The dynamic program keeps at most this many base values per copy; a base that costs
// more than setting it anew is dropped anyway.
constexpr size_t kMaxStates = 8;
// Copies per round of the dynamic program; the cheapest state is fixed between rounds.
constexpr size_t kRound = 8192;
// Literal runs longer than this go to the sink directly instead of through the writer.
constexpr uint32_t kDirectLiteral = 1u << 16;

// The forms a copy can take: near under the current base, far, near under a new base, and
// the no-seek offset in the far form, in the near form under the base 0xFFFF, or after
// setting that base.
enum Form : uint8_t { kNear, kFar, kSetNear, kNoSeekFar, kNoSeekNear, kSetNoSeekNear };

}  // namespace

ScriptEncoder::ScriptEncoder(const CostModel& costs, ScriptSink sink) : costs_(costs), sink_(std::move(sink)) {}

void ScriptEncoder::Flush() {
    std::vector<uint8_t>& bytes = writer_.bytes();
    if (!bytes.empty()) {
        sink_(bytes.data(), bytes.size());
        written_ += bytes.size();
        bytes.clear();
    }
}

void ScriptEncoder::Literal(const uint8_t* data, uint32_t n) {
    if (n < kDirectLiteral) {
        literal_bytes_ += n;
        writer_.Literal(data, n);
        if (writer_.bytes().size() >= (1u << 20)) Flush();
        return;
    }
    // The command, then the bytes straight to the sink.
    LiteralHeader(n);
    PassThrough(data, n);
}

void ScriptEncoder::PassThrough(const uint8_t* data, size_t n) {
    Flush();
    sink_(data, n);
    written_ += n;
}

void ScriptEncoder::LiteralHeader(uint32_t n) {
    literal_bytes_ += n;
    if (n == 0) return;
    const int width = n <= 0xFF ? 1 : n <= 0xFFFF ? 2 : 4;
    writer_.Raw(width == 1 ? kCmdLiteral8 : width == 2 ? kCmdLiteral16 : kCmdLiteral32);
    for (int i = 0; i < width; ++i) writer_.Raw(static_cast<uint8_t>(n >> (8 * i)));
    Flush();
}

namespace {

// One state of the dynamic program over the base: the base after a copy, the form the copy
// took to get there, the state of the copy before it came from, and the cost so far.
struct StateCost {
    uint16_t base;
    uint8_t form;
    int32_t parent;
    int64_t cost;
};

// Adds a state to a level, or lowers the cost of the state with the same base.
void PushState(std::vector<StateCost>& level, uint16_t base, uint8_t form, int32_t parent, int64_t cost) {
    for (StateCost& e : level) {
        if (e.base == base) {
            if (cost < e.cost) e = {base, form, parent, cost};
            return;
        }
    }
    level.push_back({base, form, parent, cost});
}

// Sorts a level by cost and drops what costs more than the cheapest plus a new base,
// keeping at most kMaxStates.
void PruneStates(std::vector<StateCost>& level, int32_t set_high) {
    std::sort(level.begin(), level.end(), [](const StateCost& a, const StateCost& b) { return a.cost < b.cost; });
    const int64_t limit = level.front().cost + set_high;
    size_t keep = 0;
    while (keep < level.size() && keep < kMaxStates && level[keep].cost <= limit) ++keep;
    level.resize(keep);
}

// Every form the copy `s` can take from each state of `from`, into `next`, pruned.
// `prev_end` is where the copy before it ended in the old file.
void NextStates(const CostModel& costs, const PlanStep& s, uint32_t prev_end, const std::vector<StateCost>& from,
                std::vector<StateCost>& next) {
    const uint16_t high = static_cast<uint16_t>(s.offset >> 16);
    const int64_t count = costs.Count(s.length);
    const int64_t near = costs.copy_opcode + costs.near_low + count;
    next.clear();
    for (size_t si = 0; si < from.size(); ++si) {
        const StateCost& f = from[si];
        const int32_t parent = static_cast<int32_t>(si);
        if (s.offset == prev_end) {
            PushState(next, f.base, kNoSeekFar, parent, f.cost + costs.copy_opcode + costs.no_seek + count);
            if (f.base == 0xFFFF) PushState(next, 0xFFFF, kNoSeekNear, parent, f.cost + near);
            else PushState(next, 0xFFFF, kSetNoSeekNear, parent, f.cost + costs.set_high + near);
        }
        PushState(next, f.base, kFar, parent, f.cost + costs.copy_opcode + costs.far_offset + count);
        if (high == f.base)
            PushState(next, f.base, kNear, parent, f.cost + near);
        else
            PushState(next, high, kSetNear, parent, f.cost + costs.set_high + near);
    }
    PruneStates(next, costs.set_high);
}

}  // namespace

std::vector<uint8_t> ScriptEncoder::ChooseForms(const std::vector<PlanStep>& plan,
                                                const std::vector<size_t>& copy_steps) const {
    std::vector<std::vector<StateCost>> levels(copy_steps.size());
    std::vector<StateCost> current{{base_, kNear, -1, 0}};
    uint32_t prev_end = prev_end_;
    for (size_t c = 0; c < copy_steps.size(); ++c) {
        const PlanStep& s = plan[copy_steps[c]];
        NextStates(costs_, s, prev_end, current, levels[c]);
        current = levels[c];
        prev_end = s.offset + s.length;
    }
    // The forms of the cheapest path, from the last copy back.
    std::vector<uint8_t> forms(copy_steps.size());
    int32_t at = 0;  // levels are sorted: index 0 is the cheapest
    for (size_t c = copy_steps.size(); c-- > 0;) {
        forms[c] = levels[c][at].form;
        at = levels[c][at].parent;
    }
    return forms;
}

void ScriptEncoder::EmitCopy(const PlanStep& s, uint8_t form) {
    const uint16_t low = static_cast<uint16_t>(s.offset & 0xFFFF);
    switch (form) {
        case kNear:
            writer_.CopyNear(low, s.length);
            break;
        case kFar:
            writer_.CopyFar(s.offset, s.length);
            break;
        case kSetNear:
            base_ = static_cast<uint16_t>(s.offset >> 16);
            writer_.SetOffsetHigh(base_);
            writer_.CopyNear(low, s.length);
            break;
        case kNoSeekFar:
            writer_.CopyFar(kNoSeek, s.length);
            break;
        case kNoSeekNear:
            writer_.CopyNear(0xFFFF, s.length);
            break;
        case kSetNoSeekNear:
            base_ = 0xFFFF;
            writer_.SetOffsetHigh(base_);
            writer_.CopyNear(0xFFFF, s.length);
            break;
    }
    ++copies_;
    prev_end_ = s.offset + s.length;
    if (writer_.bytes().size() >= (1u << 20)) Flush();
}

void ScriptEncoder::Encode(const std::vector<PlanStep>& plan, const uint8_t* data) {
    size_t step = 0;
    size_t covered = 0;  // new bytes of the plan before the current step
    std::vector<size_t> copy_steps;
    while (step < plan.size()) {
        // One round: the copies among the next steps get their forms together.
        copy_steps.clear();
        size_t end = step;
        while (end < plan.size() && copy_steps.size() < kRound) {
            if (plan[end].copy) copy_steps.push_back(end);
            ++end;
        }
        const std::vector<uint8_t> forms = ChooseForms(plan, copy_steps);
        size_t c = 0;
        for (size_t k = step; k < end; ++k) {
            const PlanStep& s = plan[k];
            if (s.copy)
                EmitCopy(s, forms[c++]);
            else
                Literal(data + covered, s.length);
            covered += s.length;
        }
        step = end;
    }
    Flush();
}

void ScriptEncoder::Finish() {
    writer_.End();
    Flush();
}
