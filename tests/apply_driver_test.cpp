// The three-phase apply driver on real folders: findings under every policy, questions
// and notices word for word, cancel in the verify and build phases, failed builds, the
// commit phase with folders, temporary names and files that cannot be put in place, and
// paths that do not fit.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>

#include <unistd.h>

#include "apply/driver.h"
#include "apply/identity.h"
#include "apply/verify_entry.h"
#include "apply/progress.h"
#include "apply/temporary_files.h"
#include "io/os.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

std::string Question(const std::string& op, const std::string& name, const std::string& description, int first,
                     int second) {
    std::string text = "Operation: " + op + "\n\nFilename: " + name;
    if (!description.empty()) text += "\nDescription: " + description;
    return text + "\n\n" + kLine[first] + "\n\n" + kLine[second];
}

class ApplyTest : public ::testing::Test {
protected:
    void SetUp() override { fs::create_directories(target_); }

    // Writes an installed file with the old stamp.
    void Install(const std::string& name, const Bytes& content) {
        WriteFileBytes(root_ / ("target/" + name), content);
        SetStamp(root_ / ("target/" + name), OldStamp());
    }
    std::string At(const std::string& name) const { return root_ / ("target/" + name); }
    std::string TempFolder() const { return root_ / "target/__QXUPD_"; }

    ApplyResult Apply(ApplyFrontEnd* fe = nullptr) {
        std::string path = root_ / "p.upg";
        plan_.Write(path);
        package_ = OpenForApply(path, target_);
        EXPECT_TRUE(package_->IsValid()) << package_->RefusalReason();
        return ApplyPackage(*package_, fe);
    }
    std::vector<int> States() const { return EntryStates(*package_); }

    TempDir root_;
    std::string target_ = root_ / "target";
    PackagePlan plan_;
    FakeFrontEnd fe_;
    std::unique_ptr<UpgradePackage> package_;
};

const Bytes kOld = ToBytes("The old version of the file, with some text in it.");
const Bytes kNew = ToBytes("The old version of the file, rewritten: new text and a longer tail.");

}  // namespace

TEST_F(ApplyTest, AddUpdateAndRemoveAreCommitted) {
    Bytes added = RandomBytes(3000, 5);
    Install("game.dat", kOld);
    Install("obsolete.dat", ToBytes("to be removed"));
    plan_.Add("sub\\deeper\\new.dat", added);
    plan_.Update("game.dat", kOld, kNew);
    plan_.Remove("obsolete.dat", ToBytes("to be removed"));
    ASSERT_FALSE(FolderExists(At("sub")));
    {
        plan_.Write(root_ / "p.upg");
        auto before = OpenForApply(root_ / "p.upg", target_);
        for (int i = 0; i < 3; ++i) EXPECT_FALSE(EntryAlreadyApplied(*before, i)) << i;
    }

    EXPECT_EQ(Apply(&fe_), kApplyDone);
    for (int i = 0; i < 3; ++i) EXPECT_TRUE(EntryAlreadyApplied(*package_, i)) << i;
    EXPECT_EQ(ReadFileBytes(At("sub/deeper/new.dat")), added);
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kNew);
    EXPECT_FALSE(FileExists(At("obsolete.dat")));
    EXPECT_FALSE(FolderExists(TempFolder()));
    // Built files carry the new identity, stamp included.
    FileIdentity id;
    ASSERT_TRUE(ReadFileIdentity(At("game.dat").c_str(), &id));
    EXPECT_EQ(id, IdentityOf(kNew, NewStamp()));
    ASSERT_TRUE(ReadFileIdentity(At("sub/deeper/new.dat").c_str(), &id));
    EXPECT_EQ(id, IdentityOf(added, NewStamp()));

    EXPECT_TRUE(fe_.questions.empty());
    EXPECT_TRUE(fe_.notices.empty());
    EXPECT_EQ(fe_.opened, 1);
    EXPECT_EQ(fe_.captions, std::vector<std::string>{kLine[3]});
    EXPECT_EQ(fe_.ItemTexts(kItemButton), (std::vector<std::string>{"Cancel", "----"}));
    EXPECT_EQ(fe_.ItemTexts(kItemOperation),
              (std::vector<std::string>{kLine[5], kLine[5], "Add", "Update", kLine[6]}));
    std::vector<std::string> names = fe_.ItemTexts(kItemFileName);
    ASSERT_EQ(names.size(), 1u + 3 + 3 + 3);  // setup, then every entry in each phase
    EXPECT_EQ(names[0], " ");
    EXPECT_EQ(names[1], "sub\\deeper\\new.dat");
    EXPECT_EQ(names.back(), "obsolete.dat");
    EXPECT_EQ(fe_.ItemTexts(kItemDescription)[2], "changed game.dat");
    // Every byte of the new versions was counted once.
    EXPECT_EQ(static_cast<uint32_t>(package_->ProgressDone), package_->ProgressTotal);
    const uint32_t total = package_->ProgressTotal;
    EXPECT_EQ(fe_.percents.back(), static_cast<int>(total / (total / 100 + 1) + 1));
    package_.reset();
    EXPECT_EQ(fe_.closed, 1);
}

