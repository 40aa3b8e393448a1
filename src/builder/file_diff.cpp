// The rebuild script of one file pair: index choice, planning in rounds, encoding.
#include "builder/file_diff.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <new>
#include <vector>

#include "builder/scoped_file.h"
#include "builder/tree.h"
#include "io/os.h"

namespace {

// New bytes planned per round; the plan of one round is encoded before the next.
constexpr uint32_t kRoundBytes = 4u << 20;
// Besides the index and the file bytes: plan, parser windows, writer buffers.
constexpr uint64_t kOverhead = 48u << 20;

// Reads a whole file that must be `size` bytes long.
bool ReadWhole(const std::string& path, uint64_t size, std::vector<uint8_t>* out, std::string* error) {
    ScopedFile f(os::OpenFile(path.c_str(), os::kModeRead | os::kShareRead));
    if (!f.ok()) {
        *error = "cannot open " + path;
        return false;
    }
    bool ok = os::FileSize(f.get()) == static_cast<int64_t>(size);
    if (ok) {
        try {
            out->resize(size);
        } catch (const std::bad_alloc&) {
            *error = "not enough memory to read " + path;
            return false;
        }
        ok = ReadExactly(f.get(), out->data(), static_cast<uint32_t>(size));
    }
    if (!ok) *error = "cannot read " + path + " (or it changed while the package was built)";
    return ok;
}

void Finish(ScriptEncoder& encoder, DiffStats* stats) {
    encoder.Finish();
    stats->script_bytes = encoder.BytesWritten();
    stats->copy_commands = encoder.CopyCommands();
    stats->literal_bytes = encoder.LiteralBytes();
    stats->whole_literal = encoder.CopyCommands() == 0;
}

// Plans and encodes new[0..m) in memory against old[0..n), also in memory.
void PlanInMemory(const uint8_t* old_data, uint32_t n, const uint8_t* new_data, uint32_t m, const ScriptSink& sink,
                  DiffStats* stats) {
    const CostModel costs = CostModel::Default();
    ScriptEncoder encoder(costs, sink);
    if (m > 0) {
        std::unique_ptr<SuffixMatcher> index;
        if (n >= SuffixMatcher::kGram) {
            index.reset(new SuffixMatcher());
            if (!index->Build(old_data, n)) index.reset();
        }
        MemoryOldData old(old_data, n);
        Parser parser(costs, &old, index.get());
        std::vector<PlanStep> plan;
        uint32_t at = 0;
        while (at < m) {
            plan.clear();
            const uint32_t end = parser.Plan(new_data, m, 0, at, std::min<uint32_t>(m, at + kRoundBytes), &plan);
            encoder.Encode(plan, new_data + at);
            at = end;
        }
    }
    Finish(encoder, stats);
}

// Plans the new file segment by segment against the old data through `finder`: only
// one segment of the new file is held at a time.
bool PlanSegments(OldData* old, MatchFinder* finder, const std::string& new_path, uint32_t m,
                  const DiffSettings& settings, const ScriptSink& sink, const DiffProgress& progress,
                  DiffStats* stats, std::string* error) {
    ScopedFile f(os::OpenFile(new_path.c_str(), os::kModeRead | os::kShareRead));
    if (!f.ok() || os::FileSize(f.get()) != static_cast<int64_t>(m)) {
        *error = "cannot read " + new_path + " (or it changed while the package was built)";
        return false;
    }
    const CostModel costs = CostModel::Default();
    ScriptEncoder encoder(costs, sink);
    Parser parser(costs, old, finder);
    std::vector<uint8_t> segment(std::min<uint64_t>(settings.segment_bytes, std::max<uint32_t>(m, 1)));
    std::vector<PlanStep> plan;
    uint64_t done = 0;
    bool ok = true;
    while (done < m) {
        const uint32_t len = static_cast<uint32_t>(std::min<uint64_t>(segment.size(), m - done));
        if (!ReadExactly(f.get(), segment.data(), len)) {
            ok = false;
            break;
        }
        parser.NewBuffer();
        // Rounds within the segment keep the plan (and the encoder's rounds) small.
        uint32_t at = 0;
        while (at < len) {
            plan.clear();
            const uint32_t end = parser.Plan(segment.data(), len, done, at, std::min<uint32_t>(len, at + kRoundBytes), &plan);
            encoder.Encode(plan, segment.data() + at);
            at = end;
            if (progress) progress(done + at, m);
        }
        done += len;
    }
    if (!ok || !old->Ok()) {
        *error = "cannot read " + new_path + " or its old version";
        return false;
    }
    Finish(encoder, stats);
    return true;
}

// A script of literals only, streamed from the file.
bool LiteralFile(const std::string& path, uint64_t size, const ScriptSink& sink, const DiffProgress& progress,
                 DiffStats* stats, std::string* error) {
    CostModel costs = CostModel::Default();
    ScriptEncoder encoder(costs, sink);
    if (size > 0) {
        ScopedFile f(os::OpenFile(path.c_str(), os::kModeRead | os::kShareRead));
        if (!f.ok() || os::FileSize(f.get()) != static_cast<int64_t>(size)) {
            *error = "cannot read " + path + " (or it changed while the package was built)";
            return false;
        }
        encoder.LiteralHeader(static_cast<uint32_t>(size));
        std::vector<uint8_t> buffer(1u << 20);
        uint64_t done = 0;
        while (done < size) {
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(buffer.size(), size - done));
            if (!ReadExactly(f.get(), buffer.data(), n)) {
                *error = "cannot read " + path;
                return false;
            }
            encoder.PassThrough(buffer.data(), n);
            done += n;
            if (progress) progress(done, size);
        }
    }
    encoder.Finish();
    stats->script_bytes = encoder.BytesWritten();
    stats->literal_bytes = size;
    stats->whole_literal = true;
    return true;
}

