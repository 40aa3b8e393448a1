// Tests of the path and file-operation helpers: the file test, folder and file removal,
// the replacing move, stored names, the folder guard and path joining.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>

#include "io/file_ops.h"
#include "io/os.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

TEST(FileOps, FileTestsOnFilesFoldersAndMissingPaths) {
    TempDir dir;
    std::string file = dir / "plain.txt", ro = dir / ".hidden.txt";
    WriteFileText(file, "p");
    WriteFileText(ro, "r");
    ASSERT_TRUE(os::SetReadOnly(ro.c_str(), true));
    EXPECT_EQ(IsExistingFile(file.c_str()), 1);
    EXPECT_EQ(IsExistingFile(ro.c_str()), 1);
    EXPECT_EQ(IsExistingFile(dir.Path().c_str()), 0);
    EXPECT_EQ(IsExistingFile((dir / "missing").c_str()), 0);
    EXPECT_EQ(IsReadOnlyFile(ro.c_str()), 1);
    EXPECT_EQ(IsReadOnlyFile(file.c_str()), 0);
    EXPECT_EQ(IsReadOnlyFile((dir / "missing").c_str()), 0);
}

TEST(FileOps, FoldersOneLevelAndOnlyWhenEmpty) {
    TempDir dir;
    std::string a = dir / "a";
    EXPECT_EQ(CreateFolder(a.c_str()), 1);
    WriteFileText(dir / "a/inside.txt", "i");
    EXPECT_EQ(CreateFolder(a.c_str()), 0);
    EXPECT_EQ(ReadFileText(dir / "a/inside.txt"), "i") << "an existing folder is left as it is";
    EXPECT_EQ(CreateFolder((dir / "b/c").c_str()), 0) << "the parent is missing";
    EXPECT_FALSE(FolderExists(dir / "b"));
    EXPECT_EQ(RemoveFolder(a.c_str()), 0);
    EXPECT_TRUE(FileExists(dir / "a/inside.txt"));
    EXPECT_EQ(RemoveFile((dir / "a/inside.txt").c_str()), 1);
    EXPECT_EQ(RemoveFolder(a.c_str()), 1);
    EXPECT_EQ(RemoveFolder(a.c_str()), 0);
}

TEST(FileOps, RemoveFileRefusesReadOnlyMissingAndFolders) {
    TempDir dir;
    std::string ro = dir / "ro.txt";
    WriteFileText(ro, "r");
    ASSERT_TRUE(os::SetReadOnly(ro.c_str(), true));
    EXPECT_EQ(RemoveFile(ro.c_str()), 0);
    EXPECT_TRUE(FileExists(ro));
    EXPECT_EQ(RemoveFile((dir / "missing").c_str()), 0);
    EXPECT_EQ(RemoveFile(dir.Path().c_str()), 0);
}

TEST(FileOps, SamePathTextFoldsLettersAsTheFileSystem) {
    EXPECT_TRUE(SamePathText("C:\\A\\X.TMP", "c:\\a\\x.tmp"));
    EXPECT_FALSE(SamePathText("a[", "A{")) << "only letters are folded";
    EXPECT_TRUE(SamePathText("\xC9", "\xE9")) << "E with acute, in the code page";
    EXPECT_FALSE(SamePathText("\xC9", "\xC8")) << "E with acute and with grave";
    EXPECT_FALSE(SamePathText("abc", "ab"));
    EXPECT_FALSE(SamePathText("a\\b", "a/b"));
}

