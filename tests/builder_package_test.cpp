// End-to-end tests of the package builder: packages built from generated folder trees,
// read back with the package reader and applied with the apply driver to a full copy of
// the old tree; the cases the format cannot express; limits; options.

#include <gtest/gtest.h>
#include <zlib.h>

#include <filesystem>
#include <map>
#include <random>
#include <set>

#include "apply/driver.h"
#include "apply/identity.h"
#include "builder/builder.h"
#include "builder/check.h"
#include "io/fault_injection.h"
#include "package/package.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

using Files = std::map<std::string, Bytes>;  // relative name ("/" between folders) -> content

void MakeTree(const std::string& root, const Files& files, uint32_t stamp) {
    fs::create_directories(root);
    for (const auto& [name, data] : files) {
        WriteFileBytes(JoinNative(root, name), data);
        SetStamp(JoinNative(root, name), stamp);
    }
}

// Every file below root: relative name with "/" -> path.
std::map<std::string, std::string> Walk(const std::string& root) {
    std::map<std::string, std::string> out;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it)
        if (it->is_regular_file()) out[fs::relative(it->path(), root).generic_string()] = it->path().string();
    return out;
}

// A copy of a whole tree, time stamps included.
void CopyTree(const std::string& from, const std::string& to) {
    fs::create_directories(to);
    for (const auto& [name, path] : Walk(from)) {
        const std::string dest = JoinNative(to, name);
        WriteFileBytes(dest, ReadFileBytes(path));
        FileIdentity id;
        ASSERT_TRUE(ReadFileIdentity(path.c_str(), &id));
        SetStamp(dest, id.stamp);
    }
}

// Same files, contents and MS-DOS time stamps.
::testing::AssertionResult SameTree(const std::string& a, const std::string& b) {
    const auto fa = Walk(a), fb = Walk(b);
    for (const auto& [name, path] : fa)
        if (fb.count(name) == 0) return ::testing::AssertionFailure() << name << " only in " << a;
    for (const auto& [name, path] : fb) {
        auto it = fa.find(name);
        if (it == fa.end()) return ::testing::AssertionFailure() << name << " only in " << b;
        if (ReadFileBytes(it->second) != ReadFileBytes(path)) return ::testing::AssertionFailure() << name << " differs";
        FileIdentity ia, ib;
        ReadFileIdentity(it->second.c_str(), &ia);
        ReadFileIdentity(path.c_str(), &ib);
        if (ia.stamp != ib.stamp) return ::testing::AssertionFailure() << name << " has another time stamp";
    }
    return ::testing::AssertionSuccess();
}

// Applies the package to a full copy of the old tree and compares with the new tree.
::testing::AssertionResult AppliesToCopy(const std::string& package, const std::string& old_dir,
                                         const std::string& new_dir, const std::string& work) {
    CopyTree(old_dir, work);
    FakeFrontEnd frontend;
    auto p = OpenForApply(package, work);
    if (!p->IsValid()) return ::testing::AssertionFailure() << "invalid: " << p->RefusalReason();
    const ApplyResult result = ApplyPackage(*p, &frontend);
    p.reset();
    if (result != kApplyDone || !frontend.questions.empty())
        return ::testing::AssertionFailure() << "result " << result << ", " << frontend.questions.size() << " questions";
    return SameTree(work, new_dir);
}

Bytes Mutate(Bytes data, uint32_t seed) {
    std::mt19937 rng(seed);
    for (int i = 0; i < 5 && !data.empty(); ++i) {
        const size_t at = rng() % data.size();
        if (rng() % 2) {
            const Bytes ins = RandomBytes(1 + rng() % 100, rng());
            data.insert(data.begin() + at, ins.begin(), ins.end());
        } else {
            data.erase(data.begin() + at, data.begin() + std::min(data.size(), at + 1 + rng() % 50));
        }
    }
    return data;
}

BuildOptions Options(const TempDir& dir) {
    BuildOptions o;
    o.old_dir = dir / "old";
    o.new_dir = dir / "new";
    o.output = dir / "out.upg";
    o.scratch_folder = dir.Path();
    return o;
}

