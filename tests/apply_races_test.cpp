// Other processes at work in the target folder while an apply runs, on every system: an
// old file written just before its file is replaced or removed, a file put where an Add
// found none, a second apply of the same folder, and more new folders than a package may
// make. Each change is made at a fixed point of the run, never by timing.
#include <gtest/gtest.h>

#include <filesystem>

#include "apply/outcome.h"
#include "io/os.h"
#include "support/race_support.h"

namespace fs = std::filesystem;

// An old file written by another process after it was verified is not replaced or removed:
// its new contents survive, the entry is reported, and the verified new version is kept.
TEST_F(RaceTest, AnOldFileChangedAfterItsCheckIsNotReplaced) {
    Install("written.dat", "old");
    Install("removed.dat", "to remove");
    Install("quiet.dat", "old quiet");
    plan_.Update("written.dat", ToBytes("old"), ToBytes("new"));
    plan_.Remove("removed.dat", ToBytes("to remove"));
    plan_.Update("quiet.dat", ToBytes("old quiet"), ToBytes("new quiet"));
    AtCommit([&] {
        WriteFileText(At("written.dat"), "someone's work");
        WriteFileText(At("removed.dat"), "someone else's work");
    });
    EXPECT_EQ(Apply(), kApplyIncomplete);
    ASSERT_EQ(package_->commit_failures.size(), 2u) << Failures();
    for (const CommitFailure& f : package_->commit_failures)
        EXPECT_EQ(f.reason, "it changed after it was checked") << f.name;
    EXPECT_EQ(ReadFileText(At("written.dat")), "someone's work");
    EXPECT_EQ(ReadFileText(At("removed.dat")), "someone else's work");
    EXPECT_EQ(ReadFileText(At("quiet.dat")), "new quiet");
    EXPECT_EQ(package_->commit_failures[0].kept_file, At("__QXUPD_/N00000.TMP"));
    EXPECT_EQ(ReadFileText(At("__QXUPD_/N00000.TMP")), "new") << "the verified new version is kept";
    // A file that appears where an Add was checked to find nothing is not overwritten.
    fs::remove_all(At("__QXUPD_"));
    plan_ = PackagePlan();
    plan_.Add("appeared.dat", ToBytes("added"));
    AtCommit([&] { WriteFileText(At("appeared.dat"), "someone's new file"); });
    EXPECT_EQ(Apply(), kApplyIncomplete);
    EXPECT_EQ(ReadFileText(At("appeared.dat")), "someone's new file");
}

// A second apply of a folder that one is applying to changes nothing and says why.
TEST_F(RaceTest, OneApplyPerFolder) {
    Install("game.dat", "old");
    plan_.Update("game.dat", ToBytes("old"), ToBytes("new"));
    os::FolderLock other;
    ASSERT_EQ(other.Acquire(target_.c_str()), os::FolderLock::kHeld);
    os::FolderLock again;
    EXPECT_EQ(again.Acquire((target_ + os::kSeparator).c_str()), os::FolderLock::kBusy) << "any spelling";
    EXPECT_EQ(Apply(), kApplyBusy);
    EXPECT_EQ(package_->apply_failure, kBusyText);
    EXPECT_EQ(ReadFileText(At("game.dat")), "old");
    EXPECT_FALSE(fs::exists(At("__QXUPD_")));
    EXPECT_EQ(fe_.questions.size(), 0u);
}

// Folders count toward the space a package needs, and no package makes more than 10000.
TEST_F(RaceTest, NewFoldersAreBounded) {
    // 125 entries, each under a folder of its own and 80 more below it: 10125 folders.
    std::string deep;
    for (int level = 0; level < 80; ++level) deep += "a\\";
    for (int i = 0; i < 125; ++i) plan_.Add("f" + std::to_string(i) + "\\" + deep + "x", ToBytes(""));
    EXPECT_EQ(Apply(), kApplyAborted);
    EXPECT_NE(package_->apply_failure.find("more than 10000 new folders"), std::string::npos) << package_->apply_failure;
    EXPECT_TRUE(fs::is_empty(target_)) << "nothing was made";
}
