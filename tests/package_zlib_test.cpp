// Tests of the inflating stream: complete delivery across many windows, clean and faulty
// ends of the compressed data, restarts on backward seeks, and the marker test.
#include <gtest/gtest.h>
#include <zlib.h>

#include <memory>

#include "package/format.h"
#include "package/zlib_stream.h"
#include "support/test_util.h"

namespace {

// "[QXZ]", its NUL and one zlib stream of `plain`.
Bytes CompressedForm(const Bytes& plain, int level = 6) {
    uLongf n = compressBound(static_cast<uLong>(plain.size()));
    Bytes out(kCompressedMarker, kCompressedMarker + sizeof kCompressedMarker);
    out.resize(out.size() + n);
    EXPECT_EQ(compress2(out.data() + sizeof kCompressedMarker, &n, plain.data(),
                        static_cast<uLong>(plain.size()), level),
              Z_OK);
    out.resize(sizeof kCompressedMarker + n);
    return out;
}

// A memory stream over its own copy of the bytes; reports its destruction.
struct Source : TCVLFlatRamStream {
    Source(const Bytes& bytes, bool* destroyed = nullptr)
        : TCVLFlatRamStream(static_cast<uint32_t>(bytes.size()), 0), destroyed_(destroyed) {
        Write(bytes.data(), static_cast<uint32_t>(bytes.size()));
        Rewind();
    }
    ~Source() override {
        if (destroyed_) *destroyed_ = true;
    }
    bool* destroyed_;
};

// An inflating stream that owns a source over `bytes`.
std::unique_ptr<TCVLZLibInStream> Inflating(const Bytes& bytes) {
    return std::make_unique<TCVLZLibInStream>(new Source(bytes), true);
}

// Reads everything the stream delivers, in reads of `chunk` bytes.
Bytes ReadAll(TCVLStream& s, uint32_t chunk) {
    Bytes out, buf(chunk);
    for (;;) {
        uint32_t got = s.Read(buf.data(), chunk);
        out.insert(out.end(), buf.begin(), buf.begin() + got);
        if (got < chunk) return out;
    }
}

// Incompressible and highly compressible stretches, so that both the input and the
// output cross many 8192-byte windows.
Bytes MixedData() {
    Bytes plain = RandomBytes(40000, 7);
    for (int i = 0; i < 300000; ++i) plain.push_back(static_cast<uint8_t>("brackwold "[i % 10]));
    Bytes tail = RandomBytes(5000, 8);
    plain.insert(plain.end(), tail.begin(), tail.end());
    return plain;
}

}  // namespace

TEST(ZLibStream, DeliversThePlainBytesAndEndsCleanly) {
    const Bytes plain = MixedData();
    for (int level : {1, 9}) {
        Bytes packed = CompressedForm(plain, level);
        Bytes trailing = ToBytes("bytes after the zlib stream are never delivered");
        packed.insert(packed.end(), trailing.begin(), trailing.end());
        auto s = Inflating(packed);
        EXPECT_EQ(s->Size(), 0x7FFFFFF0u);
        EXPECT_EQ(s->GetByte(), plain[0]);
        Bytes got{plain[0]};
        Bytes rest = ReadAll(*s, 1000);
        got.insert(got.end(), rest.begin(), rest.end());
        EXPECT_EQ(got, plain) << "level " << level;
        EXPECT_EQ(s->Tell(), plain.size());
        EXPECT_EQ(s->state(), TCVLZLibInStream::kEnded);
        EXPECT_FALSE(s->HasError()) << "a clean end is a short read without an error";
        EXPECT_EQ(s->GetByte(), 0);
        EXPECT_TRUE(s->HasError());
    }
}

TEST(ZLibStream, InflatedSizeOfWholeWindowsEndsCleanly) {
    for (const Bytes& plain : {RandomBytes(3 * 8192, 3), Bytes(4 * 8192, 0x41)}) {
        auto s = Inflating(CompressedForm(plain));
        Bytes buf(plain.size() + 100);
        EXPECT_EQ(s->Read(buf.data(), static_cast<uint32_t>(buf.size())), plain.size());
        buf.resize(plain.size());
        EXPECT_EQ(buf, plain);
        EXPECT_FALSE(s->HasError());
        EXPECT_EQ(s->GetByte(), 0);
        EXPECT_TRUE(s->HasError());
    }
}

TEST(ZLibStream, MegabyteOfZerosFromAKilobyteIsDeliveredCompletely) {
    const Bytes zeros(1 << 20, 0);
    const Bytes packed = CompressedForm(zeros, 9);
    ASSERT_LT(packed.size(), 1100u);  // the whole input fits one source block
    auto s = Inflating(packed);
    Bytes got = ReadAll(*s, 100000);
    EXPECT_EQ(got.size(), zeros.size());
    EXPECT_EQ(got, zeros);
    EXPECT_FALSE(s->HasError());
    EXPECT_EQ(s->state(), TCVLZLibInStream::kEnded);
}

