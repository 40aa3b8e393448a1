// Tests of the thin OS layer: the Windows behaviour the POSIX layer emulates (separators,
// letter case, read-only files, local-time MS-DOS stamps) and the calls both layers share.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <thread>

#include "io/fault_injection.h"
#include "io/os.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {


std::vector<std::string> Names(const std::string& folder) {
    std::vector<os::FolderItem> items;
    EXPECT_TRUE(os::ListFolder(folder.c_str(), &items)) << folder;
    std::vector<std::string> names;
    for (auto& i : items)
        if (i.name != "." && i.name != "..") names.push_back(i.name);
    std::sort(names.begin(), names.end());
    return names;
}

uint32_t ReadStamp(const std::string& path) {
    os::FileHandle h = os::OpenFile(path.c_str(), os::kModeRead);
    EXPECT_NE(h, os::kInvalidHandle) << path;
    uint32_t stamp = 0xDEADBEEF;
    bool ok = os::GetFileStamp(h, &stamp);
    os::CloseFile(h);
    // No valid stamp has all bits set (month 15): it stands for "refused, output cleared".
    return ok ? stamp : (stamp == 0 ? 0xFFFFFFFF : 0xBADBAD);
}

// Sets the file's modification time to `when` (seconds since 1970, UTC) through the library.
void SetMTime(const std::string& path, int64_t when) {
    auto sys = std::chrono::system_clock::from_time_t(static_cast<std::time_t>(when));
    auto offset = sys - std::chrono::system_clock::now();
    fs::last_write_time(path, fs::file_time_type::clock::now() +
                                  std::chrono::duration_cast<fs::file_time_type::duration>(offset));
}

std::time_t MTime(const std::string& path) {
    auto offset = fs::last_write_time(path) - fs::file_time_type::clock::now();
    auto sys = std::chrono::system_clock::now() +
               std::chrono::duration_cast<std::chrono::system_clock::duration>(offset) +
               std::chrono::milliseconds(500);
    return std::chrono::system_clock::to_time_t(sys);
}

TEST(OsNames, BackslashSeparatesFolders) {
    if (!IsPosix()) GTEST_SKIP() << "native separator";
    TempDir dir;
    ASSERT_TRUE(os::CreateFolder((dir.Path() + "\\sub").c_str()));
    os::FileHandle h = os::OpenFile((dir.Path() + "\\sub\\file.txt").c_str(), os::kModeWrite);
    ASSERT_NE(h, os::kInvalidHandle);
    os::CloseFile(h);
    EXPECT_TRUE(FileExists(dir.Path() + "/sub/file.txt"));
    EXPECT_EQ(os::GetAttributes((dir.Path() + "\\sub").c_str()), os::kAttrDirectory);
}

TEST(OsNames, LetterCaseIsIgnoredInEveryComponent) {
    TempDir dir;
    WriteFileText(dir / "Alpha/Beta/Gamma.txt", "gamma");
    std::string upper = dir / "ALPHA/beta/GAMMA.TXT";
    os::FileHandle h = os::OpenFile(upper.c_str(), os::kModeRead);
    ASSERT_NE(h, os::kInvalidHandle);
    char buf[8] = {};
    uint32_t got = 0;
    EXPECT_TRUE(os::ReadFile(h, buf, sizeof buf, &got));
    EXPECT_EQ(std::string(buf, got), "gamma");
    os::CloseFile(h);

    // Writing through another spelling replaces the stored file; a new name keeps its own.
    h = os::OpenFile(upper.c_str(), os::kModeWrite);
    ASSERT_NE(h, os::kInvalidHandle);
    os::CloseFile(h);
    h = os::OpenFile((dir / "alpha/BETA/New.txt").c_str(), os::kModeWrite);
    ASSERT_NE(h, os::kInvalidHandle);
    os::CloseFile(h);
    EXPECT_EQ(Names(dir.Path()), std::vector<std::string>{"Alpha"});
    EXPECT_EQ(Names(dir / "Alpha/Beta"), (std::vector<std::string>{"Gamma.txt", "New.txt"}));
    EXPECT_EQ(ReadFileText(dir / "Alpha/Beta/Gamma.txt"), "");

    std::string stored;
    EXPECT_TRUE(os::FindStoredName((dir / "aLPHA/bETA/gamma.TXT").c_str(), &stored));
    EXPECT_EQ(stored, "Gamma.txt");
    EXPECT_FALSE(os::CreateFolder((dir / "ALPHA").c_str())) << "exists under another spelling";
    EXPECT_TRUE(os::DeleteFile((dir / "ALPHA/BETA/NEW.TXT").c_str()));
    EXPECT_FALSE(FileExists(dir / "Alpha/Beta/New.txt"));
    // A rename that changes only the letter case is no clash with an existing file.
    EXPECT_TRUE(os::MoveFile((dir / "alpha/beta/gamma.txt").c_str(), (dir / "alpha/beta/GAMMA.txt").c_str()));
    auto names = Names(dir / "Alpha/Beta");
    ASSERT_EQ(names.size(), 1u);
    if (IsPosix()) {  // Wine keeps the old spelling
        EXPECT_EQ(names[0], "GAMMA.txt");
    }
}

