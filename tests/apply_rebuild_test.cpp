// The rebuild-script interpreter: commands and their operands, the near-copy base, the
// no-seek position, skipped entries, chunking with progress and cancel, and the
// percentage.
#include <gtest/gtest.h>

#include "apply/driver.h"
#include "apply/progress.h"
#include "apply/rebuild.h"
#include "io/stream.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace {

// A package of Add records, one per script, opened so that its stream stands at the first
// script. Record sizes do not matter to the interpreter.
class ScriptPackage {
public:
    explicit ScriptPackage(const std::vector<Bytes>& scripts, ApplyFrontEnd* frontend = nullptr) {
        PackagePlan plan;
        for (size_t i = 0; i < scripts.size(); ++i) {
            EntryRecord r;
            r.operation = kOpAdd;
            r.name = "f" + std::to_string(i);
            r.new_identity.size = 100;
            plan.Raw(r, scripts[i]);
        }
        std::string path = dir_ / "s.upg";
        plan.Write(path);
        package = OpenForApply(path, dir_.Path());
        EXPECT_TRUE(package->IsValid());
        lend.reset(new FrontEndScope(*package, frontend));
        ResetProgressState();
    }
    std::unique_ptr<UpgradePackage> package;
    std::unique_ptr<FrontEndScope> lend;  // gone before the package

private:
    TempDir dir_;
};

class MemoryOut {
public:
    TCVLFlatRamStream stream{16, 4096};
    std::string Text() { return std::string(reinterpret_cast<const char*>(stream.Data()), stream.Size()); }
};

std::string BuildWith(const Bytes& script, const std::string& old_text) {
    ScriptPackage p({script});
    std::string old_copy = old_text;
    TCVLFlatRamStream old_file(&old_copy[0], static_cast<uint32_t>(old_copy.size()),
                               static_cast<uint32_t>(old_copy.size()));
    MemoryOut out;
    EXPECT_EQ(ReconstructFile(*p.package, &old_file, &out.stream), 0);
    return out.Text();
}

}  // namespace

TEST(ReconstructTest, CommandsBuildTheDocumentedExamples) {
    EXPECT_EQ(BuildWith({0x05, 0x02, 0x00, 0x03, 0x01, 0x02, 'x', 'y', 0x00}, "ABCDEFGH"), "CDExy");
    // Literal16 and Literal32 carry their counts little-endian.
    EXPECT_EQ(BuildWith({0x02, 0x03, 0x00, 'a', 'b', 'c', 0x03, 0x02, 0x00, 0x00, 0x00, 'd', 'e', 0x00}, ""), "abcde");
    // CopyNear16 / CopyNear32 / CopyFar8 / CopyFar16 / CopyFar32.
    EXPECT_EQ(BuildWith({0x06, 0x01, 0x00, 0x02, 0x00,                    // BC
                   0x07, 0x06, 0x00, 0x02, 0x00, 0x00, 0x00,        // GH
                   0x08, 0x00, 0x00, 0x00, 0x00, 0x01,              // A
                   0x09, 0x03, 0x00, 0x00, 0x00, 0x01, 0x00,        // D
                   0x0A, 0x04, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00,  // E
                   0x00},
                  "ABCDEFGH"),
              "BCGHADE");
    // Opcodes 11 to 255 take no operands.
    EXPECT_EQ(BuildWith({11, 200, 255, 0x01, 0x01, 'z', 12, 0x00}, "ABCDEFGH"), "z");
    // Opcode 1 with n = 0 copies nothing; opcode 5 with n = 0 still seeks, and a copy at
    // position 0xFFFFFFFF continues from there.
    EXPECT_EQ(BuildWith({0x01, 0x00, 0x05, 0x04, 0x00, 0x00, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x02, 0x00}, "ABCDEFGH"),
              "EF");
    // No seek continues where the previous copy ended.
    EXPECT_EQ(BuildWith({0x05, 0x01, 0x00, 0x02, 0x08, 0xFF, 0xFF, 0xFF, 0xFF, 0x03, 0x00}, "ABCDEFGH"), "BCDEF");
    // A copy beyond the end of the old file writes only what could be read.
    EXPECT_EQ(BuildWith({0x05, 0x06, 0x00, 0x09, 0x01, 0x01, '!', 0x00}, "ABCDEFGH"), "GH!");
    // A script cut off by the end of the package ends the entry.
    EXPECT_EQ(BuildWith({0x01, 0x02, 'o', 'k'}, ""), "ok");
}