TEST_F(ApplyTest, EverythingSkippedByPolicyZeroStillSucceeds) {
    Install("locked.dat", ToBytes("locked"));
    os::SetReadOnly(At("locked.dat").c_str(), true);
    Install("edited.dat", ToBytes("edited by the user"));
    plan_.Update("missing.dat", kOld, kNew, 0, 0);
    plan_.Remove("gone.dat", kOld, 0, 3);
    plan_.Add("locked.dat", ToBytes("new"), 0, 0);
    plan_.Update("edited.dat", kOld, kNew, 3, 0);

    EXPECT_EQ(Apply(&fe_), kApplyDone);
    EXPECT_EQ(States(), (std::vector<int>{kStateMissing, kStateMissing, kStateReadOnly, kStateChanged}));
    EXPECT_TRUE(fe_.questions.empty());
    EXPECT_EQ(ReadFileText(At("locked.dat")), "locked");
    EXPECT_EQ(ReadFileText(At("edited.dat")), "edited by the user");
    EXPECT_FALSE(FileExists(At("missing.dat")));
    EXPECT_FALSE(FolderExists(TempFolder()));
}

TEST_F(ApplyTest, SkippedUpdateScriptIsConsumed) {
    Install("a.dat", ToBytes("not what the package expects, and longer"));
    Bytes next = RandomBytes(700, 9);
    plan_.Update("a.dat", kOld, kNew, 0, 0);
    plan_.Add("b.dat", next);
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    EXPECT_EQ(States(), (std::vector<int>{kStateChanged, 0}));
    EXPECT_EQ(ReadFileBytes(At("b.dat")), next);
    EXPECT_EQ(ReadFileText(At("a.dat")), "not what the package expects, and longer");
}

TEST_F(ApplyTest, WarningUnderPolicyOneAsksAndYesOverwrites) {
    Install("x.dat", ToBytes("present"));
    plan_.Add("x.dat", ToBytes("replacement"), 1, 0);
    fe_.answers = {true};
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_EQ(fe_.questions[0].caption, kLine[3]);
    EXPECT_EQ(fe_.questions[0].text, Question("Add", "x.dat", "new x.dat", 9, 7));
    EXPECT_EQ(ReadFileText(At("x.dat")), "replacement");
    EXPECT_EQ(States(), std::vector<int>{0});
}

TEST_F(ApplyTest, PolicyOneNoAbortsBeforeAnythingIsWritten) {
    Install("game.dat", kOld);
    plan_.Add("first.dat", ToBytes("first"));
    plan_.Update("absent.dat", kOld, kNew, 0, 1);
    EntryRecord& r = plan_.records.back();
    r.description.clear();  // no description line in the question
    fe_.answers = {false};
    EXPECT_EQ(Apply(&fe_), kApplyAborted);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_EQ(fe_.questions[0].text, Question("Update", "absent.dat", "", 13, 7));
    EXPECT_FALSE(FileExists(At("first.dat")));
    EXPECT_FALSE(FolderExists(TempFolder()));
}

