// Tests of the stream family: the error flag, the per-class seek and read rules, the string
// and line readers, the copy helpers, and the file stream with and without its buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "io/os.h"
#include "io/stream.h"
#include "support/test_util.h"

namespace {

// A memory stream that records the size of every Read asked of it.
class RecordingStream : public TCVLFlatRamStream {
public:
    RecordingStream(uint32_t capacity, uint32_t step) : TCVLFlatRamStream(capacity, step) {}
    uint32_t Read(void* buf, uint32_t count) override {
        reads.push_back(count);
        return TCVLFlatRamStream::Read(buf, count);
    }
    std::vector<uint32_t> reads;
};

Bytes Contents(TCVLFlatRamStream& s) { return Bytes(s.Data(), s.Data() + s.Size()); }

// ---- Base, sizer and memory streams ----

TEST(Stream, BaseStreamFailsEveryAccess) {
    TCVLStream s;
    EXPECT_EQ(s.GetByte(), 0);
    EXPECT_TRUE(s.HasError());
    s.Rewind();  // clears the flag, then the failing Seek sets it again
    EXPECT_TRUE(s.HasError());
    uint8_t buf[4] = {9, 9, 9, 9};
    EXPECT_EQ(s.Read(buf, 4), 0u);
}

TEST(Stream, SizerMeasuresAndReadsZeros) {
    TCVLSizerStream s;
    s.WriteString("abc");
    s.WriteU32(7);
    EXPECT_EQ(s.Size(), 8u);
    EXPECT_EQ(s.Tell(), 8u);
    EXPECT_FALSE(s.Seek(9));
    EXPECT_FALSE(s.HasError()) << "a refused seek leaves the flag alone";
    ASSERT_TRUE(s.Seek(6));
    uint8_t buf[4] = {1, 1, 1, 1};
    EXPECT_EQ(s.Read(buf, 4), 2u);
    EXPECT_EQ(buf[0], 0);
    EXPECT_TRUE(s.HasError());
    s.Clear();
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_FALSE(s.HasError());
}

TEST(Stream, RamSeekToEndAndBeyond) {
    uint8_t data[5] = {1, 2, 3, 4, 5};
    TCVLFlatRamStream s(data, 5, 5);
    EXPECT_TRUE(s.Seek(5));
    EXPECT_EQ(s.GetByte(), 0);
    EXPECT_TRUE(s.HasError());
    s.Rewind();
    EXPECT_FALSE(s.Seek(6));
    EXPECT_FALSE(s.HasError());
    EXPECT_EQ(s.Tell(), 0u);
    EXPECT_EQ(s.GetByte(), 1);
}

TEST(Stream, RamGrowSteps) {
    struct Case {
        uint32_t step;
        uint32_t capacity_after;
        bool error;
    };
    for (Case c : {Case{0, 10, true}, Case{4, 14, false}, Case{16, 16, false}}) {
        TCVLFlatRamStream s(10, c.step);
        for (int i = 0; i < 10; ++i) s.PutByte(static_cast<uint8_t>(i));
        EXPECT_FALSE(s.HasError());
        s.PutByte(42);
        EXPECT_EQ(s.HasError(), c.error) << "step " << c.step;
        EXPECT_EQ(s.Capacity(), c.capacity_after) << "step " << c.step;
        EXPECT_EQ(s.Size(), c.error ? 10u : 11u);
        if (!c.error) {
            EXPECT_EQ(s.Data()[10], 42);
        }
        EXPECT_EQ(s.Data()[9], 9);
    }
    TCVLFlatRamStream empty;
    empty.PutByte(1);
    EXPECT_TRUE(empty.HasError());
    EXPECT_EQ(empty.Size(), 0u);
}

TEST(Stream, RamClearKeepsCapacityAndZeroFill) {
    TCVLFlatRamStream s(8, 8);
    s.WriteString("0123456789");
    ASSERT_EQ(s.Capacity(), 16u);
    s.Clear();
    EXPECT_EQ(s.Size(), 0u);
    EXPECT_EQ(s.Capacity(), 16u);
    s.WriteString("xy");
    s.ZeroFill(5);
    EXPECT_EQ(s.Tell(), 0u);
    EXPECT_EQ(Contents(s), Bytes(5, 0));
}

TEST(Stream, ReadStopsAtErrorWhichIsSticky) {
    uint8_t data[3] = {7, 8, 9};
    TCVLFlatRamStream s(data, 3, 3);
    uint8_t buf[5] = {};
    EXPECT_EQ(s.Read(buf, 5), 3u);
    EXPECT_TRUE(s.HasError());
    ASSERT_TRUE(s.Seek(0));
    EXPECT_EQ(s.Read(buf, 1), 0u) << "Seek does not clear the flag";
    s.Rewind();
    EXPECT_EQ(s.Read(buf, 1), 1u);
}

TEST(Stream, IntegersLittleEndianShortDataZeroFilled) {
    TCVLFlatRamStream s(4, 4);
    s.WriteU16(0xBEEF);
    s.WriteU32(0x01020304);
    EXPECT_EQ(Contents(s), (Bytes{0xEF, 0xBE, 4, 3, 2, 1}));
    s.Rewind();
    EXPECT_EQ(s.ReadU16(), 0xBEEF);
    ASSERT_TRUE(s.Seek(3));
    EXPECT_EQ(s.ReadU32(), 0x00010203u) << "3 bytes left: the missing top byte is 0";
    EXPECT_TRUE(s.HasError());
    EXPECT_EQ(s.ReadU16(), 0);
}

// ---- Strings, lines, text ----

TEST(Stream, ReadStringCutsAndConsumesTheRest) {
    TCVLFlatRamStream s(16, 64);
    std::string hundred(100, 'q');
    hundred[78] = 'A';
    hundred[79] = 'B';
    s.WriteString(hundred.c_str());
    s.PutByte('Z');
    s.Rewind();
    char buf[80];
    s.ReadString(buf, sizeof buf);
    EXPECT_EQ(std::string(buf), hundred.substr(0, 79));
    EXPECT_EQ(s.Tell(), 101u);
    EXPECT_EQ(s.GetByte(), 'Z');
    s.ReadString(buf, sizeof buf);  // the end of data terminates
    EXPECT_STREQ(buf, "");
    EXPECT_TRUE(s.HasError());
}

TEST(Stream, ReadLineSplitsOnLfSkipsCrAndCountsLongLines) {
    const char text[] = "ab\r\ncd";
    TCVLFlatRamStream s(const_cast<char*>(text), 6, 6);
    char buf[10];
    EXPECT_EQ(s.ReadLine(buf, sizeof buf), 2u);
    EXPECT_STREQ(buf, "ab");
    EXPECT_EQ(s.ReadLine(buf, sizeof buf), 2u);
    EXPECT_STREQ(buf, "cd");

    const char longer[] = "0123456789ABCDEF\nx";
    TCVLFlatRamStream t(const_cast<char*>(longer), 18, 18);
    char small[5];
    EXPECT_EQ(t.ReadLine(small, sizeof small), 16u);
    EXPECT_STREQ(small, "0123");
    EXPECT_EQ(t.ReadLine(small, sizeof small), 1u);
    EXPECT_STREQ(small, "x");
}

TEST(Stream, WriteFormattedPutsCrBeforeLfAndCutsAt255) {
    TCVLFlatRamStream s(16, 512);
    s.WriteFormatted("a\nb%d\n", 7);
    EXPECT_EQ(FromBytes(Contents(s)), "a\r\nb7\r\n");
    s.Clear();
    std::string many(300, 'm');
    s.WriteFormatted("%s", many.c_str());
    EXPECT_EQ(s.Size(), 255u);
}

TEST(Stream, RealsRoundTripAndLongTextIsCut) {
    TCVLFlatRamStream s(16, 64);
    s.WriteReal(-2.5f, 3);
    s.WriteReal(3.14159f, 2);
    EXPECT_EQ(FromBytes(Contents(s)), std::string("-2.500\0" "3.14\0", 12));
    s.Rewind();
    EXPECT_FLOAT_EQ(s.ReadReal(), -2.5f);
    EXPECT_FLOAT_EQ(s.ReadReal(), 3.14f);
    s.Clear();
    s.WriteReal(3.0e38f, 5);  // 45 characters formatted: cut to the 40-byte buffer
    EXPECT_EQ(s.Size(), 40u);
    EXPECT_EQ(s.Data()[39], 0);
}

// ---- Copies ----

TEST(Stream, CopyBytesChunksAndStops) {
    Bytes data = RandomBytes(100000, 1);
    RecordingStream src(16, 4096);
    src.Write(data.data(), static_cast<uint32_t>(data.size()));
    src.Rewind();
    TCVLFlatRamStream dst(16, 4096);
    EXPECT_EQ(CopyBytes(dst, src, 0), 0u);
    EXPECT_EQ(dst.Size(), 0u);
    src.reads.clear();
    EXPECT_EQ(CopyBytes(dst, src, 70000), 70000u);
    EXPECT_EQ(src.reads, (std::vector<uint32_t>{32000, 32000, 6000}));
    EXPECT_EQ(Contents(dst), Bytes(data.begin(), data.begin() + 70000));
    EXPECT_EQ(src.Tell(), 70000u);

    // A short source ends the copy.
    EXPECT_EQ(CopyBytes(dst, src, 70000), 30000u);
    // A destination in error ends it after the first chunk.
    TCVLFlatRamStream full(10, 0);
    src.Rewind();
    src.reads.clear();
    CopyBytes(full, src, 70000);
    EXPECT_EQ(src.reads.size(), 1u);
    EXPECT_TRUE(full.HasError());
}

TEST(Stream, CopyAllRewindsTheSource) {
    Bytes data = RandomBytes(64000, 2);
    RecordingStream src(16, 4096);
    src.Write(data.data(), static_cast<uint32_t>(data.size()));
    src.GetByte();  // at the end: error set, rewind must clear it
    TCVLFlatRamStream dst(0, 1024);
    CopyAll(dst, src);
    EXPECT_EQ(Contents(dst), data);
    EXPECT_EQ(src.reads, (std::vector<uint32_t>{32000, 32000, 32000}));
}

// ---- File stream ----

class FileStream : public ::testing::TestWithParam<uint32_t> {
protected:
    void Prepare(TCVLFStream& s) {
        if (GetParam()) s.EnableBuffering(GetParam());
    }
    TempDir dir;
};

TEST_P(FileStream, MissingFileFailsEverything) {
    TCVLFStream s(TCVLFStream::ModeRead, (dir / "missing.bin").c_str());
    Prepare(s);
    EXPECT_TRUE(s.HasError());
    EXPECT_FALSE(s.IsOpen());
    EXPECT_EQ(s.GetByte(), 0);
    uint8_t buf[8];
    EXPECT_EQ(s.Read(buf, 8), 0u);
    s.Rewind();
    EXPECT_TRUE(s.HasError());
    s.PutByte(1);
    s.Write(buf, 8);
    EXPECT_EQ(s.Tell(), 0u);
    uint32_t stamp = 5;
    EXPECT_FALSE(s.GetFileStamp(&stamp));
    EXPECT_EQ(stamp, 0u);
    EXPECT_FALSE(FileExists(dir / "missing.bin"));

    TCVLFStream rw(TCVLFStream::ModeReadWrite, (dir / "missing.bin").c_str());
    EXPECT_TRUE(rw.HasError());
    EXPECT_FALSE(FileExists(dir / "missing.bin"));

    // A later successful Open clears the flag.
    WriteFileText(dir / "there.txt", "x");
    s.Open(TCVLFStream::ModeRead, (dir / "there.txt").c_str());
    EXPECT_FALSE(s.HasError());
    EXPECT_EQ(s.GetByte(), 'x');
}

TEST_P(FileStream, WriteTruncatesReadEndsAndClearOnlyRewinds) {
    std::string path = dir / "f.bin";
    WriteFileText(path, "old content that is long");
    {
        TCVLFStream s(TCVLFStream::ModeWrite, path.c_str());
        Prepare(s);
        ASSERT_FALSE(s.HasError());
        EXPECT_EQ(s.Size(), 0u);
        s.WriteString("hi");
        s.WriteU16(0x0A0D);
        EXPECT_EQ(s.Size(), 5u);
        EXPECT_EQ(s.Tell(), 5u);
    }
    EXPECT_EQ(ReadFileBytes(path), (Bytes{'h', 'i', 0, 0x0D, 0x0A}));
    {
        TCVLFStream s(TCVLFStream::ModeRead, path.c_str());
        Prepare(s);
        uint8_t buf[10];
        EXPECT_EQ(s.Read(buf, 10), 5u);
        EXPECT_FALSE(s.HasError()) << "a short read is no error";
        EXPECT_EQ(s.GetByte(), 0);
        EXPECT_TRUE(s.HasError()) << "GetByte at the end is";
        s.Clear();
        EXPECT_FALSE(s.HasError());
        EXPECT_EQ(s.Size(), 5u);
        EXPECT_EQ(s.GetByte(), 'h');
        EXPECT_TRUE(s.SeekRelative(2));
        EXPECT_EQ(s.GetByte(), 0x0D);
        EXPECT_TRUE(s.SeekRelative(-3));
        EXPECT_EQ(s.GetByte(), 'i');
        EXPECT_FALSE(s.SeekRelative(-10));
        EXPECT_TRUE(s.HasError());
        s.PutByte(1);  // a file opened for reading refuses writes
        EXPECT_TRUE(s.HasError());
    }
    EXPECT_EQ(ReadFileBytes(path).size(), 5u);
}

TEST_P(FileStream, StampSetThroughReadWriteOnly) {
    std::string path = dir / "stamp.bin";
    WriteFileText(path, "data");
    uint32_t summer = DosStamp(2021, 7, 15, 13, 45, 58);
    {
        TCVLFStream s(TCVLFStream::ModeRead, path.c_str());
        Prepare(s);
        EXPECT_FALSE(s.SetFileStamp(summer));
    }
    {
        TCVLFStream s(TCVLFStream::ModeReadWrite, path.c_str());
        Prepare(s);
        s.Seek(4);
        s.WriteString("more");  // buffered bytes must land before the stamp is set
        EXPECT_TRUE(s.SetFileStamp(summer));
    }
    TCVLFStream s(TCVLFStream::ModeRead, path.c_str());
    uint32_t stamp = 0;
    EXPECT_TRUE(s.GetFileStamp(&stamp));
    EXPECT_EQ(stamp, summer);
    EXPECT_EQ(s.Size(), 9u);
}

TEST_P(FileStream, ByteWiseCopyInSmallChunks) {
    std::string from = dir / "from.bin", to = dir / "to.bin";
    Bytes data = RandomBytes(5000, 3);
    WriteFileBytes(from, data);
    {
        TCVLFStream src(TCVLFStream::ModeRead, from.c_str()), dst(TCVLFStream::ModeWrite, to.c_str());
        Prepare(src);
        Prepare(dst);
        uint32_t total = 0, k;
        while ((k = CopyBytes(dst, src, 256)) > 0) total += k;
        EXPECT_EQ(total, 5000u);
        EXPECT_EQ(dst.Size(), 5000u) << "Size sees the buffered writes";
        EXPECT_FALSE(dst.HasError());
    }
    EXPECT_EQ(ReadFileBytes(to), data);
}

INSTANTIATE_TEST_SUITE_P(Buffering, FileStream, ::testing::Values(0u, 1u, 7u, 256u, 4096u));

// The buffered stream must give exactly the answers of the unbuffered one on the same
// operations: every result, the error flag after each step, and the final file.
// Runs one pseudo-random operation on the stream and describes its result and the flag.
// Seeks reach up to `span` bytes.
std::string Step(TCVLFStream& s, uint32_t op, uint32_t arg, const Bytes& data, uint32_t span) {
    uint32_t len = static_cast<uint32_t>(data.size());
    std::string r;
    switch (op) {
    case 0: s.PutByte(static_cast<uint8_t>(arg)); break;
    case 1: s.Write(data.data(), len); break;
    case 2: r = std::to_string(s.GetByte()); break;
    case 3: {
        Bytes got(len + 1, 0xEE);
        uint32_t n = s.Read(got.data(), len);
        r = std::to_string(n) + ":" + FromBytes(Bytes(got.begin(), got.begin() + n));
        break;
    }
    case 4: r = std::to_string(s.Seek(arg % span)); break;
    case 5: r = std::to_string(s.SeekRelative(static_cast<int32_t>(arg % 1200) - 600)); break;
    case 6: r = std::to_string(s.Tell()); break;
    case 7: r = std::to_string(s.Size()); break;
    case 8: if (arg % 4 == 0) s.Rewind(); else s.Sync(); break;
    case 9: r = std::to_string(s.ReadU32()); break;
    case 10: {  // near the edges of the buffer
        uint32_t near = s.Tell() + arg % 20;
        r = std::to_string(s.Seek(near >= 10 ? near - 10 : 0));
        break;
    }
    default: r = std::to_string(s.GetByte()) + std::to_string(s.GetByte()); break;
    }
    return std::to_string(op) + "=" + r + " e" + std::to_string(s.HasError());
}

// The buffered stream must give exactly the answers of the unbuffered one on the same
// operations: every result, the error flag after each step, and the final file.
TEST(FileStreamBuffer, MatchesUnbuffered) {
    TempDir dir;
    // 20000: a buffer much longer than the reads after a seek, which then read less ahead.
    for (uint32_t size : {1u, 2u, 7u, 256u, 4096u, 20000u}) {
        const uint32_t length = size > 4096 ? 60000 : 3000;
        for (int mode : {TCVLFStream::ModeReadWrite, TCVLFStream::ModeRead, TCVLFStream::ModeWrite}) {
            std::string name = std::to_string(mode) + "-" + std::to_string(size);
            std::string pa = dir / ("plain" + name), pb = dir / ("buffered" + name);
            WriteFileBytes(pa, RandomBytes(length, 7));
            WriteFileBytes(pb, RandomBytes(length, 7));
            {
                TCVLFStream a(mode, pa.c_str()), b(mode, pb.c_str());
                b.EnableBuffering(size);
                std::mt19937 rng(size * 31 + static_cast<uint32_t>(mode));
                for (int step = 0; step < 1500; ++step) {
                    uint32_t op = rng() % 12, arg = rng();
                    Bytes data = RandomBytes(rng() % 700, arg);
                    ASSERT_EQ(Step(a, op, arg, data, length + 1000), Step(b, op, arg, data, length + 1000))
                        << name << " step " << step;
                }
            }
            EXPECT_EQ(ReadFileBytes(pa), ReadFileBytes(pb)) << name;
        }
    }
}

}  // namespace
