// Tests of the package writer: the smallest command forms of the script encoder, the
// streamed file writer against the in-memory form in both outer forms, whole-buffer deflate.
#include <gtest/gtest.h>

#include <algorithm>

#include <zlib.h>

#include "package/deflate_whole.h"
#include "package/package.h"
#include "package/writer.h"
#include "package/zlib_stream.h"
#include "support/test_util.h"

TEST(ScriptWriter, PicksTheSmallestCommandForm) {
    const Bytes data = RandomBytes(70000, 4);
    struct Case {
        uint32_t count;
        uint8_t literal, near, far;
        size_t width;  // bytes of the count operand
    };
    for (const Case& c : {Case{1, kCmdLiteral8, kCmdCopyNear8, kCmdCopyFar8, 1},
                          Case{255, kCmdLiteral8, kCmdCopyNear8, kCmdCopyFar8, 1},
                          Case{256, kCmdLiteral16, kCmdCopyNear16, kCmdCopyFar16, 2},
                          Case{65535, kCmdLiteral16, kCmdCopyNear16, kCmdCopyFar16, 2},
                          Case{65536, kCmdLiteral32, kCmdCopyNear32, kCmdCopyFar32, 4}}) {
        ScriptWriter w;
        w.Literal(data.data(), c.count);
        ASSERT_EQ(w.bytes().size(), 1 + c.width + c.count);
        EXPECT_EQ(w.bytes()[0], c.literal);
        EXPECT_EQ(w.bytes()[1], static_cast<uint8_t>(c.count));
        EXPECT_TRUE(std::equal(data.begin(), data.begin() + c.count, w.bytes().begin() + 1 + c.width));

        // Operands little-endian: the count in the width of the chosen form.
        Bytes count_bytes;
        for (size_t i = 0; i < c.width; ++i) count_bytes.push_back(static_cast<uint8_t>(c.count >> (8 * i)));
        ScriptWriter n;
        n.CopyNear(0x1234, c.count);
        Bytes near = {c.near, 0x34, 0x12};
        near.insert(near.end(), count_bytes.begin(), count_bytes.end());
        EXPECT_EQ(n.bytes(), near);

        ScriptWriter f;
        f.CopyFar(0x89ABCDEFu, c.count);
        Bytes far = {c.far, 0xEF, 0xCD, 0xAB, 0x89};
        far.insert(far.end(), count_bytes.begin(), count_bytes.end());
        EXPECT_EQ(f.bytes(), far);
    }
    ScriptWriter w;
    w.Literal(data.data(), 0);  // nothing to append, no command
    w.SetOffsetHigh(2);
    w.CopyNear(16, 300);
    w.End();
    EXPECT_EQ(w.bytes(), (Bytes{kCmdSetOffsetHigh, 2, 0, kCmdCopyNear16, 16, 0, 0x2C, 0x01, kCmdEnd}));
}

TEST(PackageFileWriter, StreamsTheSamePackageAsTheInMemoryForm) {
    TempDir dir;
    PackageHeader header;
    header.title = "Writer";
    header.description = "Streamed front to back.";
    EntryRecord add;
    add.name = "Data\\big.bin";
    const Bytes content = RandomBytes(100000, 5);
    add.new_identity = {0x2B215800, static_cast<uint32_t>(content.size()), 0x4242};
    ScriptWriter script;
    script.Literal(content.data(), static_cast<uint32_t>(content.size()));
    script.End();
    const Bytes plain = BuildPackageBytes(header, {add}, {script.bytes()}, 0);

    // Level 12 holds the package and compresses it whole; with a small limit on what it
    // may hold it goes on as a zlib stream after the held part.
    struct Case {
        int level;
        size_t whole_limit;
    };
    for (const Case c : {Case{0, 0}, Case{1, 0}, Case{9, 0}, Case{12, 0}, Case{12, 30000}}) {
        const int level = c.level;
        SCOPED_TRACE(testing::Message() << level << " " << c.whole_limit);
        const std::string path = dir / ("w" + std::to_string(level) + "-" + std::to_string(c.whole_limit) + ".upg");
        PackageFileWriter writer;
        if (c.whole_limit > 0) writer.SetWholeLimit(c.whole_limit);
        std::string error;
        ASSERT_TRUE(writer.Open(path.c_str(), level, &error)) << error;
        writer.WriteHeader(header, {add});
        // The script in uneven pieces, as a builder produces it.
        const Bytes& s = script.bytes();
        for (size_t at = 0; at < s.size(); at += 7777) writer.WriteBytes(s.data() + at, std::min<size_t>(7777, s.size() - at));
        ASSERT_TRUE(writer.Finish(&error)) << error;
        EXPECT_EQ(writer.PlainBytesWritten(), plain.size());

        const Bytes file = ReadFileBytes(path);
        if (level == 0) {
            EXPECT_EQ(file, plain);
        } else {
            EXPECT_LT(file.size(), plain.size() + 100);
            TCVLFlatRamStream source(static_cast<uint32_t>(file.size()), 0);
            source.Write(file.data(), static_cast<uint32_t>(file.size()));
            TCVLZLibInStream inflating(&source, false);
            Bytes back(plain.size() + 1);
            back.resize(inflating.Read(back.data(), static_cast<uint32_t>(back.size())));
            EXPECT_EQ(back, plain);
            EXPECT_FALSE(inflating.HasError());
        }
        auto p = UpgradePackage::OpenFull(path.c_str(), dir.Path().c_str());
        ASSERT_TRUE(p->IsValid()) << p->RefusalReason();
        EXPECT_EQ(p->ProgressTotal, content.size() + 1);
    }
}

TEST(PackageFileWriter, ReportsFilesThatCannotBeWritten) {
    TempDir dir;
    PackageFileWriter writer;
    std::string error;
    EXPECT_FALSE(writer.Open((dir / "no\\such\\folder\\p.upg").c_str(), 0, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(writer.Open((dir / "p.upg").c_str(), 13, &error));
    EXPECT_FALSE(error.empty());
    error.clear();
    EXPECT_FALSE(writer.Finish(&error)) << "nothing was opened";
    EXPECT_FALSE(error.empty());
}

TEST(CompressWhole, WritesZlibStreamsThatInflateAndTheStrongLevelsAreSmaller) {
    // Text-like data with repeats at many distances, where a harder search pays.
    Bytes data;
    const Bytes words = RandomBytes(4000, 9);
    for (uint32_t i = 0; data.size() < 400000; ++i) {
        const size_t at = (i * 2654435761u) % (words.size() - 40);
        data.insert(data.end(), words.begin() + at, words.begin() + at + 3 + i % 37);
    }
    size_t sizes[kMaxCompressionLevel + 1] = {};
    for (int level : {1, 9, 12}) {
        SCOPED_TRACE(level);
        Bytes packed = {0xAA};  // appended after what is there
        ASSERT_TRUE(CompressWhole(data.data(), data.size(), level, &packed));
        ASSERT_EQ(packed[0], 0xAA);
        uLongf back_len = static_cast<uLongf>(data.size());
        Bytes back(data.size());
        ASSERT_EQ(uncompress(back.data(), &back_len, packed.data() + 1, static_cast<uLong>(packed.size() - 1)), Z_OK);
        back.resize(back_len);
        EXPECT_EQ(back, data);
        sizes[level] = packed.size();
    }
    EXPECT_LT(sizes[9], sizes[1]);
    if (HaveStrongDeflate())
        EXPECT_LT(sizes[12], sizes[9]);
    else
        EXPECT_EQ(sizes[12], sizes[9]);
}