TEST_F(ApplyTest, CriticalFindingOffersMoreInformation) {
    for (bool more : {true, false}) {
        FakeFrontEnd fe;
        plan_ = PackagePlan();
        plan_.Add("first.dat", ToBytes("first"));
        plan_.Update("absent.dat", kOld, kNew, 0, 2);
        fe.answers = {more};
        EXPECT_EQ(Apply(&fe), kApplyAborted);
        ASSERT_EQ(fe.questions.size(), 1u);
        EXPECT_EQ(fe.questions[0].text, Question("Update", "absent.dat", "changed absent.dat", 16, 19));
        if (more) {
            ASSERT_EQ(fe.notices.size(), 1u);
            EXPECT_EQ(fe.notices[0].caption, kLine[3]);
            EXPECT_EQ(fe.notices[0].text, kLine[13]);
        } else {
            EXPECT_TRUE(fe.notices.empty());
        }
        EXPECT_FALSE(FileExists(At("first.dat")));
        EXPECT_FALSE(FolderExists(TempFolder()));
        package_.reset();
    }
}

TEST_F(ApplyTest, CriticalWarningPolicyAbortsOnStampAndRemoveChanges) {
    Install("game.dat", kOld);
    SetStamp(At("game.dat"), NewStamp());
    plan_.Update("game.dat", kOld, kNew, 2, 0);
    fe_.answers = {true};
    EXPECT_EQ(Apply(&fe_), kApplyAborted);
    ASSERT_EQ(fe_.notices.size(), 1u);
    EXPECT_EQ(fe_.notices[0].text, kLine[10]);
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kOld);

    // A Remove whose file was edited warns with line 11 and, let through, still removes it.
    FakeFrontEnd fe;
    plan_ = PackagePlan();
    Install("edited.dat", ToBytes("edited"));
    plan_.Remove("edited.dat", ToBytes("original"), 1, 2);
    fe.answers = {true};
    package_.reset();
    EXPECT_EQ(Apply(&fe), kApplyDone);
    ASSERT_EQ(fe.questions.size(), 1u);
    EXPECT_EQ(fe.questions[0].text, Question("Remove", "edited.dat", "old edited.dat", 11, 7));
    EXPECT_FALSE(FileExists(At("edited.dat")));
}

TEST_F(ApplyTest, CancelInVerifyPhase) {
    for (bool yes : {true, false}) {
        FakeFrontEnd fe;
        plan_ = PackagePlan();
        plan_.Add("a.dat", ToBytes("a"));
        plan_.Add("b.dat", ToBytes("b"));
        fe.CancelWhenItem(kItemFileName, "b.dat");  // first shown in the verify phase
        fe.answers = {yes};
        EXPECT_EQ(Apply(&fe), yes ? kApplyAborted : kApplyDone);
        ASSERT_EQ(fe.questions.size(), 1u);
        EXPECT_EQ(fe.questions[0].caption, kLine[3]);
        EXPECT_EQ(fe.questions[0].text, kLine[8]);
        EXPECT_EQ(FileExists(At("a.dat")), !yes);
        EXPECT_EQ(FileExists(At("b.dat")), !yes);
        EXPECT_FALSE(FolderExists(TempFolder()));
        // The verify phase never reached the build operation texts.
        if (yes) {
            EXPECT_EQ(fe.ItemTexts(kItemOperation), (std::vector<std::string>{kLine[5]}));
        }
        package_.reset();
        fs::remove_all(target_);
        fs::create_directories(target_);
    }
}

