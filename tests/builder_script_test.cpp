// Tests of the package builder's scripts: round trips of planned scripts through the
// applicator, the command forms at their size boundaries, the choice of near, far and
// no-seek copies, and the matching structures (old file and recent literals).

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <functional>
#include <numeric>
#include <random>

#include "apply/driver.h"
#include "builder/file_diff.h"
#include "builder/literal_history.h"
#include "builder/match_index.h"
#include "builder/script_encoder.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace {

struct Command {
    uint8_t op;
    uint32_t offset;  // far offset, near low, or the high part of SetOffsetHigh
    uint32_t count;
};

uint32_t Get(const Bytes& s, size_t* at, int width) {
    uint32_t v = 0;
    for (int i = 0; i < width; ++i) v |= static_cast<uint32_t>(s.at((*at)++)) << (8 * i);
    return v;
}

// The commands of a script up to and including End.
std::vector<Command> Decode(const Bytes& s) {
    std::vector<Command> out;
    size_t at = 0;
    while (at < s.size()) {
        Command c{s[at++], 0, 0};
        switch (c.op) {
            case kCmdLiteral8: case kCmdLiteral16: case kCmdLiteral32:
                c.count = Get(s, &at, c.op == kCmdLiteral8 ? 1 : c.op == kCmdLiteral16 ? 2 : 4);
                at += c.count;
                break;
            case kCmdSetOffsetHigh:
                c.offset = Get(s, &at, 2);
                break;
            case kCmdCopyNear8: case kCmdCopyNear16: case kCmdCopyNear32:
                c.offset = Get(s, &at, 2);
                c.count = Get(s, &at, c.op == kCmdCopyNear8 ? 1 : c.op == kCmdCopyNear16 ? 2 : 4);
                break;
            case kCmdCopyFar8: case kCmdCopyFar16: case kCmdCopyFar32:
                c.offset = Get(s, &at, 4);
                c.count = Get(s, &at, c.op == kCmdCopyFar8 ? 1 : c.op == kCmdCopyFar16 ? 2 : 4);
                break;
            default:
                break;
        }
        out.push_back(c);
        if (c.op == kCmdEnd) break;
    }
    return out;
}

int CountOf(const std::vector<Command>& commands, std::function<bool(const Command&)> pred) {
    return static_cast<int>(std::count_if(commands.begin(), commands.end(), pred));
}

// Rebuilds a file from `old` (none when empty and `add`) with `script` through the
// applicator: one entry of a package, read by the package reader and applied by the apply
// driver, which verifies the result against the identity of `expected`.
::testing::AssertionResult Rebuilds(const Bytes& old, const Bytes& script, const Bytes& expected, bool add = false) {
    TempDir dir;
    const std::string target = dir / "target";
    const std::string file = dir / "target/f.bin";
    EntryRecord r;
    r.name = "f.bin";
    r.operation = add ? kOpAdd : kOpUpdate;
    r.new_identity = IdentityOf(expected, NewStamp());
    if (add) {
        std::filesystem::create_directories(target);
    } else {
        WriteFileBytes(file, old);
        SetStamp(file, OldStamp());
        r.old_identity = IdentityOf(old, OldStamp());
    }
    PackagePlan plan;
    plan.Raw(r, script);
    plan.Write(dir / "p.upg");
    FakeFrontEnd frontend;
    auto package = OpenForApply(dir / "p.upg", target);
    if (!package->IsValid()) return ::testing::AssertionFailure() << "the package does not read back";
    const ApplyResult result = ApplyPackage(*package, &frontend);
    package.reset();
    if (result != kApplyDone)
        return ::testing::AssertionFailure() << "apply result " << result << ", " << frontend.questions.size()
                                             << " questions";
    if (ReadFileBytes(file) != expected) return ::testing::AssertionFailure() << "the rebuilt file differs";
    return ::testing::AssertionSuccess();
}