// One copy of the whole old file: the contents are the same, only the time stamp differs.
void WholeCopy(uint32_t size, const ScriptSink& sink, DiffStats* stats) {
    const CostModel costs = CostModel::Default();
    ScriptEncoder encoder(costs, sink);
    PlanStep all;
    all.copy = true;
    all.length = size;
    if (size > 0) encoder.Encode({all}, nullptr);
    Finish(encoder, stats);
}

}  // namespace

DiffStats DiffBuffers(const uint8_t* old_data, uint32_t n, const uint8_t* new_data, uint32_t m,
                      const ScriptSink& sink) {
    DiffStats stats;
    PlanInMemory(old_data, n, new_data, m, sink, &stats);
    return stats;
}

bool DiffFiles(const std::string& old_path, uint64_t old_size, const std::string& new_path, uint64_t new_size,
               const DiffSettings& settings, const ScriptSink& sink, const DiffProgress& progress,
               DiffStats* stats, std::string* error) {
    *stats = DiffStats();
    if (old_size > 0xFFFFFFFFull || new_size > 0xFFFFFFFFull) {
        *error = "files of 4 GiB or more cannot be packaged";
        return false;
    }
    const uint32_t n = static_cast<uint32_t>(old_size), m = static_cast<uint32_t>(new_size);
    if (old_path.empty() || n == 0) return LiteralFile(new_path, m, sink, progress, stats, error);
    if (settings.same_content && n == m) {
        WholeCopy(m, sink, stats);
        if (progress) progress(m, m);
        return true;
    }
    const uint64_t segment = std::min<uint64_t>(settings.segment_bytes, new_size);
    const uint64_t in_memory = old_size + SuffixMatcher::IndexBytes(old_size) + segment + kOverhead;
    if (settings.force_block_index || in_memory > settings.memory_limit) {
        // Bounded memory: the old file paged through a small cache, block hashes.
        const uint64_t cache_bytes = std::min<uint64_t>(64u << 20, settings.memory_limit / 8);
        PagedOldData old(old_path.c_str(), n, static_cast<uint32_t>(cache_bytes / PagedOldData::kPageSize));
        BlockMatcher index;
        if (!old.Ok() || !index.Build(old_path.c_str(), n, &old, settings.memory_limit / 4)) {
            *error = "cannot read " + old_path;
            return false;
        }
        stats->block_index = true;
        return PlanSegments(&old, &index, new_path, m, settings, sink, progress, stats, error);
    }
    std::vector<uint8_t> old_bytes;
    if (!ReadWhole(old_path, old_size, &old_bytes, error)) return false;
    SuffixMatcher index;
    const bool indexed = n >= SuffixMatcher::kGram && index.Build(old_bytes.data(), n);
    MemoryOldData old(old_bytes.data(), n);
    return PlanSegments(&old, indexed ? &index : nullptr, new_path, m, settings, sink, progress, stats, error);
}