TEST(ZLibStream, CutOrDamagedDataDeliversTheGoodBytesThenFails) {
    const Bytes plain = MixedData();
    const Bytes packed = CompressedForm(plain);

    // Cut in the middle: a prefix of the plain data, a short count and the error flag.
    {
        auto s = Inflating(Bytes(packed.begin(), packed.begin() + packed.size() / 2));
        Bytes got = ReadAll(*s, 4096);
        EXPECT_GT(got.size(), 1000u);
        ASSERT_LT(got.size(), plain.size());
        EXPECT_TRUE(std::equal(got.begin(), got.end(), plain.begin()));
        EXPECT_TRUE(s->HasError());
        EXPECT_EQ(s->state(), TCVLZLibInStream::kFailed);
        EXPECT_EQ(s->GetByte(), 0);
    }
    // Without its check value every byte arrives, but the end is not clean.
    {
        auto s = Inflating(Bytes(packed.begin(), packed.end() - 4));
        Bytes buf(plain.size() + 1);
        EXPECT_EQ(s->Read(buf.data(), static_cast<uint32_t>(buf.size())), plain.size());
        EXPECT_TRUE(s->HasError());
    }
    // A wrong check value is a data error after the data.
    {
        Bytes damaged = packed;
        damaged.back() ^= 0x55;
        auto s = Inflating(damaged);
        Bytes buf(plain.size() + 1);
        EXPECT_EQ(s->Read(buf.data(), static_cast<uint32_t>(buf.size())), plain.size());
        EXPECT_TRUE(s->HasError());
    }
    // Only the zlib header: nothing at all.
    {
        auto s = Inflating(Bytes(packed.begin(), packed.begin() + 8));
        uint8_t b[16];
        EXPECT_EQ(s->Read(b, sizeof b), 0u);
        EXPECT_TRUE(s->HasError());
    }
}

TEST(ZLibStream, SeekBackwardsRestartsAndRewindClearsTheError) {
    const Bytes plain = MixedData();
    auto s = Inflating(CompressedForm(plain));
    uint8_t buf[200];
    ASSERT_EQ(s->Read(buf, 200), 200u);
    EXPECT_TRUE(s->Seek(100));
    EXPECT_EQ(s->Tell(), 100u);
    EXPECT_EQ(s->GetByte(), plain[100]);
    EXPECT_TRUE(s->Seek(30000));  // forwards across windows
    EXPECT_EQ(s->GetByte(), plain[30000]);

    EXPECT_FALSE(s->Seek(static_cast<uint32_t>(plain.size()) + 1));
    EXPECT_TRUE(s->HasError());
    s->Rewind();
    EXPECT_FALSE(s->HasError());
    EXPECT_EQ(s->Tell(), 0u);
    EXPECT_EQ(ReadAll(*s, 7777), plain);
    EXPECT_FALSE(s->HasError());
}

TEST(ZLibStream, PlainPackageDeliversNothingAndIsWriteProtected) {
    auto s = Inflating(ToBytes(std::string("[QXUPD]\0\x11\0\0title", 16)));
    uint8_t buf[8];
    EXPECT_EQ(s->Read(buf, sizeof buf), 0u);
    EXPECT_FALSE(s->HasError());
    EXPECT_EQ(s->GetByte(), 0);
    EXPECT_TRUE(s->HasError());
    EXPECT_EQ(s->state(), TCVLZLibInStream::kNotStarted);

    auto w = Inflating(CompressedForm(ToBytes("abc")));
    w->PutByte(1);
    EXPECT_TRUE(w->HasError());
}

TEST(ZLibStream, OwnsItsSourceOnlyWhenAsked) {
    const Bytes packed = CompressedForm(ToBytes("abc"));
    bool destroyed = false;
    { TCVLZLibInStream s(new Source(packed, &destroyed), true); }
    EXPECT_TRUE(destroyed);

    destroyed = false;
    Source source(packed, &destroyed);
    {
        TCVLZLibInStream s(&source, false);
        EXPECT_EQ(s.GetByte(), 'a');
    }
    EXPECT_FALSE(destroyed);
    source.destroyed_ = nullptr;
}

TEST(ZLibStream, MarkerTestReadsOneStringFromTheStart) {
    Source compressed(CompressedForm(ToBytes("x")));
    compressed.GetByte();
    EXPECT_TRUE(IsCompressedPackage(compressed));
    EXPECT_EQ(compressed.Tell(), 6u);  // first byte of the zlib stream

    for (const std::string& text : {std::string("[QXUPD]\0", 8), std::string("[QXZ]x\0", 7),
                                    std::string("[qxz]\0", 6), std::string()}) {
        Source s(ToBytes(text));
        EXPECT_FALSE(IsCompressedPackage(s)) << text;
    }
}