// Old-file-like data: text lines from a small vocabulary, binary records and noise.
Bytes Corpus(size_t size, uint32_t seed) {
    std::mt19937 rng(seed);
    static const char* const kWords[] = {"Player", "Weapon", "function ", "Health", " = ", ";\r\n", "if (", ") {",
                                         "local int ", "Damage", "    ", "return ", "Timer", "}\r\n"};
    Bytes out;
    while (out.size() < size) {
        switch (rng() % 3) {
            case 0:
                for (int i = 0, n = 20 + rng() % 200; i < n; ++i) {
                    const char* w = kWords[rng() % (sizeof kWords / sizeof kWords[0])];
                    out.insert(out.end(), w, w + std::strlen(w));
                }
                break;
            case 1: {
                const Bytes record = RandomBytes(16 + rng() % 48, rng());
                for (int i = 0, n = 1 + rng() % 20; i < n; ++i) {
                    out.insert(out.end(), record.begin(), record.end());
                    out.push_back(static_cast<uint8_t>(i));
                }
                break;
            }
            default: {
                const Bytes noise = RandomBytes(rng() % 3000, rng());
                out.insert(out.end(), noise.begin(), noise.end());
            }
        }
    }
    out.resize(size);
    return out;
}

// A new version: inserted, deleted, changed, moved and repeated ranges.
Bytes Edit(const Bytes& data, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out = data;
    for (int e = 0, n = 1 + rng() % 30; e < n; ++e) {
        const size_t at = out.empty() ? 0 : rng() % out.size();
        const size_t len = std::min<size_t>(out.size() - at, 1 + rng() % (rng() % 4 == 0 ? 5000 : 40));
        switch (rng() % 5) {
            case 0: {
                const Bytes ins = RandomBytes(1 + rng() % 300, rng());
                out.insert(out.begin() + at, ins.begin(), ins.end());
                break;
            }
            case 1:
                out.erase(out.begin() + at, out.begin() + at + len);
                break;
            case 2:
                for (size_t i = 0; i < std::min<size_t>(len, 8); ++i) out[at + i] ^= static_cast<uint8_t>(1 + rng() % 255);
                break;
            case 3: {
                Bytes block(out.begin() + at, out.begin() + at + len);
                out.erase(out.begin() + at, out.begin() + at + len);
                const size_t to = out.empty() ? 0 : rng() % out.size();
                out.insert(out.begin() + to, block.begin(), block.end());
                break;
            }
            default: {
                Bytes block(out.begin() + at, out.begin() + at + len);
                out.insert(out.begin() + (out.empty() ? 0 : rng() % out.size()), block.begin(), block.end());
            }
        }
    }
    return out;
}

// The script from DiffFiles over two files in a scratch folder.
Bytes Script(const Bytes& old, const Bytes& neu, const DiffSettings& settings, DiffStats* stats = nullptr) {
    TempDir dir;
    WriteFileBytes(dir / "old", old);
    WriteFileBytes(dir / "new", neu);
    Bytes script;
    DiffStats local;
    std::string error;
    EXPECT_TRUE(DiffFiles(old.empty() ? "" : dir / "old", old.size(), dir / "new", neu.size(), settings,
                          [&](const uint8_t* d, size_t n) { script.insert(script.end(), d, d + n); }, nullptr,
                          stats ? stats : &local, &error))
        << error;
    return script;
}

Bytes Encode(const std::vector<PlanStep>& plan, const Bytes& data, const CostModel& costs) {
    Bytes script;
    ScriptEncoder encoder(costs, [&](const uint8_t* d, size_t n) { script.insert(script.end(), d, d + n); });
    encoder.Encode(plan, data.data());
    encoder.Finish();
    return script;
}

PlanStep Copy(uint32_t offset, uint32_t length) {
    PlanStep s;
    s.copy = true;
    s.offset = offset;
    s.length = length;
    return s;
}

PlanStep Literal(uint32_t length) {
    PlanStep s;
    s.length = length;
    return s;
}

// The new bytes a plan stands for: copies from old, literals random.
Bytes Expand(const std::vector<PlanStep>& plan, const Bytes& old, uint32_t seed) {
    Bytes out;
    for (const PlanStep& s : plan) {
        if (s.copy) {
            out.insert(out.end(), old.begin() + s.offset, old.begin() + s.offset + s.length);
        } else {
            const Bytes lit = RandomBytes(s.length, seed++);
            out.insert(out.end(), lit.begin(), lit.end());
        }
    }
    return out;
}

