// File identities: the check value and its chunk rule, stamps, built-file verification,
// the per-entry findings and the installation match test.
#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "apply/identity.h"
#include "io/os.h"
#include "support/apply_support.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

FileIdentity ReadId(const std::string& path, bool* ok = nullptr) {
    FileIdentity id;
    id.stamp = id.size = 0xDEAD;  // must be overwritten
    bool result = ReadFileIdentity(path.c_str(), &id);
    if (ok) *ok = result;
    return id;
}

void WriteStamped(const std::string& path, const Bytes& data, uint32_t stamp) {
    WriteFileBytes(path, data);
    SetStamp(path, stamp);
}

}  // namespace

TEST(FileIdentityTest, CheckValueFollowsTheChunkRule) {
    TempDir dir;
    struct Case {
        Bytes data;
        uint32_t size;
        uint16_t check;
    };
    Bytes zeros512(512, 0);
    Bytes with513 = zeros512;
    with513.push_back(0x5A);  // the 513th byte starts a chunk of odd length: low byte
    Bytes with514 = with513;
    with514.push_back(0x33);  // a final chunk of even length: first byte high again
    const Case cases[] = {
        {ToBytes("abc"), 3, 0x6202},
        {Bytes{}, 0, 0},
        {Bytes{0x5A}, 1, 0x005A},
        {Bytes{0x5A, 0x33}, 2, 0x5A33},
        {with513, 513, 0x005A},
        {with514, 514, 0x5A33},
    };
    for (const Case& c : cases) {
        std::string path = dir / "f.bin";
        WriteStamped(path, c.data, OldStamp());
        bool ok = false;
        FileIdentity id = ReadId(path, &ok);
        EXPECT_TRUE(ok);
        EXPECT_EQ(id.size, c.size);
        EXPECT_EQ(id.check, c.check) << "size " << c.size;
        EXPECT_EQ(id.stamp, OldStamp()) << "size " << c.size;  // also read for an empty file
    }
    // 512 bytes: even offsets high, odd offsets low.
    Bytes full(512, 0);
    full[10] = 0x12;
    full[11] = 0x34;
    full[511] = 0x01;
    WriteStamped(dir / "g.bin", full, OldStamp());
    EXPECT_EQ(ReadId(dir / "g.bin").check, 0x1234 ^ 0x0001);
}

TEST(FileIdentityTest, CheckValueDoesNotDependOnTheBlockSize) {
    TempDir dir;
    const size_t sizes[] = {1, 511, 513, 1023, 65535, 65536, 65537, 65536 + 511, 200003, 262144};
    uint32_t seed = 7;
    for (size_t size : sizes) {
        Bytes data = RandomBytes(size, seed++);
        const uint16_t expected = ReferenceCheck(data);
        std::string path = dir / "r.bin";
        WriteStamped(path, data, NewStamp());
        FileIdentity id = ReadId(path);
        EXPECT_EQ(id.size, size);
        EXPECT_EQ(id.check, expected) << "size " << size;

        // Any split into blocks gives the same value.
        for (uint32_t block : {1u, 3u, 100u, 512u, 777u, 4096u}) {
            uint16_t check = 0;
            for (size_t pos = 0; pos < size; pos += block) {
                uint32_t n = static_cast<uint32_t>(std::min<size_t>(block, size - pos));
                check = UpdateCheckValue(check, data.data() + pos, n, pos, size);
            }
            EXPECT_EQ(check, expected) << "size " << size << " block " << block;
        }
    }
}

TEST(FileIdentityTest, UnreadableFilesReadAsZero) {
    TempDir dir;
    bool ok = true;
    FileIdentity id = ReadId(dir / "absent.bin", &ok);
    EXPECT_FALSE(ok);
    EXPECT_EQ(id, FileIdentity());

    // A last-write time before 1980 has no MS-DOS form.
    std::string old_file = dir / "old.bin";
    WriteFileText(old_file, "content");
    auto when = fs::last_write_time(old_file) - std::chrono::hours(24 * 365 * 50);
    std::error_code ec;
    fs::last_write_time(old_file, when, ec);
    if (!ec) {
        id = ReadId(old_file, &ok);
        EXPECT_FALSE(ok);
        EXPECT_EQ(id, FileIdentity());
    }
}

