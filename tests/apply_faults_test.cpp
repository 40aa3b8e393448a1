// The fault walk: a real apply of a package with adds, updates, removes and nested folders
// is run once for every call of every kind of file operation, with exactly that call
// failing. Whatever fails, the target folder is never left half-changed and the result
// never claims more than was done.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "apply/driver.h"
#include "apply/identity.h"
#include "io/fault_injection.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

using Tree = std::map<std::string, Bytes>;  // relative path ("/" separators) -> content

// Every file below `root` except the temporary folder, read without the OS layer.
Tree ReadTree(const std::string& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        if (rel == "__QXUPD_") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) tree[rel] = ReadFileBytes(it->path().string());
    }
    return tree;
}

std::string Slashed(std::string name) {
    for (char& c : name)
        if (c == '\\') c = '/';
    return name;
}

const char* KindName(os::FaultKind kind) {
    static const char* const kNames[] = {"open",   "read", "write",         "flush",   "delete",
                                         "move",   "create folder", "set time", "no"};
    return kNames[static_cast<int>(kind)];
}

class FaultWalk : public ::testing::Test {
protected:
    void SetUp() override {
        Bytes game = RandomBytes(20000, 1), game_new = game;
        game_new.resize(26000, 'g');
        Bytes level = RandomBytes(150000, 2), level_new = level;
        for (size_t i = 70000; i < 70100; ++i) level_new[i] ^= 0x5A;
        old_ = {{"game.exe", game},
                {"old.txt", ToBytes("obsolete")},
                {"Maps/level1.map", level},
                {"Maps/gone.map", RandomBytes(3000, 3)},
                {"Maps/Deep/x.dat", ToBytes("deep old")},
                {"untouched.cfg", ToBytes("not in the package")}};
        plan_.Update("game.exe", game, game_new);
        plan_.Remove("old.txt", old_["old.txt"]);
        plan_.Update("Maps\\level1.map", level, level_new);
        plan_.Remove("Maps\\gone.map", old_["Maps/gone.map"]);
        plan_.Update("Maps\\Deep\\x.dat", ToBytes("deep old"), ToBytes("deep new, longer"));
        plan_.Add("Music\\theme.ogg", RandomBytes(70000, 4));
        plan_.Add("Maps\\Deep\\Er\\new.dat", ToBytes("new in new folders"));
        plan_.Add("readme.txt", ToBytes("read me"));
        plan_.Write(package_path_);

        new_ = old_;
        new_["game.exe"] = game_new;
        new_.erase("old.txt");
        new_["Maps/level1.map"] = level_new;
        new_.erase("Maps/gone.map");
        new_["Maps/Deep/x.dat"] = ToBytes("deep new, longer");
        new_["Music/theme.ogg"] = RandomBytes(70000, 4);
        new_["Maps/Deep/Er/new.dat"] = ToBytes("new in new folders");
        new_["readme.txt"] = ToBytes("read me");
    }

    // Puts the old version in place (with the stamps the package expects), with no fault
    // armed.
    void ResetTarget() {
        os::InjectFault(os::FaultKind::kCount, 0);
        std::error_code ec;
        fs::remove_all(target_, ec);
        for (const auto& file : old_) {
            const std::string path = JoinNative(target_, file.first);
            WriteFileBytes(path, file.second);
            SetStamp(path, OldStamp());
        }
    }

    // Applies with the n-th call of `kind` failing (n = 0: none) and checks every promise
    // the apply makes. Returns how many calls of `kind` the run made.
    uint32_t RunWithFault(os::FaultKind kind, uint32_t n) {
        ResetTarget();
        FakeFrontEnd fe;
        bool commit_started = false;
        Tree at_commit;
        fe.on_item = [&](int item, const std::string& text) {
            if (item == kItemButton && text == "----" && !commit_started) {
                commit_started = true;
                at_commit = ReadTree(target_);
            }
        };
        os::InjectFault(kind, n);
        ApplyResult result;
        std::unique_ptr<UpgradePackage> package = OpenForApply(package_path_, target_);
        result = ApplyPackage(*package, &fe);
        const uint32_t calls = os::FaultCalls(kind);
        os::InjectFault(os::FaultKind::kCount, 0);

        const std::string where = std::string(KindName(kind)) + " call " + std::to_string(n);
        EXPECT_EQ(fe.unexpected_questions, 0) << where;
        if (commit_started) {
            EXPECT_EQ(at_commit, old_) << where << ": changed before the commit phase";
        }
        const Tree now = ReadTree(target_);
        if (result == kApplyAborted) {
            EXPECT_EQ(now, old_) << where << ": aborted, yet the folder changed";
        } else {
            CheckEntries(*package, result, now, where);
        }
        bool kept = false;
        for (const CommitFailure& f : package->commit_failures) kept = kept || !f.kept_file.empty();
        if (fs::exists(JoinNative(target_, "__QXUPD_")) && !kept) {
            EXPECT_EQ(kind, os::FaultKind::kDelete) << where << ": the temporary folder was left behind";
        }
        return calls;
    }