TEST(OsFiles, ReadOnlyFileIsRefusedForEveryChange) {
    TempDir dir;
    std::string ro = dir / "ro.txt", other = dir / "other.txt";
    WriteFileText(ro, "keep");
    WriteFileText(other, "other");
    ASSERT_TRUE(os::SetReadOnly(ro.c_str(), true));
    EXPECT_TRUE(os::GetAttributes(ro.c_str()) & os::kAttrReadOnly);
    // Refused even to root, whose permissions are not checked by the system.
    EXPECT_EQ(os::OpenFile(ro.c_str(), os::kModeWrite), os::kInvalidHandle);
    EXPECT_EQ(os::OpenFile(ro.c_str(), os::kModeReadWrite), os::kInvalidHandle);
    EXPECT_FALSE(os::DeleteFile(ro.c_str()));
    EXPECT_FALSE(os::ReplaceFile(other.c_str(), ro.c_str()));
    EXPECT_FALSE(os::MoveFile(other.c_str(), ro.c_str()));
    EXPECT_EQ(ReadFileText(ro), "keep");
    EXPECT_EQ(ReadFileText(other), "other");
    os::FileHandle h = os::OpenFile(ro.c_str(), os::kModeRead);
    EXPECT_NE(h, os::kInvalidHandle);
    os::CloseFile(h);

    ASSERT_TRUE(os::SetReadOnly(ro.c_str(), false));
    EXPECT_FALSE(os::GetAttributes(ro.c_str()) & os::kAttrReadOnly);
    EXPECT_TRUE(os::ReplaceFile(other.c_str(), ro.c_str()));
    EXPECT_EQ(ReadFileText(ro), "other");
    EXPECT_FALSE(FileExists(other));
}

TEST(OsFiles, AttributesOfFilesAndFolders) {
    TempDir dir;
    WriteFileText(dir / "f", "x");
    ASSERT_TRUE(os::CreateFolder((dir / "d").c_str()));
    uint32_t file = os::GetAttributes((dir / "f").c_str());
    EXPECT_EQ(file & (os::kAttrDirectory | os::kAttrReadOnly), 0u);
    if (IsPosix()) {
        EXPECT_EQ(file, os::kAttrNormal);
    }
    EXPECT_TRUE(os::GetAttributes((dir / "d").c_str()) & os::kAttrDirectory);
    EXPECT_EQ(os::GetAttributes((dir / "none").c_str()), os::kInvalidAttributes);
    if (IsPosix()) {
        ASSERT_TRUE(os::SetReadOnly((dir / "d").c_str(), true));
        EXPECT_EQ(os::GetAttributes((dir / "d").c_str()), os::kAttrDirectory | os::kAttrReadOnly);
    }
}

TEST(OsFiles, FolderMoveAndReplaceRules) {
    TempDir dir;
    std::string a = dir / "a.txt", b = dir / "b.txt", d = dir / "d";
    WriteFileText(a, "A");
    WriteFileText(b, "B");
    EXPECT_TRUE(os::CreateFolder(d.c_str()));
    EXPECT_FALSE(os::CreateFolder(d.c_str()));
    EXPECT_FALSE(os::CreateFolder((dir / "x/y").c_str()));
    EXPECT_FALSE(os::DeleteFile(d.c_str())) << "folders are not files";
    EXPECT_TRUE(FolderExists(d));
    EXPECT_FALSE(os::MoveFile(a.c_str(), b.c_str())) << "the destination exists";
    EXPECT_EQ(ReadFileText(b), "B");
    EXPECT_TRUE(os::MoveFile(a.c_str(), (d + os::kSeparator + "a.txt").c_str()));
    EXPECT_FALSE(os::RemoveFolder(d.c_str())) << "not empty";
    EXPECT_FALSE(os::ReplaceFile(a.c_str(), b.c_str())) << "the source is gone";
    EXPECT_EQ(ReadFileText(b), "B") << "a missing source must not cost the destination";
    EXPECT_TRUE(os::ReplaceFile((d + os::kSeparator + "a.txt").c_str(), b.c_str()));
    EXPECT_EQ(ReadFileText(b), "A");
    EXPECT_TRUE(os::RemoveFolder(d.c_str()));
    EXPECT_FALSE(os::DeleteFile(a.c_str()));
}

