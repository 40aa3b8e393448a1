// Links planted in the target folder: the apply never writes, deletes or reads through a
// symbolic link (or junction) below the target folder, whatever its letter case, and never
// uses a link in place of its temporary folder or files.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "apply/driver.h"
#include "apply/identity.h"
#include "io/os.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

class LinkTest : public ::testing::Test {
protected:
    void SetUp() override {
        fs::create_directories(target_);
        fs::create_directories(outside_);
        WriteFileText(outside_ + "/victim.txt", "outside");
        SetStamp(outside_ + "/victim.txt", OldStamp());
        // Links need support from the platform (and, on Windows, a privilege).
        std::error_code ec;
        fs::create_symlink(outside_ + "/victim.txt", root_ / "probe", ec);
        if (ec) GTEST_SKIP() << "symbolic links cannot be made here: " << ec.message();
    }

    std::string At(const std::string& name) const { return root_ / ("target/" + name); }
    void Link(const std::string& name, const std::string& to, bool folder) {
        if (folder)
            fs::create_directory_symlink(to, At(name));
        else
            fs::create_symlink(to, At(name));
    }
    // Every file under the outside folder with its content.
    std::map<std::string, std::string> Outside() const {
        std::map<std::string, std::string> files;
        for (const auto& e : fs::recursive_directory_iterator(outside_))
            if (e.is_regular_file()) files[e.path().string()] = ReadFileText(e.path().string());
        return files;
    }

    ApplyResult Apply() {
        const std::string path = root_ / "p.upg";
        plan_.Write(path);
        package_ = OpenForApply(path, target_);
        EXPECT_TRUE(package_->IsValid()) << package_->RefusalReason();
        return ApplyPackage(*package_, &fe_);
    }

    TempDir root_;
    std::string target_ = root_ / "target";
    std::string outside_ = root_ / "outside";
    PackagePlan plan_;
    FakeFrontEnd fe_;
    std::unique_ptr<UpgradePackage> package_;
};

}  // namespace

// A link planted where the first temporary file will be written is removed, not written
// through; the added file is a real file with the new bytes.
TEST_F(LinkTest, PlantedTemporaryFileIsNotWrittenThrough) {
    fs::create_directories(At("__QXUPD_"));
    Link("__QXUPD_/N00000.TMP", outside_ + "/victim.txt", false);
    const auto before = Outside();
    plan_.Add("new.txt", ToBytes("new bytes"));
    EXPECT_EQ(Apply(), kApplyDone);
    EXPECT_EQ(Outside(), before);
    EXPECT_FALSE(fs::is_symlink(At("new.txt")));
    EXPECT_EQ(ReadFileText(At("new.txt")), "new bytes");
    EXPECT_FALSE(fs::exists(At("__QXUPD_")));
}

// A link in place of the temporary folder is refused before anything is written, and the
// run says why.
TEST_F(LinkTest, TemporaryFolderThatIsALinkIsRefused) {
    WriteFileText(outside_ + "/N00000.TMP", "someone's file");
    Link("__QXUPD_", outside_, true);
    const auto before = Outside();
    WriteFileText(At("game.dat"), "old");
    SetStamp(At("game.dat"), OldStamp());
    plan_.Update("game.dat", ToBytes("old"), ToBytes("new"));
    plan_.Add("added.txt", ToBytes("added"));
    EXPECT_EQ(Apply(), kApplyAborted);
    EXPECT_NE(package_->apply_failure.find("is a link or a file"), std::string::npos) << package_->apply_failure;
    EXPECT_EQ(Outside(), before);
    EXPECT_EQ(ReadFileText(At("game.dat")), "old");
    EXPECT_FALSE(fs::exists(At("added.txt")));
    EXPECT_TRUE(fs::is_symlink(At("__QXUPD_"))) << "the link itself is left alone";
}

// Update, Remove and Add through a link to an outside folder, reached as spelled or in
// another letter case, and an Update of a file that is itself a link: each entry is
// refused as an error (skipped under policy 0, or the question under policy 1), and
// nothing outside changes.
TEST_F(LinkTest, EntriesThroughLinksAreRefused) {
    WriteFileText(outside_ + "/gone.txt", "gone");
    SetStamp(outside_ + "/gone.txt", OldStamp());
    Link("Data", outside_, true);
    Link("file.dat", outside_ + "/victim.txt", false);
    WriteFileText(At("real.txt"), "real");
    SetStamp(At("real.txt"), OldStamp());
    const auto before = Outside();
    plan_.Update("Data\\victim.txt", ToBytes("outside"), ToBytes("overwritten"));
    plan_.Remove("DATA\\gone.txt", ToBytes("gone"));
    plan_.Add("data\\planted.txt", ToBytes("planted"));
    plan_.Update("file.dat", ToBytes("outside"), ToBytes("overwritten"));
    plan_.Update("real.txt", ToBytes("real"), ToBytes("REAL"));
    EXPECT_EQ(Apply(), kApplyDone);
    EXPECT_EQ(Outside(), before);
    std::vector<int> states;
    for (const FileEntry& e : package_->entries) states.push_back(e.state);
    EXPECT_EQ(states, (std::vector<int>{kStateLinked, kStateLinked, kStateLinked, kStateLinked, kStateProceed}));
    EXPECT_EQ(ReadFileText(At("real.txt")), "REAL");
    EXPECT_TRUE(fs::is_symlink(At("file.dat")));

    // Under policy 1 the user is asked, with the "cannot be found" text.
    plan_ = PackagePlan();
    plan_.Add("Data\\x.txt", ToBytes("x"), 0, 1);
    fe_.answers = {false};
    EXPECT_EQ(Apply(), kApplyAborted);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_NE(fe_.questions[0].text.find(kLine[13]), std::string::npos);
    EXPECT_EQ(Outside(), before);
}

// Links are not followed by the installation match test either: a folder whose files are
// links to a real installation elsewhere does not pass.
TEST_F(LinkTest, MatchTestDoesNotFollowLinks) {
    plan_.Update("victim.txt", ToBytes("outside"), ToBytes("new"), 0, 2);
    const std::string path = root_ / "p.upg";
    plan_.Write(path);
    auto package = OpenForApply(path, outside_);
    EXPECT_TRUE(InstallationMatches(*package));
    Link("victim.txt", outside_ + "/victim.txt", false);
    ASSERT_TRUE(package->SetTargetFolder(target_.c_str()));
    EXPECT_FALSE(InstallationMatches(*package));
}
