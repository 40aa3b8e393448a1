// Turns a plan of copies and literals into rebuild-script commands: picks for every copy
// the cheapest form (near under the current SetOffsetHigh base, far, a new base, or the
// no-seek offset 0xFFFFFFFF for a copy that continues where the last one ended) by a
// small dynamic program over the base, and writes the bytes to a sink as it goes.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "builder/script_plan.h"
#include "package/writer.h"

// Receives the script bytes in order.
using ScriptSink = std::function<void(const uint8_t* data, size_t n)>;

class ScriptEncoder {
public:
    ScriptEncoder(const CostModel& costs, ScriptSink sink);

    // Encodes the steps; `data` holds the new bytes that the plan covers, from its start
    // (only literal steps read it).
    void Encode(const std::vector<PlanStep>& plan, const uint8_t* data);
    // Writes the literal bytes data[0..n) as one command.
    void Literal(const uint8_t* data, uint32_t n);
    // Writes the literal command for n bytes that the caller then hands over with
    // PassThrough, in one piece or several.
    void LiteralHeader(uint32_t n);
    void PassThrough(const uint8_t* data, size_t n);
    // Writes the End command and hands the rest of the bytes to the sink.
    void Finish();
    uint64_t BytesWritten() { return written_ + writer_.bytes().size(); }
    uint64_t CopyCommands() const { return copies_; }
    uint64_t LiteralBytes() const { return literal_bytes_; }

private:
    void Flush();
    // The cheapest form of each copy in plan[copy_steps[...]], from the current base and
    // old-file position (forms are listed in script_encoder.cpp): a dynamic program over the
    // base after each copy.
    std::vector<uint8_t> ChooseForms(const std::vector<PlanStep>& plan, const std::vector<size_t>& copy_steps) const;
    // Writes one copy in the form chosen for it and follows its base and end.
    void EmitCopy(const PlanStep& s, uint8_t form);

    const CostModel& costs_;
    ScriptSink sink_;
    ScriptWriter writer_;
    uint16_t base_ = 0;
    uint32_t prev_end_ = 0;
    uint64_t written_ = 0;
    uint64_t copies_ = 0;
    uint64_t literal_bytes_ = 0;
};