TEST(OsFiles, StoredNamesAndListing) {
    TempDir dir;
    WriteFileText(dir / "File.Txt", "1");
    ASSERT_TRUE(os::CreateFolder((dir / "Sub").c_str()));
    std::string stored = "unchanged";
    EXPECT_FALSE(os::FindStoredName((dir.Path() + os::kSeparator).c_str(), &stored));
    EXPECT_FALSE(os::FindStoredName((dir / "missing").c_str(), &stored));
    EXPECT_EQ(stored, "unchanged");
    std::vector<os::FolderItem> items;
    ASSERT_TRUE(os::ListFolder(dir.Path().c_str(), &items));
    int seen = 0;
    for (auto& i : items) {
        if (i.name == "File.Txt") {
            EXPECT_FALSE(i.is_folder);
            seen += 1;
        }
        if (i.name == "Sub") {
            EXPECT_TRUE(i.is_folder);
            seen += 2;
        }
    }
    EXPECT_EQ(seen, 3);
    EXPECT_FALSE(os::ListFolder((dir / "missing").c_str(), &items));
}

TEST(OsFiles, LinkedFolderIsNotAFolderToList) {
    if (!IsPosix()) GTEST_SKIP() << "symbolic links";
    TempDir dir;
    ASSERT_TRUE(os::CreateFolder((dir / "real").c_str()));
    std::error_code ec;
    fs::create_directory_symlink(dir / "real", dir / "link", ec);
    if (ec) GTEST_SKIP() << "cannot make a link: " << ec.message();
    std::vector<os::FolderItem> items;
    ASSERT_TRUE(os::ListFolder(dir.Path().c_str(), &items));
    int seen = 0;
    for (auto& i : items) {
        if (i.name == "link") {
            EXPECT_FALSE(i.is_folder);
            ++seen;
        } else if (i.name == "real") {
            EXPECT_TRUE(i.is_folder);
            ++seen;
        }
    }
    EXPECT_EQ(seen, 2);
}

TEST(OsSystem, CurrentFolderDrivesTicksResources) {
    char small[2];
    EXPECT_FALSE(os::GetCurrentFolder(small, sizeof small));
    char before[os::kMaxPath];
    ASSERT_TRUE(os::GetCurrentFolder(before, sizeof before));
    {
        TempDir dir;
        ASSERT_TRUE(os::SetCurrentFolder(dir.Path().c_str()));
        char now[os::kMaxPath];
        ASSERT_TRUE(os::GetCurrentFolder(now, sizeof now));
        EXPECT_TRUE(fs::equivalent(now, dir.Path()));
        ASSERT_TRUE(os::SetCurrentFolder(before));
        EXPECT_EQ(os::GetDriveType((dir.Path() + os::kSeparator + "none" + os::kSeparator).c_str()),
                  os::kDriveNoRootDir);
    }
    auto roots = os::FixedDriveRoots();
    ASSERT_FALSE(roots.empty());
    for (auto& r : roots) EXPECT_EQ(os::GetDriveType(r.c_str()), os::kDriveFixed) << r;
    if (IsPosix()) {
        EXPECT_EQ(roots, std::vector<std::string>{"/"});
    }

    uint32_t t0 = os::TickCount();
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    uint32_t elapsed = os::TickCount() - t0;
    EXPECT_GE(elapsed, 40u);
    EXPECT_LT(elapsed, 10000u);

    const void* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(os::FindRawResource(nullptr, {101, nullptr}, &data, &size));
    EXPECT_GT(size, 100u);
    EXPECT_NE(std::string(static_cast<const char*>(data), size).find('\n'), std::string::npos);
    EXPECT_FALSE(os::FindRawResource(nullptr, {9999, nullptr}, &data, &size));
}