std::string Joined(const std::vector<std::string>& errors) {
    std::string s;
    for (const std::string& e : errors) s += e + "\n";
    return s;
}

class RecordingObserver : public BuildObserver {
public:
    void Progress(const std::string& name, uint64_t done, uint64_t total) override {
        monotonic = monotonic && done >= last && done <= total;
        last = done;
        this->total = total;
        names.insert(name);
    }
    void Warning(const std::string& text) override { warnings.push_back(text); }
    uint64_t last = 0, total = 0;
    bool monotonic = true;
    std::set<std::string> names;
    std::vector<std::string> warnings;
};

Bytes Inflate(const Bytes& compressed) {
    z_stream z{};
    EXPECT_EQ(inflateInit(&z), Z_OK);
    z.next_in = const_cast<Bytef*>(compressed.data() + 6);
    z.avail_in = static_cast<uInt>(compressed.size() - 6);
    Bytes out;
    uint8_t buffer[65536];
    int result;
    do {
        z.next_out = buffer;
        z.avail_out = sizeof buffer;
        result = inflate(&z, Z_NO_FLUSH);
        out.insert(out.end(), buffer, buffer + (sizeof buffer - z.avail_out));
    } while (result == Z_OK);
    EXPECT_EQ(result, Z_STREAM_END);
    inflateEnd(&z);
    return out;
}

}  // namespace

TEST(BuilderPackage, GeneratedTreesRoundTripPlainAndCompressed) {
    TempDir dir;
    const uint32_t old_stamp = OldStamp(), new_stamp = NewStamp();
    const Bytes big = RandomBytes(300000, 1);
    Files old_files = {
        {"Game.exe", big},
        {"Maps/Area1/Level1.lvl", RandomBytes(70000, 2)},
        {"Maps/Area1/Level2.lvl", RandomBytes(5000, 3)},
        {"Maps/Area2/Deep/Level3.lvl", RandomBytes(20000, 4)},
        {"System/Empty.ini", {}},
        {"System/Becomes.empty", ToBytes("not for long")},
        {"System/Unchanged.int", ToBytes("same text")},
        {"System/Touched.int", ToBytes("same text, new time")},
        {"Old/Removed.dat", RandomBytes(3000, 5)},
    };
    MakeTree(dir / "old", old_files, old_stamp);
    Files new_files = {
        {"Game.exe", Mutate(big, 6)},
        {"Maps/Area1/Level1.lvl", Mutate(old_files["Maps/Area1/Level1.lvl"], 7)},
        {"Maps/Area1/Level2.lvl", RandomBytes(5000, 8)},  // replaced whole
        {"Maps/Area2/Deep/Level3.lvl", old_files["Maps/Area2/Deep/Level3.lvl"]},
        {"System/Empty.ini", ToBytes("now with text")},
        {"System/Becomes.empty", {}},
        {"System/Unchanged.int", ToBytes("same text")},
        {"New/Added/Fresh.dat", RandomBytes(4000, 9)},
        {"New/Empty.txt", {}},
    };
    MakeTree(dir / "new", new_files, new_stamp);
    SetStamp(dir / "new/System/Unchanged.int", old_stamp);
    SetStamp(dir / "new/Maps/Area2/Deep/Level3.lvl", old_stamp);
    WriteFileText(dir / "new/System/Touched.int", "same text, new time");  // only the stamp differs
    SetStamp(dir / "new/System/Touched.int", new_stamp);

    Bytes plain;
    for (int compression : {0, 9}) {
        SCOPED_TRACE(compression);
        BuildOptions o = Options(dir);
        o.compression = compression;
        o.title = "Test upgrade";
        RecordingObserver observer;
        BuildSummary summary;
        std::vector<std::string> errors;
        ASSERT_TRUE(BuildPackage(o, &observer, &summary, &errors)) << Joined(errors);
        EXPECT_TRUE(summary.checked);
        EXPECT_EQ(summary.adds, 2);
        EXPECT_EQ(summary.updates, 6);
        EXPECT_EQ(summary.removes, 1);
        EXPECT_EQ(summary.unchanged, 2);
        EXPECT_TRUE(observer.monotonic);
        EXPECT_EQ(observer.last, observer.total);
        EXPECT_EQ(observer.names.count("Maps\\Area1\\Level1.lvl"), 1u);
        EXPECT_FALSE(FileExists(o.output + ".part"));
        EXPECT_LT(summary.plain_bytes, 300000u / 4) << "the big file should be mostly copied";

        auto p = UpgradePackage::OpenFull(o.output.c_str(), dir.Path().c_str());
        ASSERT_TRUE(p->IsValid());
        EXPECT_EQ(p->IsCompressed(), compression > 0);
        EXPECT_STREQ(p->Title, "Test upgrade");
        ASSERT_EQ(p->entries.size(), 9u);
        EXPECT_EQ(p->entries[0].Operation, kOpRemove);  // removes come first
        EXPECT_STREQ(p->entries[0].name, "Old\\Removed.dat");
        for (const FileEntry& e : p->entries) {
            EXPECT_EQ(e.WarningPolicy, 1);
            EXPECT_EQ(e.ErrorPolicy, 1);
            if (std::string(e.name) == "System\\Touched.int") {
                EXPECT_EQ(e.Operation, kOpUpdate);
            }
        }
        p.reset();
        EXPECT_TRUE(AppliesToCopy(o.output, o.old_dir, o.new_dir, dir / ("work" + std::to_string(compression))));
        if (compression == 0)
            plain = ReadFileBytes(o.output);
        else
            EXPECT_EQ(Inflate(ReadFileBytes(o.output)), plain) << "the compressed form holds the plain package";
    }

    // One thread or two, the package is the same.
    BuildOptions o = Options(dir);
    o.title = "Test upgrade";
    o.threads = 1;
    o.check = false;
    std::vector<std::string> errors;
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    EXPECT_EQ(ReadFileBytes(o.output), plain);
    // The block-hash index gives a package that applies as well.
    o.force_block_index = true;
    o.check = true;
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    EXPECT_TRUE(AppliesToCopy(o.output, o.old_dir, o.new_dir, dir / "work-blocks"));
}