// A memory stream that counts its reads: the work a script costs.
class CountingStream : public TCVLFlatRamStream {
public:
    using TCVLFlatRamStream::TCVLFlatRamStream;
    uint32_t Read(void* buf, uint32_t count) override {
        ++reads;
        return TCVLFlatRamStream::Read(buf, count);
    }
    int reads = 0;
};

// Tiny hostile scripts must not cost more than the old file, the package and the entry's
// new size allow: copies of 4 GiB past the end of the old file, a literal that claims more
// than the package holds, and output beyond the new size.
TEST(ReconstructTest, WorkIsBoundedByTheOldFileThePackageAndTheNewSize) {
    std::string old_text(10 * 1024, 'o');
    {
        ScriptWriter w;
        for (int i = 0; i < 3; ++i) w.CopyFar(9 * 1024, 0xFFFFFFFFu);
        w.Literal(std::string("!"));
        w.End();
        ScriptPackage p({w.bytes()});
        CountingStream old_file(&old_text[0], static_cast<uint32_t>(old_text.size()),
                                static_cast<uint32_t>(old_text.size()));
        MemoryOut out;
        EXPECT_EQ(ReconstructFile(*p.package, &old_file, &out.stream), 0);
        const std::string text = out.Text();
        EXPECT_EQ(text.substr(0, 1024), std::string(1024, 'o'));
        EXPECT_EQ(text.back(), '!');
        EXPECT_LE(old_file.reads, 3 * (1024 / 256 + 1)) << "each copy stops at the end of the old file";
    }
    {
        // Literal32 of 4 GiB with 3 bytes behind it, then the package ends.
        ScriptPackage p({{0x03, 0xFF, 0xFF, 0xFF, 0xFF, 'a', 'b', 'c'}});
        MemoryOut out;
        EXPECT_EQ(ReconstructFile(*p.package, nullptr, &out.stream), 0);
        EXPECT_EQ(out.Text(), "abc");
    }
    {
        // Output past the new size can never pass: the output gets its error, later copies
        // read nothing, and the next entry's script still starts in the right place.
        ScriptWriter big;
        big.Literal(Bytes(1000, 'L').data(), 1000);
        big.CopyFar(0, 5000);
        big.End();
        ScriptWriter next;
        next.Literal(std::string("next"));
        next.End();
        ScriptPackage p({big.bytes(), next.bytes()});
        CountingStream old_file(&old_text[0], static_cast<uint32_t>(old_text.size()),
                                static_cast<uint32_t>(old_text.size()));
        MemoryOut out;
        EXPECT_EQ(ReconstructFile(*p.package, &old_file, &out.stream, 600), 0);
        EXPECT_TRUE(out.stream.HasError());
        EXPECT_LE(out.stream.Size(), 600u);
        EXPECT_EQ(old_file.reads, 0);
        EXPECT_EQ(p.package->ProgressDone, 1 + 1000 + 5000) << "progress still counts every byte";
        MemoryOut second;
        EXPECT_EQ(ReconstructFile(*p.package, &old_file, &second.stream, 4), 0);
        EXPECT_EQ(second.Text(), "next");
        EXPECT_FALSE(second.stream.HasError()) << "exactly the new size is fine";
    }
}

