// Hostile packages against the engine: names that try to leave the target folder, that
// Windows cannot hold or that alias the temporary folder or each other; scripts that claim
// far more than the old file and the package carry; sizes that cannot fit; a compressed
// body that inflates to a gigabyte. Each must be refused at the open or fail its entry
// under its policy, with bounded work (counted in cancel polls, not timed), bounded disk
// and memory, and nothing outside the target folder may change.
#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>

#include "apply/driver.h"
#include "apply/identity.h"
#include "apply/progress.h"
#include "apply/temporary_files.h"
#include "io/os.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

using Snapshot = std::map<std::string, Bytes>;

// Every file and folder below `folder` (folders with an empty content and a final "/").
Snapshot TakeSnapshot(const std::string& folder) {
    Snapshot s;
    for (const auto& item : fs::recursive_directory_iterator(folder)) {
        const std::string name = fs::relative(item.path(), folder).generic_string();
        if (item.is_directory())
            s[name + "/"] = Bytes();
        else
            s[name] = ReadFileBytes(item.path().string());
    }
    return s;
}

const Bytes kOld = RandomBytes(10 * 1024, 77);

// Raw deflate data of `in` (no zlib header or check), ending on `flush`.
Bytes DeflateRaw(const Bytes& in, int flush) {
    z_stream z{};
    EXPECT_EQ(deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY), Z_OK);
    Bytes out(deflateBound(&z, static_cast<uLong>(in.size())) + 64);
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(in.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    EXPECT_NE(deflate(&z, flush), Z_STREAM_ERROR);
    EXPECT_EQ(z.avail_in, 0u);
    out.resize(out.size() - z.avail_out);
    deflateEnd(&z);
    return out;
}

// A "[QXZ]" package whose plain form is `before`, `mib` MiB of zero bytes, then `after`.
// The zeros are compressed once: a block of 1 MiB that ends on a full flush refers to
// nothing before it, so it is repeated as it is, and the Adler-32 check is combined.
Bytes CompressedWithZeros(const Bytes& before, uint32_t mib, const Bytes& after) {
    const Bytes zeros(1 << 20, 0);
    const Bytes block = DeflateRaw(zeros, Z_FULL_FLUSH);
    const uLong zeros_check = adler32(adler32(0, nullptr, 0), zeros.data(), static_cast<uInt>(zeros.size()));
    Bytes out(kCompressedMarker, kCompressedMarker + sizeof kCompressedMarker);
    out.push_back(0x78);  // zlib header: deflate with a 32 KiB window
    out.push_back(0x9C);
    const Bytes head = DeflateRaw(before, Z_FULL_FLUSH);
    out.insert(out.end(), head.begin(), head.end());
    uLong check = adler32(adler32(0, nullptr, 0), before.data(), static_cast<uInt>(before.size()));
    for (uint32_t i = 0; i < mib; ++i) {
        out.insert(out.end(), block.begin(), block.end());
        check = adler32_combine(check, zeros_check, static_cast<z_off_t>(zeros.size()));
    }
    const Bytes tail = DeflateRaw(after, Z_FINISH);
    out.insert(out.end(), tail.begin(), tail.end());
    check = adler32(check, after.data(), static_cast<uInt>(after.size()));
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(check >> shift));
    return out;
}

class HostileTest : public ::testing::Test {
protected:
    // root/target holds the installed files; root/sentinel lies beside it with files that
    // hostile names aim at. The package is written to a folder of its own.
    void SetUp() override {
        Install("data.bin", kOld);
        Install("keep.txt", ToBytes("KEEP"));
        for (const char* name : {"outside.txt", "x.txt", "abs.txt", "sentinel.txt"})
            WriteFileText(root_ / (std::string("sentinel/") + name), "sentinel");
        sentinel_before_ = TakeSnapshot(root_ / "sentinel");
    }
    void TearDown() override {
        package_.reset();
        EXPECT_EQ(TakeSnapshot(root_ / "sentinel"), sentinel_before_) << "a file outside the target changed";
    }

    void Install(const std::string& name, const Bytes& content) {
        WriteFileBytes(At(name), content);
        SetStamp(At(name), OldStamp());
    }
    std::string At(const std::string& name) const { return root_ / ("target/" + name); }
    std::string TempFolder() const { return root_ / "target/__QXUPD_"; }