// Costs equal to the encoded sizes.
CostModel RawSizes() {
    CostModel m = CostModel::Default();
    m.copy_opcode = 256;
    m.count[0] = 256;
    m.count[1] = 512;
    m.count[2] = 1024;
    m.near_low = 512;
    m.far_offset = 1024;
    m.no_seek = 1024;
    m.set_high = 768;
    return m;
}

}  // namespace

TEST(BuilderScript, RandomEditsRebuildThroughTheApplicator) {
    for (uint32_t seed = 1; seed <= 6; ++seed) {
        const Bytes old = Corpus(seed % 2 ? 150000 : 9000, seed);
        const Bytes neu = Edit(old, seed * 77);
        for (bool blocks : {false, true}) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << (blocks ? " block index" : " suffix array"));
            DiffSettings settings;
            settings.force_block_index = blocks;
            settings.segment_bytes = 40000;  // several segments with the block index
            DiffStats stats;
            const Bytes script = Script(old, neu, settings, &stats);
            EXPECT_EQ(stats.block_index, blocks);
            if (!blocks && neu.size() <= settings.segment_bytes) {
                // Within one segment, planning from files and from memory agree.
                Bytes in_memory;
                DiffBuffers(old.data(), static_cast<uint32_t>(old.size()), neu.data(), static_cast<uint32_t>(neu.size()),
                            [&](const uint8_t* d, size_t n) { in_memory.insert(in_memory.end(), d, d + n); });
                EXPECT_EQ(in_memory, script);
            }
            EXPECT_LT(script.size(), neu.size() / 2) << "the script should copy most of the file";
            EXPECT_TRUE(Rebuilds(old, script, neu));
        }
    }
}

TEST(BuilderScript, EmptyIdenticalAndUnrelatedFiles) {
    const Bytes old = Corpus(70000, 3);
    DiffSettings settings;
    // An empty new file: End only.
    EXPECT_EQ(Script(old, {}, settings), Bytes{kCmdEnd});
    EXPECT_TRUE(Rebuilds(old, Bytes{kCmdEnd}, {}));
    // No old file: one literal command.
    const Bytes added = Script({}, old, settings);
    std::vector<Command> commands = Decode(added);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].op, kCmdLiteral32);
    EXPECT_EQ(commands[0].count, old.size());
    EXPECT_TRUE(Rebuilds({}, added, old, true));
    // Same contents (only the time stamp differs): one copy.
    const Bytes same = Script(old, old, settings);
    commands = Decode(same);
    ASSERT_EQ(commands.size(), 2u);
    EXPECT_EQ(commands[0].count, old.size());
    EXPECT_TRUE(Rebuilds(old, same, old));
    // Nothing in common: the whole file as literals.
    const Bytes other = RandomBytes(50000, 99);
    DiffStats stats;
    const Bytes unrelated = Script(RandomBytes(60000, 98), other, settings, &stats);
    EXPECT_TRUE(stats.whole_literal);
    EXPECT_EQ(CountOf(Decode(unrelated), [](const Command& c) { return c.op >= kCmdCopyNear8; }), 0);
    EXPECT_LE(unrelated.size(), other.size() + 16);
    EXPECT_TRUE(Rebuilds(RandomBytes(60000, 98), unrelated, other));
}

TEST(BuilderScript, CountsAtTheirBoundaries) {
    const Bytes old = RandomBytes(0x60000, 5);
    // Raw sizes make isolated copies in new 64 KiB bases far copies.
    const std::vector<PlanStep> plan = {
        Copy(10, 255),      Literal(255),   Copy(1000, 256),    Literal(256),   Copy(0x10005, 65535),
        Literal(65535),     Copy(0x30000, 65536), Literal(65536), Copy(0x50003, 255), Copy(0x40001, 256),
    };
    const Bytes neu = Expand(plan, old, 1);
    const Bytes script = Encode(plan, neu, RawSizes());
    const std::vector<Command> c = Decode(script);
    const std::vector<uint8_t> expected_ops = {kCmdCopyNear8, kCmdLiteral8,  kCmdCopyNear16, kCmdLiteral16,
                                               kCmdCopyFar16, kCmdLiteral16, kCmdCopyFar32,  kCmdLiteral32,
                                               kCmdCopyFar8,  kCmdCopyFar16, kCmdEnd};
    ASSERT_EQ(c.size(), expected_ops.size());
    for (size_t i = 0; i < c.size(); ++i) EXPECT_EQ(c[i].op, expected_ops[i]) << "command " << i;
    EXPECT_EQ(c[4].offset, 0x10005u);
    EXPECT_EQ(c[6].count, 65536u);
    EXPECT_TRUE(Rebuilds(old, script, neu));
}