TEST(BuilderPackage, IdenticalTreesGiveAnEmptyPackage) {
    TempDir dir;
    MakeTree(dir / "old", {{"a.txt", ToBytes("a")}, {"b/c.txt", ToBytes("c")}}, OldStamp());
    MakeTree(dir / "new", {{"a.txt", ToBytes("a")}, {"b/c.txt", ToBytes("c")}}, OldStamp());
    BuildSummary summary;
    std::vector<std::string> errors;
    ASSERT_TRUE(BuildPackage(Options(dir), nullptr, &summary, &errors)) << Joined(errors);
    EXPECT_EQ(summary.unchanged, 2);
    auto p = UpgradePackage::OpenFull((dir / "out.upg").c_str(), dir.Path().c_str());
    ASSERT_TRUE(p->IsValid());
    EXPECT_EQ(p->EntryCount, 0);
    p.reset();

    // A package written into the new folder (over an older one) does not package itself.
    BuildOptions o = Options(dir);
    o.output = dir / "new/b/../Upgrade.upg";
    WriteFileText(dir / "new/Upgrade.upg", "an older package");
    for (int round = 0; round < 2; ++round) {
        errors.clear();
        ASSERT_TRUE(BuildPackage(o, nullptr, &summary, &errors)) << Joined(errors);
        EXPECT_EQ(summary.adds, 0);
    }
}