TEST(ReconstructTest, NearCopiesUseTheHighOffsetBase) {
    std::string old_text(0x10010, '.');
    old_text[0x10000] = 'H';
    old_text[0x10001] = 'I';
    old_text[0x10004] = 'F';
    old_text[0] = 'Z';
    EXPECT_EQ(BuildWith({0x04, 0x01, 0x00, 0x05, 0x00, 0x00, 0x02, 0x00}, old_text), "HI");
    // A far copy ignores the base; later near copies keep it.
    EXPECT_EQ(BuildWith({0x04, 0x01, 0x00, 0x08, 0x00, 0x00, 0x00, 0x00, 0x01, 0x05, 0x04, 0x00, 0x01, 0x00}, old_text),
              "ZF");
    // base + lo = 0xFFFFFFFF also means no seek.
    EXPECT_EQ(BuildWith({0x05, 0x00, 0x00, 0x01, 0x04, 0xFF, 0xFF, 0x05, 0xFF, 0xFF, 0x02, 0x00}, "ABCDEFGH"), "ABC");

    // The base does not carry over to the next entry's script.
    ScriptPackage p({{0x04, 0x01, 0x00, 0x00}, {0x05, 0x00, 0x00, 0x01, 0x00}});
    TCVLFlatRamStream old_file(&old_text[0], static_cast<uint32_t>(old_text.size()),
                               static_cast<uint32_t>(old_text.size()));
    MemoryOut first, second;
    EXPECT_EQ(ReconstructFile(*p.package, &old_file, &first.stream), 0);
    EXPECT_EQ(ReconstructFile(*p.package, &old_file, &second.stream), 0);
    EXPECT_EQ(first.Text(), "");
    EXPECT_EQ(second.Text(), "Z");
}

TEST(ReconstructTest, SkippedEntriesConsumeTheirScripts) {
    // A skipped Update (no streams): its literals are read and dropped, its copies pass
    // over nothing, and the progress still advances by every count.
    Bytes literal(700, 'q');
    ScriptWriter skipped;
    skipped.CopyFar(2, 300);
    skipped.Literal(literal.data(), 700);
    skipped.End();
    ScriptWriter next;
    next.Literal(std::string("next"));
    next.CopyFar(0, 3);
    next.End();
    ScriptPackage p({skipped.bytes(), next.bytes()});
    EXPECT_EQ(ReconstructFile(*p.package, nullptr, nullptr), 0);
    EXPECT_EQ(p.package->ProgressDone, 1 + 300 + 700);

    std::string old_text = "ABCDEFGH";
    TCVLFlatRamStream old_file(&old_text[0], 8, 8);
    MemoryOut out;
    EXPECT_EQ(ReconstructFile(*p.package, &old_file, &out.stream), 0);
    EXPECT_EQ(out.Text(), "nextABC");

    // The single byte 0: an empty file and no progress.
    ScriptPackage empty(std::vector<Bytes>{Bytes{0x00}});
    MemoryOut nothing;
    EXPECT_EQ(ReconstructFile(*empty.package, nullptr, &nothing.stream), 0);
    EXPECT_EQ(nothing.Text(), "");
    EXPECT_EQ(empty.package->ProgressDone, 1);
}

TEST(ReconstructTest, LongLiteralsMoveIn256ByteChunksWithProgressAndPolls) {
    FakeFrontEnd fe;
    Bytes data = RandomBytes(600, 11);
    ScriptWriter w;
    w.Literal(data.data(), 600);
    w.End();
    ScriptPackage p({w.bytes()}, &fe);
    std::vector<int32_t> done_at_poll;
    fe.on_pump = [&] { done_at_poll.push_back(p.package->ProgressDone); };
    MemoryOut out;
    EXPECT_EQ(ReconstructFile(*p.package, nullptr, &out.stream), 0);
    EXPECT_EQ(done_at_poll, (std::vector<int32_t>{1 + 256, 1 + 512, 1 + 600}));
    EXPECT_EQ(out.Text(), FromBytes(data));
}