TEST(BuilderScript, NearCopiesUnderBasesAndNoSeekContinuation) {
    const Bytes old = RandomBytes(0x40000, 6);
    // Default weights: copies in one 64 KiB base share one SetOffsetHigh.
    std::vector<PlanStep> plan = {Copy(0xFFF0, 16),  Literal(3), Copy(0x10010, 16), Literal(3), Copy(0x10100, 16),
                                  Literal(3),        Copy(0x1FFF8, 16), Literal(3), Copy(0x8000, 16)};
    Bytes neu = Expand(plan, old, 2);
    Bytes script = Encode(plan, neu, CostModel::Default());
    std::vector<Command> c = Decode(script);
    std::vector<Command> copies;
    for (const Command& x : c)
        if (x.op == kCmdSetOffsetHigh || (x.op >= kCmdCopyNear8 && x.op <= kCmdCopyFar32)) copies.push_back(x);
    ASSERT_EQ(copies.size(), 7u);
    EXPECT_EQ(copies[0].op, kCmdCopyNear8);
    EXPECT_EQ(copies[0].offset, 0xFFF0u);
    EXPECT_EQ(copies[1].op, kCmdSetOffsetHigh);
    EXPECT_EQ(copies[1].offset, 1u);
    EXPECT_EQ(copies[2].offset, 0x0010u);
    EXPECT_EQ(copies[3].offset, 0x0100u);
    EXPECT_EQ(copies[4].offset, 0xFFF8u);  // base 0x10000 + 0xFFF8, the copy runs into the next base
    EXPECT_EQ(copies[5].op, kCmdSetOffsetHigh);
    EXPECT_EQ(copies[5].offset, 0u);
    EXPECT_EQ(copies[6].offset, 0x8000u);
    EXPECT_TRUE(Rebuilds(old, script, neu));

    // A copy that continues where the last one ended does not seek.
    plan = {Copy(0x30000, 100), Literal(5), Copy(0x30064, 100)};
    neu = Expand(plan, old, 3);
    script = Encode(plan, neu, CostModel::Default());
    c = Decode(script);
    ASSERT_GE(c.size(), 2u);
    EXPECT_EQ(c[c.size() - 2].op, kCmdCopyFar8);
    EXPECT_EQ(c[c.size() - 2].offset, kNoSeek);
    EXPECT_TRUE(Rebuilds(old, script, neu));

    // With raw sizes, a run of continuing copies that cross into a new base each time is
    // cheapest as near copies with low 0xFFFF under the base 0xFFFF: base + low is
    // 0xFFFFFFFF, no seek.
    const Bytes big = RandomBytes(0x90000, 7);
    plan = {Copy(5, 70000)};
    for (uint32_t i = 1; i < 8; ++i) {
        plan.push_back(Literal(1));
        plan.push_back(Copy(5 + i * 70000, 70000));
    }
    neu = Expand(plan, big, 4);
    script = Encode(plan, neu, RawSizes());
    c = Decode(script);
    EXPECT_EQ(CountOf(c, [](const Command& x) { return x.op == kCmdSetOffsetHigh; }), 1);
    EXPECT_EQ(CountOf(c, [](const Command& x) { return x.op == kCmdSetOffsetHigh && x.offset == 0xFFFF; }), 1);
    EXPECT_EQ(CountOf(c, [](const Command& x) { return x.op == kCmdCopyNear32 && x.offset == 0xFFFF; }), 7);
    EXPECT_TRUE(Rebuilds(big, script, neu));
}