TEST_F(ApplyTest, CancelInBuildPhase) {
    for (bool yes : {true, false}) {
        FakeFrontEnd fe;
        plan_ = PackagePlan();
        Install("game.dat", kOld);
        plan_.Add("a.dat", RandomBytes(2000, 1));
        plan_.Update("game.dat", kOld, kNew);
        fe.CancelWhenItem(kItemOperation, "Add");  // in the middle of building a.dat
        fe.answers = {yes};
        EXPECT_EQ(Apply(&fe), yes ? kApplyAborted : kApplyDone);
        EXPECT_EQ(fe.questions.size(), 1u);
        EXPECT_FALSE(FolderExists(TempFolder()));
        EXPECT_EQ(FileExists(At("a.dat")), !yes);
        EXPECT_EQ(ReadFileBytes(At("game.dat")), yes ? kOld : kNew);
        package_.reset();
        fs::remove_all(target_);
        fs::create_directories(target_);
    }
}

// A build whose result does not match the new identity, under each error policy.
TEST_F(ApplyTest, FailedBuildFollowsTheErrorPolicy) {
    struct Case {
        int policy;
        std::vector<bool> answers;
        ApplyResult result;
        int first, second;  // question lines; 0: no question
        int notice;         // notice line; 0: none
    };
    const Case cases[] = {
        {0, {}, kApplyDone, 0, 0, 0},
        {3, {}, kApplyDone, 0, 0, 0},
        {1, {true}, kApplyDone, 18, 7, 0},
        {1, {false}, kApplyAborted, 18, 7, 0},
        {2, {true}, kApplyAborted, 17, 19, 20},
        {2, {false}, kApplyAborted, 17, 19, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE("policy " + std::to_string(c.policy) + " answer " +
                     (c.answers.empty() ? "-" : c.answers[0] ? "yes" : "no"));
        FakeFrontEnd fe;
        plan_ = PackagePlan();
        Install("game.dat", kOld);
        plan_.Update("game.dat", kOld, kNew, 0, c.policy);
        plan_.records.back().new_identity.check ^= 0x0101;  // the build cannot match
        plan_.Add("other.dat", ToBytes("other"));
        bool saw_temp = false;
        fe.on_item = [&](int item, const std::string& text) {
            if (item == kItemOperation && text == "Add") saw_temp = FileExists(TempFolder() + "/N00000.TMP");
        };
        fe.answers = std::deque<bool>(c.answers.begin(), c.answers.end());
        EXPECT_EQ(Apply(&fe), c.result);
        if (c.first == 0) {
            EXPECT_TRUE(fe.questions.empty());
        } else {
            ASSERT_EQ(fe.questions.size(), 1u);
            EXPECT_EQ(fe.questions[0].text, Question("Update", "game.dat", "changed game.dat", c.first, c.second));
        }
        if (c.notice == 0) {
            EXPECT_TRUE(fe.notices.empty());
        } else {
            ASSERT_EQ(fe.notices.size(), 1u);
            EXPECT_EQ(fe.notices[0].text, kLine[c.notice]);
        }
        // The old file is never touched and the failed temporary file is gone.
        EXPECT_EQ(ReadFileBytes(At("game.dat")), kOld);
        EXPECT_FALSE(FolderExists(TempFolder()));
        if (c.result == kApplyDone) {
            EXPECT_FALSE(saw_temp);  // deleted right after the failed check
            EXPECT_EQ(States(), (std::vector<int>{kStateBuildFailed, 0}));
            EXPECT_EQ(ReadFileText(At("other.dat")), "other");
        } else {
            EXPECT_FALSE(FileExists(At("other.dat")));
        }
        package_.reset();
        fs::remove_all(target_);
        fs::create_directories(target_);
    }
}

TEST_F(ApplyTest, TemporaryNamesCountEveryEntry) {
    for (int i = 0; i < 12; ++i) {
        std::string name = "old" + std::to_string(i) + ".dat";
        Install(name, ToBytes(name));
        plan_.Remove(name, ToBytes(name));
    }
    plan_.Add("new.dat", ToBytes("twelfth"));
    std::vector<std::string> temp_files;
    fe_.on_item = [&](int item, const std::string& text) {
        if (item == kItemOperation && text == kLine[6] && FolderExists(TempFolder())) {
            for (const auto& f : fs::directory_iterator(TempFolder())) temp_files.push_back(f.path().filename().string());
        }
    };
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    EXPECT_EQ(temp_files, std::vector<std::string>{"N00012.TMP"});
    EXPECT_EQ(ReadFileText(At("new.dat")), "twelfth");
    EXPECT_FALSE(FileExists(At("old0.dat")));

    char name[os::kMaxPath];
    ASSERT_TRUE(TemporaryFileName(*package_, 12, name, sizeof name));
    EXPECT_EQ(std::string(name), target_ + os::kSeparator + "__QXUPD_" + os::kSeparator + "N00012.TMP");
    char small[10];
    EXPECT_FALSE(TemporaryFileName(*package_, 12, small, sizeof small));
    EXPECT_EQ(small[0], '\0');
}

// A file that cannot be put in place keeps its verified new version, the other entries
// are still committed, and the run says which files are missing and where they are.
TEST_F(ApplyTest, FailedCommitKeepsTheNewVersion) {
    Install("game.dat", kOld);
    Install("locked.dat", kOld);
    Install("stays.dat", ToBytes("stays"));
    fs::create_directories(At("folder.dat"));  // the destination of an Add is a folder
    Bytes folder_content = ToBytes("cannot replace a folder");
    plan_.Add("folder.dat", folder_content);
    plan_.Update("locked.dat", kOld, kNew);
    plan_.Update("game.dat", kOld, kNew);
    plan_.Remove("stays.dat", ToBytes("stays"));
    // After the build, two destinations become read-only.
    fe_.on_item = [&](int item, const std::string& text) {
        if (item == kItemOperation && text == kLine[6]) {
            os::SetReadOnly(At("locked.dat").c_str(), true);
            os::SetReadOnly(At("stays.dat").c_str(), true);
        }
    };
    EXPECT_EQ(Apply(&fe_), kApplyIncomplete);
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kNew);
    EXPECT_EQ(ReadFileBytes(At("locked.dat")), kOld);
    EXPECT_EQ(ReadFileText(At("stays.dat")), "stays");
    EXPECT_TRUE(FolderExists(At("folder.dat")));

    const auto& failures = package_->commit_failures;
    ASSERT_EQ(failures.size(), 3u);
    char temp0[os::kMaxPath], temp1[os::kMaxPath];
    ASSERT_TRUE(TemporaryFileName(*package_, 0, temp0, sizeof temp0));
    ASSERT_TRUE(TemporaryFileName(*package_, 1, temp1, sizeof temp1));
    EXPECT_EQ(failures[0].name, "folder.dat");
    EXPECT_EQ(failures[0].kept_file, temp0);
    EXPECT_EQ(failures[1].name, "locked.dat");
    EXPECT_EQ(failures[1].kept_file, temp1);
    EXPECT_EQ(failures[2].name, "stays.dat");
    EXPECT_EQ(failures[2].kept_file, "");
    // The kept files are the verified new versions, with their new stamps.
    EXPECT_EQ(ReadFileBytes(temp0), folder_content);
    FileIdentity id;
    ASSERT_TRUE(ReadFileIdentity(temp1, &id));
    EXPECT_EQ(id, IdentityOf(kNew, NewStamp()));
    EXPECT_TRUE(FolderExists(TempFolder()));
    // Nothing else is left in the temporary folder.
    int left = 0;
    for (const auto& f : fs::directory_iterator(TempFolder())) left += f.is_regular_file();
    EXPECT_EQ(left, 2);
}