TEST(FileOps, MoveFileReplacing) {
    TempDir dir;
    std::string src = dir / "X.TMP";
    WriteFileText(src, "new");
    // The same name in two letter cases: nothing is touched.
    EXPECT_EQ(MoveFileReplacing(src.c_str(), (dir.Path() + os::kSeparator + "x.tmp").c_str()), 0);
    EXPECT_EQ(ReadFileText(src), "new");
    EXPECT_EQ(MoveFileReplacing("C:\\A\\X.TMP", "c:\\a\\x.tmp"), 0);

    // Onto a missing destination the move simply happens.
    std::string dst = dir / "target.bin";
    EXPECT_EQ(MoveFileReplacing(src.c_str(), dst.c_str()), 1);
    EXPECT_FALSE(FileExists(src));
    EXPECT_EQ(ReadFileText(dst), "new");

    // Onto an existing destination it replaces it.
    WriteFileText(src, "newer");
    EXPECT_EQ(MoveFileReplacing(src.c_str(), dst.c_str()), 1);
    EXPECT_EQ(ReadFileText(dst), "newer");

    // Onto a read-only destination it fails and both files stay.
    WriteFileText(src, "newest");
    ASSERT_TRUE(os::SetReadOnly(dst.c_str(), true));
    EXPECT_EQ(MoveFileReplacing(src.c_str(), dst.c_str()), 0);
    EXPECT_EQ(ReadFileText(src), "newest");
    EXPECT_EQ(ReadFileText(dst), "newer");
    ASSERT_TRUE(os::SetReadOnly(dst.c_str(), false));

    // A missing source leaves the destination alone.
    EXPECT_EQ(MoveFileReplacing((dir / "none").c_str(), dst.c_str()), 0);
    EXPECT_EQ(ReadFileText(dst), "newer");
}

TEST(FileOps, StoredFileNameChangesOnlyTheLastComponent) {
    TempDir dir;
    ASSERT_EQ(CreateFolder((dir / "Sub").c_str()), 1);
    ASSERT_EQ(CreateFolder((dir / "Sub/Game").c_str()), 1);
    char out[os::kMaxPath];
    std::string asked = dir / "SUB/GAME";
    GetStoredFileName(asked.c_str(), out);
    EXPECT_EQ(std::string(out), dir / "SUB/Game");

    std::string missing = dir / "Sub/NoSuch";
    GetStoredFileName(missing.c_str(), out);
    EXPECT_EQ(std::string(out), missing);
    std::string trailing = dir / "Sub/Game/";
    GetStoredFileName(trailing.c_str(), out);
    EXPECT_EQ(std::string(out), trailing);

    // An over-long path is cut to the buffer, never written past it.
    std::string huge(400, 'z');
    char guarded[os::kMaxPath + 8];
    std::memset(guarded, '#', sizeof guarded);
    GetStoredFileName(huge.c_str(), guarded);
    EXPECT_EQ(std::strlen(guarded), static_cast<size_t>(os::kMaxPath - 1));
    EXPECT_EQ(guarded[os::kMaxPath], '#');
}

TEST(FileOps, CurrentFolderGuardRestoresNested) {
    char before[os::kMaxPath];
    ASSERT_TRUE(os::GetCurrentFolder(before, sizeof before));
    TempDir dir;
    ASSERT_EQ(CreateFolder((dir / "inner").c_str()), 1);
    {
        CurrentFolderGuard outer;
        ASSERT_TRUE(os::SetCurrentFolder(dir.Path().c_str()));
        {
            CurrentFolderGuard inner;
            ASSERT_TRUE(os::SetCurrentFolder((dir / "inner").c_str()));
        }
        char now[os::kMaxPath];
        ASSERT_TRUE(os::GetCurrentFolder(now, sizeof now));
        EXPECT_TRUE(fs::equivalent(now, dir.Path()));
    }
    char after[os::kMaxPath];
    ASSERT_TRUE(os::GetCurrentFolder(after, sizeof after));
    EXPECT_STREQ(after, before);
}

TEST(FileOps, JoinPathRefusesWhatDoesNotFit) {
    char out[8];
    std::string sep(1, os::kSeparator);
    EXPECT_TRUE(JoinPath(out, sizeof out, "ab", "cd"));
    EXPECT_EQ(std::string(out), "ab" + sep + "cd");
    EXPECT_TRUE(JoinPath(out, sizeof out, "abc\\", "def"));
    EXPECT_STREQ(out, "abc\\def");
    EXPECT_TRUE(JoinPath(out, sizeof out, "", "x"));
    EXPECT_STREQ(out, "x");
    EXPECT_TRUE(JoinPath(out, sizeof out, "abc", "def")) << "7 characters and the NUL fit exactly";
    EXPECT_FALSE(JoinPath(out, sizeof out, "abcd", "def"));
    EXPECT_STREQ(out, "");
    // The output may be one of the inputs.
    std::strcpy(out, "ab");
    EXPECT_TRUE(JoinPath(out, sizeof out, out, "c"));
    EXPECT_EQ(std::string(out), "ab" + sep + "c");
}

}  // namespace