// The encoder's choice of forms is the cheapest of all, by brute force over small plans.
TEST(BuilderScript, EncoderPicksTheCheapestForms) {
    std::mt19937 rng(11);
    for (int round = 0; round < 200; ++round) {
        CostModel m = CostModel::Default();
        m.copy_opcode = 50 + rng() % 300;
        m.near_low = 100 + rng() % 600;
        m.far_offset = 200 + rng() % 1000;
        m.no_seek = rng() % 1000;
        m.set_high = 100 + rng() % 800;
        std::vector<PlanStep> plan;
        uint32_t end = 0;
        for (int k = 0; k < 6; ++k) {
            const uint32_t offset = rng() % 3 == 0 ? end : (rng() % 4) * 0x10000 + rng() % 0x10000;
            const uint32_t length = 1 + rng() % 300;
            plan.push_back(Copy(offset, length));
            end = offset + length;
        }
        const Bytes neu(std::accumulate(plan.begin(), plan.end(), size_t{0},
                                        [](size_t a, const PlanStep& s) { return a + s.length; }),
                        0);
        const std::vector<Command> c = Decode(Encode(plan, neu, m));
        int64_t chosen = 0;
        for (const Command& x : c) {
            if (x.op == kCmdSetOffsetHigh) chosen += m.set_high;
            if (x.op >= kCmdCopyNear8 && x.op <= kCmdCopyFar32) {
                chosen += m.copy_opcode + m.Count(x.count);
                chosen += x.op <= kCmdCopyNear32 ? m.near_low : x.offset == kNoSeek ? m.no_seek : m.far_offset;
            }
        }
        // Every sequence of forms, with the base it leaves.
        int64_t best = INT64_MAX;
        std::function<void(size_t, uint16_t, uint32_t, int64_t)> search = [&](size_t k, uint16_t base, uint32_t prev,
                                                                               int64_t cost) {
            if (k == plan.size()) {
                best = std::min(best, cost);
                return;
            }
            const PlanStep& s = plan[k];
            const uint16_t high = static_cast<uint16_t>(s.offset >> 16);
            const int64_t fixed = m.copy_opcode + m.Count(s.length);
            const uint32_t next = s.offset + s.length;
            search(k + 1, base, next, cost + fixed + m.far_offset);
            search(k + 1, high, next, cost + fixed + m.set_high + m.near_low);
            if (high == base) search(k + 1, base, next, cost + fixed + m.near_low);
            if (s.offset == prev) {
                search(k + 1, base, next, cost + fixed + m.no_seek);
                if (base == 0xFFFF) search(k + 1, base, next, cost + fixed + m.near_low);
                search(k + 1, 0xFFFF, next, cost + fixed + m.set_high + m.near_low);
            }
        };
        search(0, 0, 0, 0);
        EXPECT_EQ(chosen, best) << "round " << round;
    }
}

TEST(BuilderIndex, SuffixArrayFindsTheLongestMatch) {
    std::mt19937 rng(3);
    for (int round = 0; round < 20; ++round) {
        // A small alphabet gives many long repeats.
        Bytes old(2000 + rng() % 3000);
        for (uint8_t& b : old) b = static_cast<uint8_t>('a' + rng() % 3);
        SuffixMatcher index;
        ASSERT_TRUE(index.Build(old.data(), static_cast<uint32_t>(old.size())));
        for (int probe = 0; probe < 50; ++probe) {
            Bytes p(8 + rng() % 40);
            for (uint8_t& b : p) b = static_cast<uint8_t>('a' + rng() % 3);
            if (rng() % 2) {  // a pattern that certainly occurs, cut from the end or the middle
                const size_t at = rng() % 2 ? old.size() - p.size() / 2 : rng() % (old.size() - p.size());
                std::copy(old.begin() + at, std::min(old.end(), old.begin() + at + p.size()), p.begin());
            }
            uint32_t longest = 0;
            for (size_t s = 0; s < old.size(); ++s) {
                uint32_t n = 0;
                while (n < p.size() && s + n < old.size() && old[s + n] == p[n]) ++n;
                longest = std::max(longest, n);
            }
            Match m;
            const bool found = index.Find(0, p.data(), static_cast<uint32_t>(p.size()), &m);
            // Matches of one gram count only within two grams of the end of the data.
            const uint32_t least = p.size() < 2 * SuffixMatcher::kGram ? SuffixMatcher::kGram : index.MinLength();
            if (longest < SuffixMatcher::kGram) {
                EXPECT_FALSE(found);
                continue;
            }
            if (longest < least && !found) continue;
            ASSERT_TRUE(found);
            EXPECT_EQ(m.length, longest);
            EXPECT_TRUE(std::equal(p.begin(), p.begin() + m.length, old.begin() + m.offset));
        }
    }
}