TEST_F(ApplyTest, PathsThatDoNotFitAreRefused) {
    // Target + name longer than 259 characters.
    std::string long_name(os::kMaxPath - target_.size(), 'n');
    Install("game.dat", kOld);
    ASSERT_LT(long_name.size(), static_cast<size_t>(kNameSize));
    plan_.Add(long_name, ToBytes("never"), 0, 1).description = "long";
    plan_.Update("game.dat", kOld, kNew);
    fe_.answers = {true};
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_EQ(fe_.questions[0].text, Question("Add", long_name, "long", 13, 7));
    EXPECT_EQ(States(), (std::vector<int>{kStatePathTooLong, 0}));
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kNew);
}

TEST_F(ApplyTest, TemporaryNameThatDoesNotFitIsRefused) {
    // A target where "name" fits but "__QXUPD_\N00000.TMP" does not.
    std::string deep = target_;
    while (deep.size() < 242) deep += os::kSeparator + std::string(std::min<size_t>(20, 242 - deep.size() - 1), 'd');
    ASSERT_EQ(deep.size(), 242u);
    std::error_code ec;
    fs::create_directories(deep, ec);
    if (ec) GTEST_SKIP() << "cannot create a folder path of 242 characters here";
    target_ = deep;
    WriteFileBytes(JoinNative(deep, "r.dat"), ToBytes("r"));
    SetStamp(JoinNative(deep, "r.dat"), OldStamp());
    plan_.Add("a.dat", ToBytes("a"), 0, 0);
    plan_.Remove("r.dat", ToBytes("r"));
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    EXPECT_EQ(States(), (std::vector<int>{kStatePathTooLong, 0}));
    EXPECT_FALSE(FileExists(JoinNative(deep, "a.dat")));
    EXPECT_FALSE(FileExists(JoinNative(deep, "r.dat")));
}