TEST(ReconstructTest, PercentageRunsFromOneToHundred) {
    FakeFrontEnd fe;
    Bytes data(10000, 'p');
    ScriptWriter w;
    w.Literal(data.data(), 10000);
    w.End();
    ScriptPackage p({w.bytes()}, &fe);
    p.package->ProgressTotal = 1 + 10000;
    MemoryOut out;
    EXPECT_EQ(ReconstructFile(*p.package, nullptr, &out.stream), 0);
    ASSERT_FALSE(fe.percents.empty());
    EXPECT_EQ(fe.percents.front(), 1);
    EXPECT_EQ(fe.percents.back(), 100);
    for (size_t i = 1; i < fe.percents.size(); ++i) EXPECT_GT(fe.percents[i], fe.percents[i - 1]);
    EXPECT_EQ(ProgressPercent, 100);

    // Far past the total the percentage stays at 100 and is not painted again.
    size_t painted = fe.percents.size();
    p.package->ProgressDone = 3000000;
    UpdateProgress(*p.package);
    EXPECT_EQ(fe.percents.size(), painted);
    EXPECT_EQ(ProgressPercent, 100);
}

TEST(ReconstructTest, CancelBetweenChunks) {
    Bytes data(1000, 'c');
    ScriptWriter w;
    w.Literal(data.data(), 1000);
    w.End();
    {
        // Answered Yes at the second chunk: the call returns at once, and every later
        // poll reports the abort without asking.
        FakeFrontEnd fe;
        ScriptPackage p({w.bytes()}, &fe);
        fe.cancel_at_pump = 2;
        fe.answers = {true};
        MemoryOut out;
        EXPECT_NE(ReconstructFile(*p.package, nullptr, &out.stream), 0);
        EXPECT_EQ(out.Text().size(), 512u);
        ASSERT_EQ(fe.questions.size(), 1u);
        EXPECT_EQ(fe.questions[0].caption, kLine[3]);
        EXPECT_EQ(fe.questions[0].text, kLine[8]);
        EXPECT_EQ(Aborted, 1);
        EXPECT_TRUE(PollCancel(*p.package));
        EXPECT_EQ(fe.questions.size(), 1u);
    }
    {
        // Answered No: the request is withdrawn and the file is built to its end.
        FakeFrontEnd fe;
        ScriptPackage p({w.bytes()}, &fe);
        fe.cancel_at_pump = 2;
        fe.answers = {false};
        MemoryOut out;
        EXPECT_EQ(ReconstructFile(*p.package, nullptr, &out.stream), 0);
        EXPECT_EQ(out.Text().size(), 1000u);
        EXPECT_EQ(fe.questions.size(), 1u);
        EXPECT_EQ(CancelRequested, 0);
        EXPECT_EQ(Aborted, 0);
    }
    {
        // Without a front end only Aborted counts.
        ScriptPackage p({w.bytes()});
        CancelRequested = 1;
        EXPECT_FALSE(PollCancel(*p.package));
        SetAbort(*p.package);
        EXPECT_TRUE(PollCancel(*p.package));
        ResetProgressState();
    }
}

TEST(ReconstructTest, PacingPollsWhileThePercentageChanges) {
    Bytes data(300, 'a');
    ScriptWriter w;
    w.Literal(data.data(), 300);
    w.End();
    {
        FakeFrontEnd fe;  // no pacing: one poll per chunk
        ScriptPackage p({w.bytes()}, &fe);
        MemoryOut out;
        ReconstructFile(*p.package, nullptr, &out.stream);
        EXPECT_EQ(fe.pumps, 2);
    }
    {
        FakeFrontEnd fe;
        fe.pacing = true;
        ScriptPackage p({w.bytes()}, &fe);
        MemoryOut out;
        uint32_t start = os::TickCount();
        ReconstructFile(*p.package, nullptr, &out.stream);
        EXPECT_GT(fe.pumps, 2);
        EXPECT_LT(os::TickCount() - start, 5000u);
        // A cancel answered Yes ends the pause at once.
        fe.cancel_at_pump = fe.pumps + 1;
        fe.answers = {true};
        start = os::TickCount();
        PauseWithPolling(*p.package, 10000);
        EXPECT_LT(os::TickCount() - start, 5000u);
        EXPECT_EQ(Aborted, 1);
        ResetProgressState();
    }
}