TEST(BuilderIndex, PagedOldDataMatchesAcrossPages) {
    TempDir dir;
    const uint32_t size = 3 * PagedOldData::kPageSize + 12345;
    Bytes old = RandomBytes(size, 8);
    WriteFileBytes(dir / "old", old);
    PagedOldData paged((dir / "old").c_str(), size, 2);
    MemoryOldData memory(old.data(), size);
    ASSERT_TRUE(paged.Ok());
    std::mt19937 rng(4);
    for (int probe = 0; probe < 200; ++probe) {
        const uint32_t at = rng() % size;
        const uint32_t len = std::min<uint32_t>(size - at, rng() % (3 * PagedOldData::kPageSize));
        Bytes p(old.begin() + at, old.begin() + at + len);
        if (len > 0 && rng() % 2) p[rng() % len] ^= 1;
        EXPECT_EQ(paged.CommonForward(at, p.data(), len), memory.CommonForward(at, p.data(), len));
        EXPECT_EQ(paged.CommonBackward(at + len, p.data() + len, len),
                  memory.CommonBackward(at + len, p.data() + len, len));
    }
    EXPECT_TRUE(paged.Ok());
}

TEST(BuilderIndex, MemoryLimitSwitchesToBlockHashes) {
    const Bytes old = Corpus(600000, 9);
    const Bytes neu = Edit(old, 10);
    DiffSettings settings;
    settings.memory_limit = 1u << 20;  // far below what a suffix array of the file takes
    settings.segment_bytes = 100000;
    DiffStats stats;
    const Bytes script = Script(old, neu, settings, &stats);
    EXPECT_TRUE(stats.block_index);
    EXPECT_LT(script.size(), neu.size() / 4);
    EXPECT_TRUE(Rebuilds(old, script, neu));
}


TEST(BuilderHistory, FindsTheLongestRepeatWithinOneRunAndReach) {
    LiteralHistory history;
    const Bytes a = RandomBytes(40, 1);
    const Bytes b = RandomBytes(40, 2);
    uint32_t distance = 0;
    EXPECT_EQ(history.Longest(a.data(), 40, &distance), 0u);

    // a, then a with its tail changed: the search prefers the full 40 bytes further back.
    Bytes a_changed = a;
    a_changed[20] ^= 0xFF;
    history.Add(a.data(), 40);
    history.Add(a_changed.data(), 40);
    EXPECT_EQ(history.Longest(a.data(), 40, &distance), 40u);
    EXPECT_EQ(distance, 80u);
    EXPECT_EQ(history.Longest(a.data(), 12, &distance), 12u);  // the limit holds
    EXPECT_EQ(distance, 40u);  // the nearest of the equal candidates
    EXPECT_EQ(history.Longest(a.data(), LiteralHistory::kMinMatch - 1, &distance), 0u);

    // A command between two runs: a string is not found across it.
    history.EndRun();
    history.Add(b.data(), 40);
    Bytes across(a_changed.end() - 10, a_changed.end());
    across.insert(across.end(), b.begin(), b.begin() + 10);
    EXPECT_EQ(history.Longest(across.data(), 20, &distance), 10u);

    // Beyond the reach (and across the compactions on the way) nothing old is found;
    // what came after them is.
    const Bytes filler = RandomBytes(3 * LiteralHistory::kReach, 3);
    for (size_t at = 0; at < filler.size(); at += 1000)
        history.Add(filler.data() + at, static_cast<uint32_t>(std::min<size_t>(1000, filler.size() - at)));
    EXPECT_EQ(history.Longest(a.data(), 40, &distance), 0u);
    const uint8_t* recent = filler.data() + filler.size() - 5000;
    EXPECT_EQ(history.Longest(recent, 300, &distance), LiteralHistory::kMaxMatch);
    EXPECT_EQ(distance, 5000u);
}