    std::unique_ptr<UpgradePackage>& Open(int compression = 0) {
        package_.reset();  // Windows would not let the package file be written while it is open
        const std::string path = packages_ / "p.upg";
        plan_.Write(path, compression);
        package_ = OpenForApply(path, target_);
        return package_;
    }

    // Applies with a front end that answers Yes `yes` times and presses cancel (answered
    // Yes) once the engine has polled `max_polls` times, so that unbounded work ends the
    // run instead of the test; work_exceeded_ tells.
    ApplyResult ApplyWithin(int max_polls, int yes = 0) {
        fe_.answers.assign(static_cast<size_t>(yes), true);
        fe_.on_pump = [this, max_polls] {
            if (fe_.pumps != max_polls) return;
            work_exceeded_ = true;
            CancelRequested = 1;
            fe_.answers.push_front(true);
        };
        return ApplyPackage(*package_, &fe_);
    }

    std::vector<int> States() const { return EntryStates(*package_); }

    TempDir root_;
    TempDir packages_;
    std::string target_ = root_ / "target";
    PackagePlan plan_;
    FakeFrontEnd fe_;
    std::unique_ptr<UpgradePackage> package_;
    Snapshot sentinel_before_;
    bool work_exceeded_ = false;
};

}  // namespace

class HostileNames : public HostileTest {
protected:
    // Each name in an Add entry (followed by a harmless one) must refuse the package at the
    // full open, and an apply of it changes nothing anywhere.
    void ExpectRefused(const std::vector<std::string>& names) {
        for (const std::string& name : names) {
            SCOPED_TRACE("name \"" + name + "\"");
            plan_ = PackagePlan();
            plan_.Add(name, ToBytes("evil"));
            plan_.Add("fine.txt", ToBytes("fine"));
            const Snapshot before = TakeSnapshot(root_.Path());
            Open();
            EXPECT_FALSE(package_->IsValid());
            EXPECT_NE(package_->RefusalReason(), "");
            EXPECT_EQ(ApplyPackage(*package_, &fe_), kApplyAborted);
            package_.reset();
            Snapshot after = TakeSnapshot(root_.Path());
            EXPECT_EQ(after, before);
        }
    }
};

TEST_F(HostileNames, WaysOutOfTheTargetAreRefused) {
    ExpectRefused({"..\\outside.txt", "..", "sub\\..\\..\\sentinel\\x.txt", "a/../../sentinel/x.txt",
                   "...\\sentinel\\x.txt", ".. \\sentinel\\x.txt", "/abs.txt", "\\abs.txt",
                   "\\\\server\\share\\x.txt", "C:\\x.txt", "C:x.txt", "c:/x.txt", "keep.txt:stream",
                   "sub:\\x.txt", "..\\target\\keep.txt"});
}

TEST_F(HostileNames, NamesWindowsCannotHoldAreRefused) {
    ExpectRefused({"CON", "con", "NUL", "AUX", "PRN", "COM1", "lpt9", "LPT1.dat", "nul.txt", "sub\\NUL",
                   "CON\\x.txt", "file.", "file ", "sub.\\x.txt", "sub \\x.txt", "tab\there.txt",
                   std::string("ctl\x01.txt"), "esc\x1b[31m.txt", std::string("new\nline.txt")});
}

TEST_F(HostileNames, AliasesOfTheTemporaryFolderAndOfEachOtherAreRefused) {
    ExpectRefused({"__QXUPD_\\N00001.TMP", ".\\__QXUPD_\\N00001.TMP", "./__qxupd_/N00001.TMP",
                   ".\\.\\__QXUPD_", "__QXUPD_\\\\N00001.TMP", "\\.\\__QXUPD_\\N00001.TMP"});

    // Two entries that name one file in any spelling.
    for (const auto& pair : std::vector<std::pair<std::string, std::string>>{
             {"keep.txt", "KEEP.TXT"}, {"keep.txt", ".\\keep.txt"}, {"a\\b.txt", "a\\\\b.txt"},
             {"a/b.txt", "A\\B.txt"}, {"sub\\x.txt", "sub\\.\\x.txt"}}) {
        SCOPED_TRACE(pair.first + " and " + pair.second);
        plan_ = PackagePlan();
        plan_.Add(pair.first, ToBytes("one"));
        plan_.Add(pair.second, ToBytes("two"));
        Open();
        EXPECT_FALSE(package_->IsValid());
        EXPECT_EQ(ApplyPackage(*package_, &fe_), kApplyAborted);
        package_.reset();
    }

    // The case that was found: an Add that builds into the temporary file of the entry after
    // it, whose content then lands unverified in keep.txt.
    plan_ = PackagePlan();
    plan_.Add(".\\__QXUPD_\\N00001.TMP", ToBytes("X"));
    plan_.Add("keep.txt", ToBytes("KEEP"), 0, 0);
    Open();
    EXPECT_FALSE(package_->IsValid());
    EXPECT_EQ(ApplyPackage(*package_, &fe_), kApplyAborted);
    EXPECT_EQ(ReadFileText(At("keep.txt")), "KEEP");
}