TEST(FileIdentityTest, VerifyBuiltFileChecksContentAndStamps) {
    TempDir dir;
    std::string path = dir / "built.bin";
    Bytes data = RandomBytes(1500, 3);
    WriteFileBytes(path, data);
    FileIdentity expected = IdentityOf(data, NewStamp());

    FileIdentity wrong_size = expected;
    wrong_size.size += 1;
    EXPECT_FALSE(VerifyBuiltFile(path.c_str(), wrong_size));
    FileIdentity wrong_check = expected;
    wrong_check.check ^= 0x0100;
    EXPECT_FALSE(VerifyBuiltFile(path.c_str(), wrong_check));
    EXPECT_NE(ReadId(path).stamp, NewStamp());  // a failed check stamps nothing

    EXPECT_TRUE(VerifyBuiltFile(path.c_str(), expected));
    EXPECT_EQ(ReadId(path), expected);
    EXPECT_FALSE(VerifyBuiltFile((dir / "absent.bin").c_str(), expected));

    // A stamp in standard time and one in summer time both read back unchanged.
    for (uint32_t stamp : {DosStamp(1999, 12, 31, 23, 59, 58), DosStamp(2010, 6, 1, 2, 30, 4)}) {
        EXPECT_TRUE(StampFile(path.c_str(), stamp));
        EXPECT_EQ(ReadId(path).stamp, stamp);
    }
    EXPECT_FALSE(StampFile((dir / "absent.bin").c_str(), NewStamp()));
}

// The findings table, operation by operation, with its test order.
TEST(VerifyEntryTest, FindingsFollowTheTable) {
    TempDir dir;
    const Bytes old_content = ToBytes("old contents of the file");
    FileEntry add;
    add.Operation = kOpAdd;
    FileEntry update;
    update.Operation = kOpUpdate;
    update.OldIdentity = IdentityOf(old_content, OldStamp());
    FileEntry remove = update;
    remove.Operation = kOpRemove;

    struct Expect {
        uint8_t code;
        int line;
        bool warning;
    };
    auto check = [](const FileEntry& entry, const std::string& path, Expect e, const char* what) {
        Finding f = VerifyEntry(entry, path.c_str());
        EXPECT_EQ(f.code, e.code) << what;
        EXPECT_EQ(f.line, e.line) << what;
        EXPECT_EQ(f.warning, e.warning) << what;
    };
    std::string absent = dir / "absent.dat";
    std::string same = dir / "same.dat";
    WriteStamped(same, old_content, OldStamp());
    std::string restamped = dir / "restamped.dat";
    WriteStamped(restamped, old_content, DosStamp(2001, 3, 14, 15, 9, 28));  // two seconds later
    std::string changed = dir / "changed.dat";
    Bytes edited = old_content;
    edited[3] ^= 0x20;  // same size, other check value
    WriteStamped(changed, edited, OldStamp());
    std::string longer = dir / "longer.dat";
    WriteStamped(longer, ToBytes("old contents of the file!"), OldStamp());
    std::string read_only = dir / "ro.dat";
    WriteStamped(read_only, old_content, OldStamp());
    ASSERT_TRUE(os::SetReadOnly(read_only.c_str(), true));
    std::string read_only_changed = dir / "ro-changed.dat";
    WriteStamped(read_only_changed, edited, OldStamp());
    ASSERT_TRUE(os::SetReadOnly(read_only_changed.c_str(), true));
    std::string folder = dir / "folder.dat";
    fs::create_directory(folder);

    check(add, absent, {0, 0, false}, "add absent");
    check(add, folder, {0, 0, false}, "add over a folder");
    check(add, read_only, {kStateReadOnly, 12, false}, "add read-only");
    check(add, same, {kStateExists, 9, true}, "add exists");

    check(update, absent, {kStateMissing, 13, false}, "update absent");
    check(update, folder, {kStateMissing, 13, false}, "update folder");
    check(update, changed, {kStateChanged, 14, false}, "update changed");
    check(update, longer, {kStateChanged, 14, false}, "update size");
    check(update, read_only_changed, {kStateChanged, 14, false}, "update changed before read-only");
    check(update, read_only, {kStateReadOnly, 15, false}, "update read-only");
    check(update, restamped, {kStateTimeDiffers, 10, true}, "update stamp");
    check(update, same, {0, 0, false}, "update same");

    check(remove, absent, {kStateMissing, 13, false}, "remove absent");
    check(remove, changed, {kStateChanged, 11, true}, "remove changed");
    check(remove, read_only_changed, {kStateChanged, 11, true}, "remove changed before read-only");
    check(remove, read_only, {kStateReadOnly, 15, false}, "remove read-only");
    check(remove, restamped, {kStateTimeDiffers, 11, true}, "remove stamp");
    check(remove, same, {0, 0, false}, "remove same");

    FileEntry undefined;
    undefined.Operation = 3;
    check(undefined, same, {kStateBadOperation, 18, false}, "operation 3");
    check(undefined, absent, {kStateBadOperation, 18, false}, "operation 3 absent");
}