TEST(BuilderPackage, FileReplacedByFolderOfTheSameName) {
    TempDir dir;
    MakeTree(dir / "old", {{"data", ToBytes("a file")}, {"keep.txt", ToBytes("k")}, {"zz.txt", ToBytes("z")}},
             OldStamp());
    MakeTree(dir / "new", {{"data/inner.bin", RandomBytes(100, 1)}, {"data/sub/x.txt", ToBytes("x")},
                           {"keep.txt", ToBytes("k")}}, NewStamp());
    SetStamp(dir / "new/keep.txt", OldStamp());
    std::vector<std::string> errors;
    ASSERT_TRUE(BuildPackage(Options(dir), nullptr, nullptr, &errors)) << Joined(errors);
    auto p = UpgradePackage::OpenFull((dir / "out.upg").c_str(), dir.Path().c_str());
    ASSERT_TRUE(p->IsValid());
    ASSERT_EQ(p->entries.size(), 4u);
    EXPECT_STREQ(p->entries[0].name, "data");
    EXPECT_EQ(p->entries[0].Operation, kOpRemove);
    EXPECT_STREQ(p->entries[2].name, "data\\inner.bin");
    p.reset();
    EXPECT_TRUE(AppliesToCopy(dir / "out.upg", dir / "old", dir / "new", dir / "work"));
}

TEST(BuilderPackage, FolderReplacedByFileIsRefusedAndNothingIsWritten) {
    TempDir dir;
    MakeTree(dir / "old", {{"data/inner.bin", ToBytes("in a folder")}}, OldStamp());
    MakeTree(dir / "new", {{"data", ToBytes("a file now")}}, NewStamp());
    WriteFileText(dir / "out.upg", "an older package");
    std::vector<std::string> errors;
    EXPECT_FALSE(BuildPackage(Options(dir), nullptr, nullptr, &errors));
    ASSERT_EQ(errors.size(), 1u);
    EXPECT_NE(errors[0].find("data is a folder"), std::string::npos) << errors[0];
    EXPECT_EQ(ReadFileText(dir / "out.upg"), "an older package");
    EXPECT_FALSE(FileExists(dir / "out.upg.part"));
}

TEST(BuilderPackage, LimitsAreReportedTogether) {
    TempDir dir;
    const std::string long_name = std::string(250, 'n');
    MakeTree(dir / "old", {{"keep.txt", ToBytes("k")}}, OldStamp());
    // Windows cannot hold a file named CON.txt, two names that differ only in letter case
    // or, in a temporary folder, a name that long: there only the text limits are tried.
    if (IsPosix())
        MakeTree(dir / "new", {{long_name, ToBytes("x")}, {"CON.txt", ToBytes("c")}, {"Case.txt", ToBytes("1")},
                               {"CASE.TXT", ToBytes("2")}}, NewStamp());
    else
        MakeTree(dir / "new", {{"Case.txt", ToBytes("1")}}, NewStamp());
    BuildOptions o = Options(dir);
    o.title = std::string(80, 't');
    o.description = std::string(8191, 'd') + "\n";  // the line end is stored as CR LF: 8193
    std::vector<std::string> errors;
    EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
    const std::string all = Joined(errors);
    EXPECT_NE(all.find("title has 80"), std::string::npos) << all;
    EXPECT_NE(all.find("description has 8193"), std::string::npos) << all;
    EXPECT_FALSE(FileExists(o.output));
    if (!IsPosix()) GTEST_SKIP() << "the names that Windows refuses cannot be made here";
    EXPECT_NE(all.find("differ only in letter case"), std::string::npos) << all;

    // Without the case clash, the names are the problem.
    fs::remove(dir / "new/CASE.TXT");
    o.title = std::string(79, 't');
    o.description = std::string(8191, 'd');
    errors.clear();
    EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
    ASSERT_EQ(errors.size(), 2u) << Joined(errors);
    EXPECT_NE(Joined(errors).find("reserved device name"), std::string::npos);
    EXPECT_NE(Joined(errors).find("249"), std::string::npos);

    // At the limits everything goes; the check cannot place a 249-character name in its
    // scratch folder and says so, so it is left out here.
    fs::remove(dir / "new/CON.txt");
    fs::rename(dir / ("new/" + long_name), dir / ("new/" + long_name.substr(1)));
    errors.clear();
    EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
    EXPECT_NE(Joined(errors).find("--no-check"), std::string::npos) << Joined(errors);
    o.check = false;
    errors.clear();
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    auto header = UpgradePackage::OpenHeader(o.output.c_str());
    EXPECT_EQ(std::string(header->Title), o.title);
    EXPECT_EQ(std::string(header->Description.get()), o.description);
}

