// The search for the installed copy: breadth-first over the given roots, "." folders
// passed over, the first match wins, and the found folder as the front end gets it.
#include <gtest/gtest.h>

#include <filesystem>

#include "apply/search.h"
#include "io/os.h"
#include "package/package.h"
#include "support/apply_support.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

const Bytes kGame = ToBytes("the installed game file");

class SearchTest : public ::testing::Test {
protected:
    void SetUp() override {
        PackagePlan plan;
        plan.Update("game.dat", kGame, ToBytes("patched"), 1, 1);
        plan.Add("extra.dat", ToBytes("extra"));
        plan.Write(package_path_);
    }
    // Puts a matching installation into `folder` (relative to the root).
    void Installation(const std::string& folder) {
        std::string file = root_ / (folder + "/game.dat");
        WriteFileBytes(file, kGame);
        SetStamp(file, OldStamp());
    }
    void Folder(const std::string& folder) { fs::create_directories(root_ / folder); }
    std::string Search(const std::vector<std::string>& roots) {
        char found[os::kMaxPath] = "unchanged";
        if (!LocateInstalledTarget(package_path_.c_str(), found, roots)) return "";
        return found;
    }

    TempDir packages_;
    std::string package_path_ = packages_ / "p.upg";
    TempDir root_;
};

}  // namespace

TEST_F(SearchTest, BreadthFirstFindsTheShallowestMatch) {
    // "a" comes first in any listing order of the search only by level: a/x/inst is
    // deeper than b/inst.
    Installation("a/x/inst");
    Installation("b/inst");
    Folder("c");
    EXPECT_EQ(Search({root_.Path()}), root_ / "b/inst");
}

TEST_F(SearchTest, OneRootIsSearchedCompletelyBeforeTheNext) {
    TempDir second;
    Installation("deep/er/still/inst");
    WriteFileBytes(second / "game.dat", kGame);
    SetStamp(second / "game.dat", OldStamp());
    EXPECT_EQ(Search({root_.Path(), second.Path()}), root_ / "deep/er/still/inst");
    EXPECT_EQ(Search({root_ / "c-missing", second.Path()}), second.Path());
}

TEST_F(SearchTest, DotFoldersAreNotEntered) {
    Installation(".hidden/inst");
    Installation("a/.cache");
    Folder("b/c");
    EXPECT_EQ(Search({root_.Path()}), "");
    Installation("b/c/inst");
    EXPECT_EQ(Search({root_.Path()}), root_ / "b/c/inst");
}

TEST_F(SearchTest, FirstMatchWinsAndRootsKeepTheirForm) {
    // A package that checks nothing matches the first folder: the root itself.
    PackagePlan adds;
    adds.Add("only-added.dat", ToBytes("x"));
    adds.Write(package_path_);
    Installation("sub/inst");
    EXPECT_EQ(Search({root_.Path()}), root_.Path());
    std::string with_separator = root_.Path() + os::kSeparator;
    EXPECT_EQ(Search({with_separator}), root_.Path());
}

TEST_F(SearchTest, FoundFolderIsSpelledAsStored) {
    // Only the last component takes the spelling the folder stores; the rest keeps the
    // caller's.
    PackagePlan adds;
    adds.Add("only-added.dat", ToBytes("x"));
    adds.Write(package_path_);
    Folder("Games/Brackwold");
    EXPECT_EQ(Search({root_ / "GAMES/brackwold"}), root_ / "GAMES/Brackwold");
}

TEST_F(SearchTest, SearchRestoresTheCurrentFolderAndSkipsUnfitPaths) {
    // Stamps do not count under warning policy 0, so files can be written by any means.
    PackagePlan plan;
    plan.Update("game.dat", kGame, ToBytes("patched"), 0, 1);
    plan.Write(package_path_);
    char before[os::kMaxPath];
    ASSERT_TRUE(os::GetCurrentFolder(before, sizeof before));
    // An installation in a folder whose path is longer than a path buffer holds.
    std::string deep = "l";
    while ((root_ / deep).size() < 300) deep += "/abcdefghij";
    std::error_code ec;
    fs::create_directories(root_ / deep, ec);
    if (ec) GTEST_SKIP() << "cannot create a folder path of 300 characters here";
    WriteFileBytes(root_ / (deep + "/game.dat"), kGame);
    EXPECT_EQ(Search({root_.Path()}), "");
    char after[os::kMaxPath];
    ASSERT_TRUE(os::GetCurrentFolder(after, sizeof after));
    EXPECT_STREQ(before, after);
    // The same tree with an installation where the path fits.
    WriteFileBytes(root_ / "l/abcdefghij/abcdefghij/game.dat", kGame);
    EXPECT_EQ(Search({root_.Path()}), root_ / "l/abcdefghij/abcdefghij");
}

TEST_F(SearchTest, CheckTargetFolder) {
    Installation("inst");
    Folder("empty");
    EXPECT_EQ(CheckTargetFolder(package_path_.c_str(), (root_ / "inst").c_str()), 1);
    EXPECT_EQ(CheckTargetFolder(package_path_.c_str(), (root_ / "empty").c_str()), 0);
    EXPECT_EQ(CheckTargetFolder((packages_ / "absent.upg").c_str(), (root_ / "inst").c_str()), 0);
    char found[os::kMaxPath] = "unchanged";
    EXPECT_EQ(LocateInstalledTarget((packages_ / "absent.upg").c_str(), found, {root_.Path()}), 0);
    EXPECT_STREQ(found, "unchanged");
}