TEST_F(ApplyTest, UndefinedOperationIsSkippedAsAnError) {
    EntryRecord odd;
    odd.operation = 3;
    odd.error_policy = 1;
    odd.name = "odd.dat";
    odd.description = "odd";
    plan_.Raw(odd, {});
    plan_.Add("after.dat", ToBytes("after"));
    fe_.answers = {true};
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    ASSERT_EQ(fe_.questions.size(), 1u);
    EXPECT_EQ(fe_.questions[0].text, Question("", "odd.dat", "odd", 18, 7));
    EXPECT_EQ(States(), (std::vector<int>{kStateBadOperation, 0}));
    EXPECT_EQ(ReadFileText(At("after.dat")), "after");
    EXPECT_FALSE(FileExists(At("odd.dat")));
}

// The front end is lent for the call only: its display is closed before ApplyPackage
// returns, however the apply ends, and the package keeps no pointer to it afterwards, so a
// package may outlive the front end it was applied with.
TEST_F(ApplyTest, FrontEndIsUsedOnlyDuringTheApply) {
    for (bool cancel : {false, true}) {
        plan_ = PackagePlan();
        plan_.Add("a.dat", ToBytes("a"));
        {
            FakeFrontEnd fe;
            fe.cancel_at_pump = cancel ? 1 : 0;
            fe.answers = {true};
            EXPECT_EQ(Apply(&fe), cancel ? kApplyAborted : kApplyDone);
            EXPECT_EQ(fe.opened, 1);
            EXPECT_EQ(fe.closed, 1);
            EXPECT_EQ(package_->frontend, nullptr);
        }
        package_.reset();  // after its front end is gone
        std::remove(At("a.dat").c_str());
    }
}

// Nothing can be written when the target folder does not exist or the new versions cannot
// fit on its disk: the apply stops before building anything, says why, and the result is
// never "applied".
TEST_F(ApplyTest, ApplyThatCannotStartSaysWhy) {
    plan_.Add("a.dat", ToBytes("a"));
    target_ = root_ / "absent";
    EXPECT_EQ(Apply(&fe_), kApplyAborted);
    EXPECT_NE(package_->apply_failure.find("cannot be opened"), std::string::npos) << package_->apply_failure;
    EXPECT_FALSE(FolderExists(target_));

    // A thousand entries of almost 4 GiB each need more than any test disk has free.
    target_ = root_ / "target";
    package_.reset();  // the package file is open without sharing
    plan_ = PackagePlan();
    for (int i = 0; i < 1000; ++i) {
        EntryRecord r;
        r.operation = kOpAdd;
        r.name = "big" + std::to_string(i) + ".dat";
        r.new_identity.size = 0xFFFFFFFFu;
        plan_.Raw(r, {kCmdEnd});
    }
    EXPECT_EQ(Apply(&fe_), kApplyAborted);
    EXPECT_NE(package_->apply_failure.find("free"), std::string::npos) << package_->apply_failure;
    EXPECT_FALSE(FolderExists(TempFolder()));
    EXPECT_FALSE(FileExists(At("big0.dat")));
}