TEST(BuilderPackage, EntryCountAndFormatVersion) {
    TempDir dir;
    MakeTree(dir / "old", {}, OldStamp());
    fs::create_directories(dir / "new/many");
    for (int i = 0; i <= kMaxEntries; ++i) WriteFileBytes(dir / ("new/many/f" + std::to_string(i)), {});
    BuildOptions o = Options(dir);
    std::vector<std::string> errors;
    EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
    EXPECT_NE(Joined(errors).find("10001 files differ"), std::string::npos) << Joined(errors);

    fs::remove(dir / "new/many/f0");  // exactly 10000 entries
    o.check = false;
    o.format_version = 0;
    errors.clear();
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    auto header = UpgradePackage::OpenHeader(o.output.c_str());
    EXPECT_EQ(header->EntryCount, kMaxEntries);
    EXPECT_EQ(header->FormatVersion, 0);
    header.reset();

    o.format_version = 18;
    errors.clear();
    EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
    EXPECT_NE(Joined(errors).find("format version 18"), std::string::npos);
}

TEST(BuilderPackage, FilesOfFourGiBAreRefused) {
    TempDir dir;
    MakeTree(dir / "old", {{"a.txt", ToBytes("a")}}, OldStamp());
    MakeTree(dir / "new", {{"a.txt", ToBytes("a")}}, OldStamp());
    WriteFileBytes(dir / "new/huge.bin", {});
    std::error_code ec;
    fs::resize_file(dir / "new/huge.bin", 1ull << 32, ec);  // sparse where the file system allows
    if (ec) GTEST_SKIP() << "no room for a 4 GiB file: " << ec.message();
    std::vector<std::string> errors;
    EXPECT_FALSE(BuildPackage(Options(dir), nullptr, nullptr, &errors));
    EXPECT_NE(Joined(errors).find("4 GiB"), std::string::npos) << Joined(errors);
}

TEST(BuilderPackage, ExcludesPoliciesAndDescriptions) {
    TempDir dir;
    MakeTree(dir / "old", {{"Maps/a.lvl", ToBytes("old a")}, {"Saves/s1.sav", ToBytes("s")}}, OldStamp());
    MakeTree(dir / "new", {{"Maps/a.lvl", ToBytes("new a")}, {"Maps/b.lvl", ToBytes("b")}, {"x.bak", ToBytes("x")},
                           {"Saves/s2.sav", ToBytes("t")}, {"System/Game.ini", ToBytes("g")}}, NewStamp());
    WriteFileText(dir / "policies.txt",
                  "# level files are critical\n"
                  "Maps\\*.lvl 2 2 Level data\n"
                  "*.ini 0 3\n");
    BuildOptions o = Options(dir);
    o.excludes = {"*.bak", "Saves"};
    o.policy_file = dir / "policies.txt";
    o.warning_policy = 3;
    o.error_policy = 0;
    o.description = "Line one\nLine two";
    std::vector<std::string> errors;
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    auto p = UpgradePackage::OpenFull(o.output.c_str(), dir.Path().c_str());
    ASSERT_TRUE(p->IsValid());
    EXPECT_STREQ(p->Description.get(), "Line one\r\nLine two");
    std::map<std::string, const FileEntry*> by_name;
    for (const FileEntry& e : p->entries) by_name[e.name] = &e;
    ASSERT_EQ(by_name.size(), 3u);  // no x.bak, nothing under Saves
    const FileEntry* a = by_name.at("Maps\\a.lvl");
    EXPECT_EQ(a->Operation, kOpUpdate);
    EXPECT_EQ(a->WarningPolicy, 2);
    EXPECT_EQ(a->ErrorPolicy, 2);
    EXPECT_STREQ(a->Description, "Level data");
    const FileEntry* ini = by_name.at("System\\Game.ini");
    EXPECT_EQ(ini->WarningPolicy, 0);
    EXPECT_EQ(ini->ErrorPolicy, 3);
    EXPECT_STREQ(ini->Description, "");
    EXPECT_EQ(by_name.at("Maps\\b.lvl")->Operation, kOpAdd);

    // A bad policy file is an error with its line number.
    WriteFileText(dir / "policies.txt", "*.lvl 9 9\n");
    errors.clear();
    EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
    EXPECT_NE(Joined(errors).find("policies.txt:1:"), std::string::npos) << Joined(errors);
}