TEST_F(HostileNames, OverLongAndDeepNamesFailTheirEntryOrApplyInside) {
    // Longer than the reader holds: refused. Too deep for the path limit with the target folder.
    const std::string long_name(300, 'n');
    std::string too_deep;
    while (too_deep.size() < 240) too_deep += "d\\";
    too_deep += "f.txt";
    // Deep but within the path limit: created inside the target.
    std::string deep;
    while (deep.size() + target_.size() < 200) deep += "e\\";
    deep += "f.txt";
    plan_.Add(long_name, ToBytes("long"), 0, 0);
    plan_.Add(too_deep, ToBytes("deep"), 0, 0);
    plan_.Add(deep, ToBytes("fits"), 0, 0);
    Open();
    EXPECT_FALSE(package_->IsValid()) << "a name that does not fit is refused, not cut into another one";
    plan_.records.erase(plan_.records.begin());
    plan_.scripts.erase(plan_.scripts.begin());
    Open();
    ASSERT_TRUE(package_->IsValid()) << package_->RefusalReason();
    ApplyWithin(1000);
    EXPECT_FALSE(work_exceeded_);
    EXPECT_EQ(States(), (std::vector<int>{kStatePathTooLong, 0}));
    EXPECT_EQ(ReadFileText(At(deep)), "fits");
    EXPECT_FALSE(FolderExists(At("d")));
    EXPECT_FALSE(FolderExists(TempFolder()));
}

TEST_F(HostileTest, CopiesFarBeyondTheOldFileStopAtOnce) {
    // Each copy asks for 4 GiB from beyond (or across) the end of a 10 KiB old file; the
    // next entry must still be found and built.
    const Bytes wanted = RandomBytes(10 * 1024, 78);
    ScriptWriter w;
    w.CopyFar(0x7FFFFFF0u, 0xFFFFFFFFu);
    w.CopyFar(20 * 1024, 0xFFFFFFFFu);
    w.SetOffsetHigh(0x4000);
    w.CopyNear(0, 0xFFFFFFFFu);
    w.CopyFar(kNoSeek, 0xFFFFFFFFu);
    w.CopyFar(0, 0xFFFFFFFFu);  // the whole old file, then 4 GiB past its end
    w.End();
    EntryRecord hostile;
    hostile.operation = kOpUpdate;
    hostile.name = "data.bin";
    hostile.old_identity = IdentityOf(kOld, OldStamp());
    hostile.new_identity = IdentityOf(wanted, NewStamp());
    plan_.Raw(hostile, w.bytes());
    plan_.Update("keep.txt", ToBytes("KEEP"), ToBytes("KEEP and more"));
    Open();
    ASSERT_TRUE(package_->IsValid());
    ApplyWithin(2000);
    EXPECT_FALSE(work_exceeded_) << "the copies were not stopped: " << fe_.pumps << " polls";
    EXPECT_EQ(States(), (std::vector<int>{kStateBuildFailed, 0}));
    EXPECT_EQ(ReadFileBytes(At("data.bin")), kOld);
    EXPECT_EQ(ReadFileText(At("keep.txt")), "KEEP and more");
    EXPECT_FALSE(FolderExists(TempFolder()));
}

