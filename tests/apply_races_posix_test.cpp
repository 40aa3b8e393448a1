// Other processes at work in the target folder while an apply runs, in what POSIX lets
// them do: a temporary file or the temporary folder swapped before the commit (hard and
// symbolic links included), a folder replaced by a link, a FIFO or a device in place of a
// file, a temporary folder someone else owns, and more temporary files than open files.
// Each swap is made at a fixed point of the run (the start of the commit phase), never by
// timing.
#include <gtest/gtest.h>

#include <filesystem>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include "apply/identity.h"
#include "support/race_support.h"

namespace fs = std::filesystem;

namespace {

struct stat Lstat(const std::string& path) {
    struct stat st {};
    EXPECT_EQ(lstat(path.c_str(), &st), 0) << path;
    return st;
}

}  // namespace

// The temporary folder is the running user's alone while the new versions wait in it.
TEST_F(RaceTest, TheTemporaryFolderIsPrivate) {
    Install("game.dat", "old");
    plan_.Update("game.dat", ToBytes("old"), ToBytes("new"));
    mode_t mode = 0;
    AtCommit([&] { mode = Lstat(At("__QXUPD_")).st_mode & 07777; });
    UmaskScope lax(0);
    ASSERT_EQ(Apply(), kApplyDone);
    EXPECT_EQ(mode, 0700u);
    EXPECT_EQ(ReadFileText(At("game.dat")), "new");
}

// A hard link or a symbolic link swapped in for a verified temporary file (as someone who
// could write there might) is never stamped, given away or moved into place: the entry is
// reported as not put in place and nothing outside changes.
TEST_F(RaceTest, ASwappedTemporaryFileIsNotPutInPlace) {
    for (const bool hard : {true, false}) {
        SCOPED_TRACE(hard ? "hard link" : "symbolic link");
        Install("top.dat", "old");
        Install("other.dat", "old other");
        plan_ = PackagePlan();
        plan_.Update("top.dat", ToBytes("old"), ToBytes("new top"));
        plan_.Update("other.dat", ToBytes("old other"), ToBytes("new other"));
        const std::string victim = outside_ + "/victim.txt";
        chmod(victim.c_str(), 0600);
        const struct stat before = Lstat(victim);
        AtCommit([&] {
            const std::string planted = At("planted");
            if (hard)
                ASSERT_EQ(link(victim.c_str(), planted.c_str()), 0);
            else
                fs::create_symlink(victim, planted);
            ASSERT_EQ(rename(planted.c_str(), Temp("N00000.TMP").c_str()), 0);
        });
        EXPECT_EQ(Apply(), kApplyIncomplete);
        ASSERT_EQ(package_->commit_failures.size(), 1u) << Failures();
        EXPECT_EQ(package_->commit_failures[0].name, "top.dat");
        EXPECT_EQ(ReadFileText(At("top.dat")), "old") << "the old file stays";
        EXPECT_FALSE(fs::is_symlink(At("top.dat")));
        EXPECT_EQ(ReadFileText(At("other.dat")), "new other") << "the other entries go on";
        const struct stat after = Lstat(victim);
        EXPECT_EQ(ReadFileText(victim), "outside");
        EXPECT_EQ(after.st_mode, before.st_mode);
        EXPECT_EQ(after.st_uid, before.st_uid);
        EXPECT_EQ(after.st_mtim.tv_sec, before.st_mtim.tv_sec);
        EXPECT_EQ(after.st_mtim.tv_nsec, before.st_mtim.tv_nsec);
        fs::remove_all(At("__QXUPD_"));
    }
}

// The temporary folder moved away and another put in its place: the files are still
// reached through the held folder, so the verified ones are put in place and the planted
// folder is left alone.
TEST_F(RaceTest, ASwappedTemporaryFolderRedirectsNothing) {
    Install("top.dat", "old");
    plan_.Update("top.dat", ToBytes("old"), ToBytes("new top"));
    plan_.Add("added.dat", ToBytes("added"));
    AtCommit([&] {
        fs::rename(At("__QXUPD_"), At("moved"));
        fs::create_directories(At("__QXUPD_"));
        fs::create_symlink(outside_ + "/victim.txt", Temp("N00000.TMP"));
        WriteFileText(Temp("N00001.TMP"), "planted");
    });
    EXPECT_EQ(Apply(), kApplyDone) << Failures();
    EXPECT_EQ(ReadFileText(At("top.dat")), "new top");
    EXPECT_EQ(ReadFileText(At("added.dat")), "added");
    EXPECT_FALSE(fs::is_symlink(At("top.dat")));
    EXPECT_EQ(ReadFileText(outside_ + "/victim.txt"), "outside");
    EXPECT_EQ(ReadFileText(Temp("N00001.TMP")), "planted") << "the planted folder is not the engine's";
}