TEST(BuilderPackage, CheckFindsADifferentResult) {
    TempDir dir;
    MakeTree(dir / "old", {{"a.txt", ToBytes("old")}}, OldStamp());
    MakeTree(dir / "new", {{"a.txt", ToBytes("new")}}, NewStamp());
    BuildOptions o = Options(dir);
    o.check = false;
    std::vector<std::string> errors;
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    CheckEntry e;
    e.operation = kOpUpdate;
    e.name = "a.txt";
    e.old_path = dir / "old/a.txt";
    e.new_path = dir / "new/a.txt";
    ASSERT_TRUE(ReadFileIdentity(e.new_path.c_str(), &e.new_identity));
    std::string error;
    EXPECT_TRUE(CheckPackage(o.output, {e}, dir.Path(), &error)) << error;
    // Compared with another file of the same size, the result differs.
    WriteFileText(dir / "other.txt", "wen");
    e.new_path = dir / "other.txt";
    EXPECT_FALSE(CheckPackage(o.output, {e}, dir.Path(), &error));
    EXPECT_NE(error.find("a.txt differs"), std::string::npos) << error;
    // A package that leaves the file untouched is found out as well.
    e.new_path = dir / "new/a.txt";
    e.operation = kOpRemove;
    EXPECT_FALSE(CheckPackage(o.output, {e}, dir.Path(), &error));
}


// With two threads, a script made beside the one being written waits in a spool; one of
// more than 16 MB goes to a file in the system's temporary folder (not the root of a
// drive, which users often cannot write), and the file goes away afterwards.
TEST(BuilderPackage, LargeScriptsWaitInATemporaryFile) {
    TempDir dir;
    std::mt19937 rng(77);
    Bytes big_old(8u << 20), literal(17u << 20);
    for (auto& c : big_old) c = static_cast<uint8_t>(rng());
    for (auto& c : literal) c = static_cast<uint8_t>(rng());
    Bytes big_new = big_old;
    big_new[12345] ^= 0xFF;
    // "a.bin" is made in its turn, straight into the package; the script of "b.bin" is
    // made beside it and waits.
    MakeTree(dir / "old", {{"a.bin", big_old}, {"b.bin", ToBytes("small")}}, OldStamp());
    MakeTree(dir / "new", {{"a.bin", big_new}, {"b.bin", literal}}, NewStamp());
    // The system's temporary folder is one of this test's own: a copy of the test running
    // at the same time (the suite runs in two time zones) has spools of its own.
    const std::string temporary = dir / "temporary";
    fs::create_directories(temporary);
    EnvironmentScope tmpdir("TMPDIR", temporary.c_str()), tmp("TMP", temporary.c_str()), temp("TEMP", temporary.c_str());
    auto spools = [&] {
        std::set<std::string> names;
        for (const auto& item : fs::directory_iterator(temporary))
            if (item.path().filename().string().rfind("ambrel-spool-", 0) == 0) names.insert(item.path().string());
        return names;
    };
    const std::set<std::string> before = spools();
    BuildOptions o = Options(dir);
    o.threads = 2;
    o.check = false;
    std::vector<std::string> errors;
    // A spool file that cannot be written fails the build, saying so, and goes away. (The
    // package writer does not write through the OS layer: the spool's are the only writes
    // counted, and b.bin is taken by the second thread while a.bin is being indexed.)
    os::InjectFault(os::FaultKind::kWrite, 1);
    const bool built = BuildPackage(o, nullptr, nullptr, &errors);
    EXPECT_GT(os::FaultCalls(os::FaultKind::kWrite), 0u) << "no script was spooled to a file";
    os::InjectFault(os::FaultKind::kCount, 0);
    EXPECT_FALSE(built);
    EXPECT_NE(Joined(errors).find("a script kept aside: cannot write the temporary file"), std::string::npos)
        << Joined(errors);
    EXPECT_FALSE(FileExists(o.output));
    EXPECT_EQ(spools(), before) << "a spool file was left behind after the failure";
    errors.clear();
    ASSERT_TRUE(BuildPackage(o, nullptr, nullptr, &errors)) << Joined(errors);
    EXPECT_EQ(spools(), before) << "a spool file was left behind";
    EXPECT_TRUE(AppliesToCopy(o.output, o.old_dir, o.new_dir, dir / "work"));
}