TEST(OsSystem, EmbeddedResourceTableLookup) {
    if (!IsPosix()) GTEST_SKIP() << "Windows modules carry their resources themselves";
    static const unsigned char seven[] = "seven", hello[] = "hi";
    static const os::EmbeddedResource items[] = {{{7, nullptr}, seven, 5}, {{0, "Hello"}, hello, 2}};
    static const os::ResourceTable table = {items, 2};
    const void* data = nullptr;
    size_t size = 0;
    ASSERT_TRUE(os::FindRawResource(&table, {7, nullptr}, &data, &size));
    EXPECT_EQ(std::string(static_cast<const char*>(data), size), "seven");
    ASSERT_TRUE(os::FindRawResource(&table, {0, "HELLO"}, &data, &size));
    EXPECT_EQ(std::string(static_cast<const char*>(data), size), "hi");
    EXPECT_FALSE(os::FindRawResource(&table, {0, "Hell"}, &data, &size));
    EXPECT_FALSE(os::FindRawResource(&table, {0, nullptr}, &data, &size)) << "a number never matches a name";
    EXPECT_FALSE(os::FindRawResource(&table, {101, nullptr}, &data, &size));
}

// ---- MS-DOS stamps in local time ----

TEST(OsStamp, RoundTripsWithinTheDosRange) {
    TempDir dir;
    std::string f = dir / "s.bin";
    WriteFileText(f, "s");
    for (uint32_t stamp : {DosStamp(2020, 1, 10, 8, 0, 0), DosStamp(2021, 7, 15, 13, 45, 58),
                           DosStamp(1980, 1, 1, 0, 0, 0), DosStamp(2107, 12, 31, 23, 59, 58),
                           DosStamp(2024, 2, 29, 12, 0, 2)}) {
        SetStamp(f, stamp);
        EXPECT_EQ(ReadStamp(f), stamp) << std::hex << stamp;
    }
    // Odd seconds are kept at two-second resolution: 59 s is stored as 58 s.
    SetMTime(f, 1600000001);  // 2020-09-13 12:26:41 UTC
    uint32_t s = ReadStamp(f);
    EXPECT_EQ(s & 31, 20u);
}

TEST(OsStamp, InvalidStampsAreRefused) {
    TempDir dir;
    std::string f = dir / "s.bin";
    WriteFileText(f, "s");
    uint32_t good = DosStamp(2001, 5, 6, 7, 8, 10);
    SetStamp(f, good);
    os::FileHandle h = os::OpenFile(f.c_str(), os::kModeReadWrite);
    ASSERT_NE(h, os::kInvalidHandle);
    for (uint32_t bad : {DosStamp(2001, 0, 6, 7, 8, 10), DosStamp(2001, 13, 6, 7, 8, 10), DosStamp(2001, 5, 0, 7, 8, 10),
                         DosStamp(2001, 2, 30, 7, 8, 10), DosStamp(2001, 5, 6, 24, 8, 10),
                         DosStamp(2001, 5, 6, 7, 60, 10), DosStamp(2001, 5, 6, 7, 8, 60)})
        EXPECT_FALSE(os::SetFileStamp(h, bad)) << std::hex << bad;
    os::CloseFile(h);
    EXPECT_EQ(ReadStamp(f), good);

    if (IsPosix()) {  // Windows itself refuses it; Wine does not
        h = os::OpenFile(f.c_str(), os::kModeRead);
        EXPECT_FALSE(os::SetFileStamp(h, DosStamp(2002, 1, 1, 0, 0, 0))) << "needs a handle open for writing";
        os::CloseFile(h);
        EXPECT_EQ(ReadStamp(f), good);
    }
}

TEST(OsStamp, TimesOutsideTheDosRangeGiveNoStamp) {
    TempDir dir;
    std::string f = dir / "s.bin";
    WriteFileText(f, "s");
    SetMTime(f, 170812800);  // 1975-06-01
    EXPECT_EQ(ReadStamp(f), 0xFFFFFFFFu);
    SetMTime(f, 4433097600LL);  // 2110-06-25
    EXPECT_EQ(ReadStamp(f), 0xFFFFFFFFu);
}

TEST(OsStamp, StampsAreLocalTime) {
    TempDir dir;
    std::string f = dir / "s.bin";
    WriteFileText(f, "now");
    // A file written now carries the local clock's date and time.
    std::time_t now = std::time(nullptr);
    std::tm local = *std::localtime(&now);
    uint32_t expected = DosStamp(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour, local.tm_min,
                                 local.tm_sec);
    uint32_t got = ReadStamp(f);
    auto seconds = [](uint32_t stamp) {
        return static_cast<int>((stamp >> 11) & 31) * 3600 + static_cast<int>((stamp >> 5) & 63) * 60 +
               static_cast<int>(stamp & 31) * 2;
    };
    EXPECT_EQ(got >> 16, expected >> 16);
    EXPECT_NEAR(seconds(got), seconds(expected), 4) << std::hex << got << " " << expected;

    // The POSIX layer converts with the rules of each date: summer and winter alike.
    if (!IsPosix()) return;
    struct When {
        int y, mo, d, h, mi, s;
    };
    for (When w : {When{2021, 7, 15, 13, 45, 58}, When{2020, 1, 10, 8, 0, 0}}) {
        SetStamp(f, DosStamp(w.y, w.mo, w.d, w.h, w.mi, w.s));
        std::time_t t = MTime(f);
        std::tm back = *std::localtime(&t);
        EXPECT_EQ(back.tm_year + 1900, w.y);
        EXPECT_EQ(back.tm_mon + 1, w.mo);
        EXPECT_EQ(back.tm_mday, w.d);
        EXPECT_EQ(back.tm_hour, w.h);
        EXPECT_EQ(back.tm_min, w.mi);
        EXPECT_EQ(back.tm_sec, w.s);
    }
}

