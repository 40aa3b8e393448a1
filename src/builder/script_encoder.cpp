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

void ScriptEncoder::Encode(const std::vector<PlanStep>& plan, const uint8_t* data) {
    struct StateCost {
        uint16_t base;
        uint8_t form;
        int32_t parent;
        int64_t cost;
    };
    size_t step = 0;
    size_t covered = 0;  // new bytes of the plan before the current step
    while (step < plan.size()) {
        // One round: the copies among the next steps.
        std::vector<size_t> copy_steps;
        size_t end = step;
        while (end < plan.size() && copy_steps.size() < kRound) {
            if (plan[end].copy) copy_steps.push_back(end);
            ++end;
        }
        std::vector<std::vector<StateCost>> levels(copy_steps.size());
        std::vector<StateCost> current{{base_, kNear, -1, 0}};
        uint32_t prev_end = prev_end_;
        for (size_t c = 0; c < copy_steps.size(); ++c) {
            const PlanStep& s = plan[copy_steps[c]];
            const uint16_t high = static_cast<uint16_t>(s.offset >> 16);
            const int64_t count = costs_.Count(s.length);
            const int64_t near = costs_.copy_opcode + costs_.near_low + count;
            std::vector<StateCost>& next = levels[c];
            next.clear();
            auto push = [&](uint16_t base, Form form, int32_t parent, int64_t cost) {
                for (StateCost& e : next) {
                    if (e.base == base) {
                        if (cost < e.cost) e = {base, static_cast<uint8_t>(form), parent, cost};
                        return;
                    }
                }
                next.push_back({base, static_cast<uint8_t>(form), parent, cost});
            };
            for (size_t si = 0; si < current.size(); ++si) {
                const StateCost& from = current[si];
                const int32_t parent = static_cast<int32_t>(si);
                if (s.offset == prev_end) {
                    push(from.base, kNoSeekFar, parent, from.cost + costs_.copy_opcode + costs_.no_seek + count);
                    if (from.base == 0xFFFF) push(0xFFFF, kNoSeekNear, parent, from.cost + near);
                    else push(0xFFFF, kSetNoSeekNear, parent, from.cost + costs_.set_high + near);
                }
                push(from.base, kFar, parent, from.cost + costs_.copy_opcode + costs_.far_offset + count);
                if (high == from.base)
                    push(from.base, kNear, parent, from.cost + near);
                else
                    push(high, kSetNear, parent, from.cost + costs_.set_high + near);
            }
            // Drop what costs more than the cheapest plus a new base; keep the cheapest few.
            std::sort(next.begin(), next.end(), [](const StateCost& a, const StateCost& b) { return a.cost < b.cost; });
            const int64_t limit = next.front().cost + costs_.set_high;
            size_t keep = 0;
            while (keep < next.size() && keep < kMaxStates && next[keep].cost <= limit) ++keep;
            next.resize(keep);
            current = next;
            prev_end = s.offset + s.length;
        }
        // The forms of the cheapest path, from the last copy back.
        std::vector<uint8_t> forms(copy_steps.size());
        if (!copy_steps.empty()) {
            int32_t at = 0;  // levels are sorted: index 0 is the cheapest
            for (size_t c = copy_steps.size(); c-- > 0;) {
                forms[c] = levels[c][at].form;
                at = levels[c][at].parent;
            }
        }
        // Emit the round.
        size_t c = 0;
        for (size_t k = step; k < end; ++k) {
            const PlanStep& s = plan[k];
            const size_t at = covered;
            covered += s.length;
            if (!s.copy) {
                Literal(data + at, s.length);
                continue;
            }
            const uint16_t low = static_cast<uint16_t>(s.offset & 0xFFFF);
            switch (forms[c++]) {
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
        step = end;
    }
    Flush();
}

void ScriptEncoder::Finish() {
    writer_.End();
    Flush();
}