    // Each entry's file is its new version when the entry was done, its old version when it
    // was skipped or could not be put in place (then its verified new version is kept and
    // named); files no entry names are untouched.
    void CheckEntries(const UpgradePackage& package, ApplyResult result, const Tree& now, const std::string& where) {
        if (result == kApplyDone) {
            EXPECT_TRUE(package.commit_failures.empty()) << where;
        }
        Tree expected = old_;
        for (const FileEntry& entry : package.entries) {
            const std::string name = Slashed(entry.name);
            const CommitFailure* failure = nullptr;
            for (const CommitFailure& f : package.commit_failures)
                if (f.name == entry.name) failure = &f;
            if (entry.state != kStateProceed || failure != nullptr) {
                if (failure != nullptr && !failure->kept_file.empty()) {
                    EXPECT_EQ(ReadFileBytes(failure->kept_file), new_[name]) << where << ": kept " << name;
                }
                continue;
            }
            if (new_.count(name)) {
                expected[name] = new_[name];
            } else {
                expected.erase(name);
            }
        }
        EXPECT_EQ(now, expected) << where << ": the folder does not match what the result says";
    }

    TempDir root_;
    std::string target_ = root_ / "target";
    std::string package_path_ = root_ / "p.upg";
    PackagePlan plan_;
    Tree old_, new_;
};

}  // namespace

TEST_F(FaultWalk, EveryFailingCallLeavesOldOrNewVersions) {
    // Without a fault the folder becomes the new version.
    RunWithFault(os::FaultKind::kCount, 0);
    EXPECT_EQ(ReadTree(target_), new_);

    uint32_t walked = 0;
    for (int k = 0; k < static_cast<int>(os::FaultKind::kCount); ++k) {
        const os::FaultKind kind = static_cast<os::FaultKind>(k);
        const uint32_t calls = RunWithFault(kind, 0);
        EXPECT_GT(calls, 0u) << KindName(kind);
        for (uint32_t n = 1; n <= calls; ++n) {
            RunWithFault(kind, n);
            ++walked;
            if (HasFailure()) return;  // one broken promise is enough to read
        }
    }
    RecordProperty("fault_points", static_cast<int>(walked));
    std::printf("fault walk: %u failing calls walked\n", walked);
}

// After the commit every folder whose entries changed is synced, from the target folder
// down to the deepest new folder, so that a power loss cannot undo a reported rename.
TEST(CommitDurability, EveryChangedFolderIsSynced) {
    TempDir root;
    const std::string target = root / "target";
    WriteFileText(JoinNative(target, "keep.txt"), "keep");
    PackagePlan plan;
    plan.Add("a\\b\\new.txt", ToBytes("new"));
    plan.Add("c.txt", ToBytes("c"));
    plan.Write(root / "p.upg");
    auto package = OpenForApply(root / "p.upg", target);
    // Where the system can sync a whole file system, the new files take one such call
    // before the commit; elsewhere each move syncs its own file, which this does not count.
    os::PrivateFolder probe;
    std::string why;
    ASSERT_TRUE(probe.Open((root / "probe").c_str(), &why)) << why;
    const uint32_t whole = probe.SyncFileSystem() ? 1 : 0;
    probe.Remove();
    os::InjectFault(os::FaultKind::kFlush, 0);  // counts only
    EXPECT_EQ(ApplyPackage(*package, nullptr), kApplyDone);
    EXPECT_EQ(os::FaultCalls(os::FaultKind::kFlush), 3u + whole) << "the target folder, a and a\\b";
}