// A umask that takes away the owner's write permission must not make the engine's own
// files read-only: they are written, stamped, moved and cleaned up as usual.
TEST_F(ApplyTest, RestrictiveUmaskDoesNotLockTheEnginesOwnFiles) {
    if (!IsPosix()) GTEST_SKIP() << "POSIX permissions";
    Install("game.dat", kOld);
    plan_.Update("game.dat", kOld, kNew);
    plan_.Add("Sub\\added.dat", ToBytes("added"));
    const UmaskScope restrictive(0277);
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kNew);
    EXPECT_EQ(ReadFileText(At("Sub/added.dat")), "added");
    EXPECT_FALSE(FolderExists(TempFolder()));
}

// With the file system's root as the target folder, an added file's folders are created
// from the first character on (a drive prefix is three characters only on Windows), so a
// top folder with a one-letter name is made too. Only where the test may write into "/",
// with a letter no folder there has.
TEST_F(ApplyTest, FoldersOfAddedFilesAreCreatedBelowTheRootFolder) {
    if (!IsPosix() || access("/", W_OK) != 0) GTEST_SKIP() << "needs write access to /";
    std::string top;
    for (char letter = 'a'; letter <= 'z' && top.empty(); ++letter) {
        if (!fs::exists(std::string("/") + letter)) top = std::string(1, letter);
    }
    if (top.empty()) GTEST_SKIP() << "every one-letter name is taken in /";
    plan_.Add(top + "\\sub\\f.txt", ToBytes("at the root"));
    target_ = "/";
    EXPECT_EQ(Apply(&fe_), kApplyDone);
    EXPECT_EQ(ReadFileText("/" + top + "/sub/f.txt"), "at the root");
    std::error_code ec;
    fs::remove_all("/" + top, ec);
}

TEST_F(ApplyTest, RefusedPackagesShowNothing) {
    plan_.Add("a.dat", ToBytes("a"));
    std::string path = root_ / "p.upg";
    plan_.Write(path);
    auto no_messages = UpgradePackage::OpenFull(path.c_str(), target_.c_str());
    EXPECT_EQ(ApplyPackage(*no_messages, &fe_), kApplyAborted);
    auto header_only = UpgradePackage::OpenHeader(path.c_str());
    header_only->AttachMessages(LoadShippedMessages());
    EXPECT_EQ(ApplyPackage(*header_only, &fe_), kApplyAborted);
    WriteFileText(root_ / "bad.upg", "[QXUPD]");
    auto broken = OpenForApply(root_ / "bad.upg", target_);
    EXPECT_EQ(ApplyPackage(*broken, &fe_), kApplyAborted);
    EXPECT_EQ(fe_.opened, 0);
    EXPECT_FALSE(FileExists(At("a.dat")));
}

TEST_F(ApplyTest, WorksWithoutFrontEndAndFromCompressedPackages) {
    Install("game.dat", kOld);
    plan_.Update("game.dat", kOld, kNew);
    plan_.Add("added.dat", ToBytes("x"));
    std::string path = root_ / "p.upg";
    plan_.Write(path, 9);
    auto package = OpenForApply(path, target_);
    ASSERT_TRUE(package->IsCompressed());
    Aborted = 1;  // left over from an earlier run: a new run starts clean
    EXPECT_EQ(ApplyPackage(*package, nullptr), kApplyDone);
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kNew);

    // Questions without a front end are answered No.
    package.reset();  // the package file is open without sharing
    PackagePlan ask;
    ask.Add("game.dat", ToBytes("again"), 1, 0);
    ask.Write(path);
    package = OpenForApply(path, target_);
    EXPECT_EQ(ApplyPackage(*package, nullptr), kApplyAborted);
    EXPECT_EQ(ReadFileBytes(At("game.dat")), kNew);
}