// The worker pool makes scripts side by side and out of turn; the package is the same for
// every number of threads, also when the memory limit lets only some files run together
// and sends the large ones to the block-hash index.
TEST(BuilderPackage, SamePackageForEveryNumberOfThreads) {
    TempDir dir;
    Files old_files, new_files;
    for (int i = 0; i < 40; ++i) {
        const std::string folder = "Data" + std::to_string(i % 4) + (i % 3 == 0 ? "/Deep/" : "/");
        const std::string name = folder + "file" + std::to_string(i) + ".bin";
        const Bytes content = RandomBytes(1000 + 7919 * static_cast<size_t>(i % 13) * (i % 5 == 0 ? 40 : 1), 100 + i);
        switch (i % 5) {
            case 0: case 1: case 2:  // updated, some of them large
                old_files[name] = content;
                new_files[name] = Mutate(content, 200 + i);
                break;
            case 3:  // added
                new_files[name] = content;
                break;
            default:  // removed
                old_files[name] = content;
                break;
        }
    }
    MakeTree(dir / "old", old_files, OldStamp());
    MakeTree(dir / "new", new_files, NewStamp());

    for (const uint64_t limit : {uint64_t{1} << 30, uint64_t{24} << 20}) {
        Bytes one_thread;
        for (const int threads : {1, 2, 7}) {
            SCOPED_TRACE("threads " + std::to_string(threads) + ", limit " + std::to_string(limit >> 20) + " MiB");
            BuildOptions o = Options(dir);
            o.threads = threads;
            o.memory_limit = limit;
            o.compression = 9;
            o.check = threads == 7;
            BuildSummary summary;
            std::vector<std::string> errors;
            ASSERT_TRUE(BuildPackage(o, nullptr, &summary, &errors)) << Joined(errors);
            EXPECT_EQ(summary.adds + summary.updates + summary.removes, 40);
            if (limit < (64u << 20)) {
                EXPECT_GT(summary.block_index_files, 0) << "the small limit should send large files to block hashes";
            }
            if (threads == 1)
                one_thread = ReadFileBytes(o.output);
            else
                EXPECT_EQ(ReadFileBytes(o.output), one_thread) << "the package differs from the one-thread package";
        }
    }
}

TEST(BuilderPackage, ThreadCountOutsideItsRangeIsRefused) {
    TempDir dir;
    MakeTree(dir / "old", {{"a.txt", ToBytes("old")}}, OldStamp());
    MakeTree(dir / "new", {{"a.txt", ToBytes("new")}}, NewStamp());
    for (const int threads : {0, kMaxBuildThreads + 1}) {
        BuildOptions o = Options(dir);
        o.threads = threads;
        std::vector<std::string> errors;
        EXPECT_FALSE(BuildPackage(o, nullptr, nullptr, &errors));
        EXPECT_NE(Joined(errors).find("threads must be 1 to 256"), std::string::npos) << Joined(errors);
        EXPECT_FALSE(FileExists(o.output));
    }
    EXPECT_GE(DefaultBuildThreads(), 1);
    EXPECT_LE(DefaultBuildThreads(), kMaxBuildThreads);
}