TEST_F(HostileTest, LiteralCountsFarBeyondThePackageStopAtOnce) {
    for (int compression : {0, 9}) {
        SCOPED_TRACE(compression ? "compressed" : "plain");
        plan_ = PackagePlan();
        // The last script claims 4 GiB of literals that the package does not have.
        plan_.Add("first.txt", ToBytes("first"));
        ScriptWriter w;
        w.Raw(kCmdLiteral32);
        for (uint8_t b : {0xF0, 0xFF, 0xFF, 0xFF}) w.Raw(b);
        w.Raw('a');
        EntryRecord hostile;
        hostile.operation = kOpAdd;
        hostile.name = "huge.bin";
        hostile.new_identity.size = 0xFFFFFFF0u;
        plan_.Raw(hostile, w.bytes());
        Open(compression);
        ASSERT_TRUE(package_->IsValid());
        fe_ = FakeFrontEnd();
        work_exceeded_ = false;
        ApplyWithin(2000);
        EXPECT_FALSE(work_exceeded_) << "the literal was not stopped: " << fe_.pumps << " polls";
        EXPECT_NE(package_->entries[1].state, 0);
        EXPECT_FALSE(FileExists(At("huge.bin")));
        EXPECT_FALSE(FolderExists(TempFolder()));
        package_.reset();
        fs::remove(At("first.txt"));
    }
}

TEST_F(HostileTest, TenThousandEntriesClaimingFourGiBEachWriteNothing) {
    for (int i = 0; i < kMaxEntries; ++i) {
        ScriptWriter w;
        w.Literal(std::string("x"));
        w.End();
        EntryRecord r;
        r.operation = kOpAdd;
        r.name = "big\\f" + std::to_string(i) + ".bin";
        r.new_identity.size = 0xFFFFFFFFu;
        plan_.Raw(r, w.bytes());
    }
    const Snapshot before = TakeSnapshot(target_);
    Open();
    ASSERT_TRUE(package_->IsValid());
    EXPECT_EQ(package_->ProgressTotal, 0xFFFFFFFFu);  // saturated, never wrapped to a small total
    const ApplyResult result = ApplyWithin(200000);
    EXPECT_FALSE(work_exceeded_);
    EXPECT_NE(result, kApplyDone) << "nothing fits, yet the upgrade reports it was applied";
    EXPECT_EQ(TakeSnapshot(target_), before);
}

TEST_F(HostileTest, BodyThatInflatesToAGigabyteCostsNeitherDiskNorMemory) {
    // A compressed package of about a megabyte whose only script is a literal of 1 GiB of
    // zeros, for a file that declares 1000 bytes; an entry after it must still be built.
    const std::string path = packages_ / "p.upg";
    const Bytes after = ToBytes("after the bomb");
    {
        EntryRecord bomb;
        bomb.operation = kOpAdd;
        bomb.name = "bomb.bin";
        bomb.new_identity = IdentityOf(Bytes(1000, 0), NewStamp());
        EntryRecord next;
        next.operation = kOpAdd;
        next.name = "after.txt";
        next.new_identity = IdentityOf(after, NewStamp());
        Bytes before = BuildPackageBytes(PackageHeader(), {bomb, next}, {}, 0);
        const uint8_t literal[] = {kCmdLiteral32, 0, 0, 0, 0x40};  // 1 GiB of literals follow
        before.insert(before.end(), literal, literal + sizeof literal);
        ScriptWriter rest;
        rest.End();
        rest.Literal(after.data(), static_cast<uint32_t>(after.size()));
        rest.End();
        WriteFileBytes(path, CompressedWithZeros(before, 1024, rest.bytes()));
    }
    ASSERT_LT(fs::file_size(path), 2u << 20);
    package_ = OpenForApply(path, target_);
    ASSERT_TRUE(package_->IsValid());

    // Watch the temporary file while it is built; stop the run once it passes a megabyte.
    char temp[os::kMaxPath];
    ASSERT_TRUE(TemporaryFileName(*package_, 0, temp, sizeof temp));
    uintmax_t largest = 0;
    const uint64_t memory_before = PeakResidentBytes();
    fe_.on_pump = [&] {
        if (fe_.pumps % 1024 != 0) return;
        std::error_code ec;
        const uintmax_t size = fs::file_size(temp, ec);
        if (!ec && size > largest) largest = size;
        if (largest > (1u << 20) && !work_exceeded_) {
            work_exceeded_ = true;
            CancelRequested = 1;
            fe_.answers.push_front(true);
        }
    };
    ApplyPackage(*package_, &fe_);
    EXPECT_FALSE(work_exceeded_) << "the temporary file grew past its declared size: " << largest << " bytes";
    EXPECT_LE(largest, 1000u);
    if (memory_before != 0) {
        EXPECT_LT(PeakResidentBytes() - memory_before, 512u << 20);
    }
    EXPECT_EQ(States(), (std::vector<int>{kStateBuildFailed, 0}));
    EXPECT_EQ(ReadFileBytes(At("after.txt")), after);
    EXPECT_FALSE(FileExists(At("bomb.bin")));
}