// The package builder's threads go through the OS layer at the same time: every call is
// counted, and exactly the armed call fails, whichever thread makes it.
TEST(OsFaults, CountsHoldAcrossThreads) {
    constexpr int kThreads = 4, kCalls = 500000;
    os::InjectFault(os::FaultKind::kRead, kThreads * kCalls / 2);
    std::atomic<int> hits{0}, ready{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t)
        threads.emplace_back([&] {
            for (++ready; ready < kThreads;) std::this_thread::yield();  // all start together
            for (int i = 0; i < kCalls; ++i)
                if (os::FaultHits(os::FaultKind::kRead)) ++hits;
        });
    for (std::thread& t : threads) t.join();
    EXPECT_EQ(os::FaultCalls(os::FaultKind::kRead), static_cast<uint32_t>(kThreads * kCalls));
    EXPECT_EQ(hits.load(), 1);
    EXPECT_EQ(os::FaultCalls(os::FaultKind::kWrite), 0u);
    os::InjectFault(os::FaultKind::kCount, 0);
}

TEST(OsBuilderCalls, TemporaryFolderIsAFolderEndingInASeparator) {
    std::string folder;
    ASSERT_TRUE(os::TemporaryFolder(&folder));
    ASSERT_FALSE(folder.empty());
    EXPECT_TRUE(os::IsSeparator(folder.back())) << folder;
    const uint32_t attributes = os::GetAttributes(folder.c_str());
    EXPECT_TRUE(attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory) != 0) << folder;
#ifndef _WIN32
    // TMPDIR names it; unset or empty, /tmp does; a TMPDIR that is not a folder is refused.
    TempDir dir;
    WriteFileText(dir / "file", "not a folder");
    {
        EnvironmentScope scope("TMPDIR", dir.Path().c_str());
        ASSERT_TRUE(os::TemporaryFolder(&folder));
        EXPECT_EQ(folder, dir.Path() + "/");
    }
    for (const char* value : {static_cast<const char*>(nullptr), ""}) {
        EnvironmentScope scope("TMPDIR", value);
        ASSERT_TRUE(os::TemporaryFolder(&folder));
        EXPECT_EQ(folder, "/tmp/");
    }
    for (const std::string& bad : {dir / "missing", dir / "file"}) {
        EnvironmentScope scope("TMPDIR", bad.c_str());
        folder = "unchanged";
        EXPECT_FALSE(os::TemporaryFolder(&folder)) << bad;
        EXPECT_EQ(folder, "unchanged");
    }
#endif
}

TEST(OsBuilderCalls, SameFileComparesIdentitiesNotSpellings) {
    TempDir dir;
    WriteFileText(dir / "sub/file.txt", "same");
    WriteFileText(dir / "other.txt", "same");
    const std::string file = dir / "sub/file.txt";
    EXPECT_TRUE(os::SameFile(file.c_str(), file.c_str()));
    EXPECT_TRUE(os::SameFile(file.c_str(), (dir / "sub/../sub/file.txt").c_str()));
    EXPECT_TRUE(os::SameFile((dir / "SUB/File.TXT").c_str(), file.c_str())) << "letter case";
    EXPECT_FALSE(os::SameFile(file.c_str(), (dir / "other.txt").c_str())) << "the same contents, another file";
    EXPECT_FALSE(os::SameFile(file.c_str(), (dir / "missing.txt").c_str()));
    EXPECT_FALSE(os::SameFile((dir / "missing.txt").c_str(), (dir / "missing.txt").c_str()));
    EXPECT_TRUE(os::SameFile((dir / "sub").c_str(), (dir / "sub/.").c_str())) << "folders too";
    if (!IsPosix()) return;
    fs::create_hard_link(file, dir / "hard.txt");
    EXPECT_TRUE(os::SameFile((dir / "hard.txt").c_str(), file.c_str())) << "another link to the file";
}

}  // namespace