// The installation match test on real folders: counters, policies and early rejection.
class InstallationMatchTest : public ::testing::Test {
protected:
    // Adds an Update entry whose file `name` is written matching (kind 'm'), changed
    // ('c'), with another stamp ('t') or not at all ('-').
    void Entry(char kind, int warning, int error) {
        std::string name = "f" + std::to_string(plan_.records.size()) + ".dat";
        Bytes content = ToBytes("content of " + name);
        plan_.Update(name, content, ToBytes("new"), warning, error);
        if (kind == 'm') WriteStamped(JoinNative(dir_, name), content, OldStamp());
        if (kind == 't') WriteStamped(JoinNative(dir_, name), content, NewStamp());
        if (kind == 'c') WriteStamped(JoinNative(dir_, name), ToBytes("edited " + name), OldStamp());
    }
    bool Matches() {
        std::string path = root_ / "p.upg";
        plan_.Write(path);
        auto package = UpgradePackage::OpenFull(path.c_str(), dir_.c_str());
        EXPECT_TRUE(package->IsValid());
        return InstallationMatches(*package);
    }
    TempDir root_;
    std::string dir_ = root_ / "install";
    PackagePlan plan_;
    void SetUp() override { fs::create_directories(dir_); }
};

TEST_F(InstallationMatchTest, TwoMissingAndTwoMatchedReject) {
    Entry('-', 1, 1);
    Entry('c', 1, 1);
    Entry('m', 1, 1);
    Entry('m', 1, 1);
    EXPECT_FALSE(Matches());
}

TEST_F(InstallationMatchTest, TwoMissingAndThreeMatchedAccept) {
    Entry('-', 1, 1);
    Entry('c', 1, 1);
    Entry('m', 1, 1);
    Entry('m', 1, 1);
    Entry('m', 0, 3);
    plan_.Add("added.dat", ToBytes("x"), 0, 2);  // Add entries are not looked at
    EXPECT_TRUE(Matches());
}

TEST_F(InstallationMatchTest, ErrorPolicyZeroIsNotCounted) {
    // Every checked entry with error policy 0: any folder passes, even an empty one.
    Entry('-', 2, 0);
    Entry('c', 2, 0);
    EXPECT_TRUE(Matches());
}

TEST_F(InstallationMatchTest, ExistingFilesWithErrorPolicyZeroDoNotMatch) {
    Entry('-', 1, 1);
    Entry('m', 1, 0);
    Entry('m', 1, 0);
    EXPECT_FALSE(Matches());
}

TEST_F(InstallationMatchTest, CriticalEntriesRejectAtOnce) {
    Entry('m', 1, 1);
    Entry('m', 1, 1);
    Entry('-', 1, 2);
    EXPECT_FALSE(Matches());
}

TEST_F(InstallationMatchTest, CriticalChangedFileRejects) {
    Entry('m', 1, 1);
    Entry('m', 1, 1);
    Entry('c', 1, 2);
    EXPECT_FALSE(Matches());
}

TEST_F(InstallationMatchTest, StampWarningPolicies) {
    // Warning policy 1: a differing stamp moves neither counter, so 1 missing : 1 matched.
    Entry('-', 1, 1);
    Entry('m', 1, 1);
    Entry('t', 1, 1);
    EXPECT_FALSE(Matches());
}

TEST_F(InstallationMatchTest, StampCountsAsMatchedUnderWarningPolicyZero) {
    Entry('-', 1, 1);
    Entry('m', 1, 1);
    Entry('t', 0, 1);
    EXPECT_TRUE(Matches());
}

TEST_F(InstallationMatchTest, CriticalStampRejects) {
    Entry('m', 1, 1);
    Entry('t', 2, 1);
    EXPECT_FALSE(Matches());
}