// A temporary folder that someone else made or may change is never used.
TEST_F(RaceTest, AForeignTemporaryFolderIsRefused) {
    if (geteuid() != 0) GTEST_SKIP() << "needs root to give a folder away";
    Install("top.dat", "old");
    plan_.Update("top.dat", ToBytes("old"), ToBytes("new"));
    fs::create_directories(At("__QXUPD_"));
    ASSERT_EQ(chown(At("__QXUPD_").c_str(), 65534, 65534), 0);
    EXPECT_EQ(Apply(), kApplyAborted);
    EXPECT_NE(package_->apply_failure.find("was not left by an upgrade of this user"), std::string::npos)
        << package_->apply_failure;
    EXPECT_EQ(ReadFileText(At("top.dat")), "old");
    ASSERT_EQ(chown(At("__QXUPD_").c_str(), 0, 0), 0);
    chmod(At("__QXUPD_").c_str(), 0777);
    EXPECT_EQ(Apply(), kApplyAborted) << "a folder others may write to is refused too";
    chmod(At("__QXUPD_").c_str(), 0755);
    EXPECT_EQ(Apply(), kApplyDone) << "one this user left, that only it can change, is taken";
    EXPECT_EQ(ReadFileText(At("top.dat")), "new");
}

// A folder on the way replaced by a link during the run: the Remove and the Update through
// it are reported as not done (they used to count as done), and nothing outside changes.
TEST_F(RaceTest, AFolderReplacedByALinkIsReportedNotTakenAsDone) {
    Install("Maps/gone.map", "to remove");
    Install("Maps/level.map", "old level");
    WriteFileText(outside_ + "/gone.map", "outside gone");
    WriteFileText(outside_ + "/level.map", "outside level");
    plan_.Remove("Maps\\gone.map", ToBytes("to remove"));
    plan_.Update("Maps\\level.map", ToBytes("old level"), ToBytes("new level"));
    AtCommit([&] {
        fs::rename(At("Maps"), At("Maps.moved"));
        fs::create_directory_symlink(outside_, At("Maps"));
    });
    EXPECT_EQ(Apply(), kApplyIncomplete);
    ASSERT_EQ(package_->commit_failures.size(), 2u) << Failures();
    EXPECT_NE(package_->commit_failures[0].reason.find("replaced by a link"), std::string::npos) << Failures();
    EXPECT_EQ(ReadFileText(outside_ + "/gone.map"), "outside gone");
    EXPECT_EQ(ReadFileText(outside_ + "/level.map"), "outside level");
    EXPECT_EQ(ReadFileText(At("Maps.moved/gone.map")), "to remove");
}

// A FIFO or a device where a file should be is never opened in a way that blocks or reads
// forever: it is a changed file, under its entry's policy.
TEST_F(RaceTest, FifosAndDevicesAreChangedFiles) {
    ASSERT_EQ(mkfifo(At("pipe.dat").c_str(), 0666), 0);
    ASSERT_EQ(mkfifo(At("gone.dat").c_str(), 0666), 0);
    const bool device = geteuid() == 0 && mknod(At("zero.dat").c_str(), S_IFCHR | 0666, makedev(1, 5)) == 0;
    Install("fine.dat", "old");
    plan_.Update("pipe.dat", ToBytes("old"), ToBytes("new"));
    plan_.Remove("gone.dat", ToBytes("old"));
    plan_.Update("zero.dat", ToBytes("old"), ToBytes("new"));
    plan_.Update("fine.dat", ToBytes("old"), ToBytes("new"));
    EXPECT_EQ(Apply(), kApplyIncomplete) << "the FIFO to remove cannot be removed as a file";
    const std::vector<int> states = EntryStates(*package_);
    EXPECT_EQ(states[0], kStateChanged);
    EXPECT_EQ(states[1], 0) << "a changed file to remove is a warning, removed under policy 0";
    if (device) {
        EXPECT_EQ(states[2], kStateChanged);
    }
    EXPECT_EQ(ReadFileText(At("fine.dat")), "new");
    EXPECT_TRUE(fs::is_fifo(At("pipe.dat")));
    EXPECT_TRUE(fs::is_fifo(At("gone.dat"))) << "only plain files are deleted";
}

// More temporary files than the process may hold open: the ones beyond are closed after
// their verification and checked again when opened for the move. The limit is lowered in
// a child process, which cannot raise it again.
TEST_F(RaceTest, MoreTemporaryFilesThanOpenHandles) {
    for (int i = 0; i < 400; ++i) plan_.Add("many\\f" + std::to_string(i), ToBytes("content " + std::to_string(i)));
    AtCommit([&] { WriteFileText(Temp("N00399.TMP"), "changed while closed"); });
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        const struct rlimit low = {200, 200};
        bool ok = setrlimit(RLIMIT_NOFILE, &low) == 0 && Apply() == kApplyIncomplete &&
                  package_->commit_failures.size() == 1 && package_->commit_failures[0].name == "many\\f399" &&
                  package_->commit_failures[0].kept_file.empty();
        for (int i = 0; ok && i < 399; ++i) ok = ReadFileText(At("many/f" + std::to_string(i))) == "content " + std::to_string(i);
        _exit(ok && !fs::exists(At("many/f399")) ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "with 200 open files, 399 verified files are moved and the changed one is not";
}
