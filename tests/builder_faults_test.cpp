// The builder's fault walk: a package with adds, updates, removes and nested folders is
// built (and checked) once for every call of every kind of file operation, with exactly
// that call failing. Each time the build either succeeds with the same package as without
// a fault, or fails saying what failed; either way no ".part" file is left, an existing
// package at the output path is kept as it was unless replaced by the finished one, and
// the check's scratch folder is gone.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <regex>
#include <utility>
#include <vector>

#include "builder/builder.h"
#include "io/fault_injection.h"
#include "support/apply_support.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

const char* KindName(os::FaultKind kind) {
    static const char* const kNames[] = {"open",   "read", "write",         "flush",   "delete",
                                         "move",   "create folder", "set time", "no"};
    return kNames[static_cast<int>(kind)];
}

class BuilderFaultWalk : public ::testing::Test {
protected:
    void SetUp() override {
        const Bytes game = RandomBytes(6000, 1), level = RandomBytes(9000, 2);
        Bytes game_new = game, level_new = level;
        game_new.resize(7000, 'g');
        for (size_t i = 4000; i < 4100; ++i) level_new[i] ^= 0x5A;
        Write(root_ / "old/game.exe", game, OldStamp());
        Write(root_ / "old/old.txt", ToBytes("obsolete"), OldStamp());
        Write(root_ / "old/Maps/level1.map", level, OldStamp());
        Write(root_ / "old/Maps/gone.map", RandomBytes(2000, 3), OldStamp());
        Write(root_ / "old/Maps/Deep/x.dat", ToBytes("deep old"), OldStamp());
        Write(root_ / "old/same.cfg", ToBytes("unchanged"), OldStamp());
        Write(root_ / "old/touched.cfg", ToBytes("only the time stamp changes"), OldStamp());
        Write(root_ / "new/game.exe", game_new, NewStamp());
        Write(root_ / "new/Maps/level1.map", level_new, NewStamp());
        Write(root_ / "new/Maps/Deep/x.dat", ToBytes("deep new, longer"), NewStamp());
        Write(root_ / "new/Music/theme.ogg", RandomBytes(5000, 4), NewStamp());
        Write(root_ / "new/Maps/Deep/Er/new.dat", ToBytes("new in new folders"), NewStamp());
        Write(root_ / "new/readme.txt", ToBytes("read me"), NewStamp());
        Write(root_ / "new/same.cfg", ToBytes("unchanged"), OldStamp());
        Write(root_ / "new/touched.cfg", ToBytes("only the time stamp changes"), NewStamp());
        WriteFileText(policies_, "Maps\\*.map 2 2 Level data\n");
        fs::create_directories(scratch_);

        options_.old_dir = old_;
        options_.new_dir = new_;
        options_.output = output_;
        options_.scratch_folder = scratch_;
        options_.policy_file = policies_;
        options_.threads = 1;  // the calls come in the same order every time
    }

    static void Write(const std::string& path, const Bytes& data, uint32_t stamp) {
        WriteFileBytes(path, data);
        SetStamp(path, stamp);
    }

    // Builds with the n-th call of `kind` failing (n = 0: none) and checks every promise
    // the build makes. Returns how many calls of `kind` the build made.
    uint32_t BuildWithFault(os::FaultKind kind, uint32_t n) {
        WriteFileText(output_, kOlderPackage);
        os::InjectFault(kind, n);
        BuildSummary summary;
        std::vector<std::string> errors;
        const bool ok = BuildPackage(options_, nullptr, &summary, &errors);
        const uint32_t calls = os::FaultCalls(kind);
        os::InjectFault(os::FaultKind::kCount, 0);

        const std::string where = std::string(KindName(kind)) + " call " + std::to_string(n);
        std::string all;
        for (const std::string& e : errors) all += e + "\n";
        if (n == 0) {
            EXPECT_TRUE(ok) << where << ": failed without a fault: " << all;
        }
        if (ok) {
            EXPECT_TRUE(errors.empty()) << where << ": " << all;
            EXPECT_TRUE(summary.checked) << where;
            EXPECT_EQ(ReadFileBytes(output_), package_) << where << ": built, but not the package";
            EXPECT_EQ(summary.package_bytes, package_.size()) << where;
            ++succeeded_;
        } else {
            EXPECT_TRUE(NamesWhatFailed(all)) << where << ": the error does not say what failed: " << all;
            EXPECT_EQ(ReadFileText(output_), kOlderPackage) << where << ": the older package was not kept";
            failures_.emplace_back(kind, all);
        }
        EXPECT_FALSE(FileExists(output_ + ".part")) << where << ": the .part file was left behind";
        size_t left = 0;
        for (auto it = fs::directory_iterator(scratch_); it != fs::directory_iterator(); ++it) ++left;
        EXPECT_EQ(left, 0u) << where << ": something was left in the scratch parent";
        return calls;
    }

    // Whether an error says what happened and to which file or step: a path below the
    // test's folder or an entry name, and words for what went wrong.
    bool NamesWhatFailed(const std::string& text) const {
        static const std::regex kWhat(
            "cannot|does not|differs|changed while|asked a question|aborted|could not|left its temporary folder|"
            "is missing|left over|should have been removed");
        static const char* const kNames[] = {"game.exe",          "old.txt",         "Maps\\level1.map",
                                             "Maps\\gone.map",    "Maps\\Deep\\x.dat", "touched.cfg",
                                             "Music\\theme.ogg",  "readme.txt",      "Maps\\Deep\\Er\\new.dat",
                                             "__QXUPD_"};
        bool names = text.find(root_.Path()) != std::string::npos;
        for (const char* name : kNames) names = names || text.find(name) != std::string::npos;
        return names && std::regex_search(text, kWhat);
    }

    // Whether some failure of a call of `kind` said `words`.
    bool Said(os::FaultKind kind, const std::string& words) const {
        for (const auto& [k, text] : failures_)
            if (k == kind && text.find(words) != std::string::npos) return true;
        return false;
    }

    TempDir root_;
    const std::string old_ = root_ / "old";
    const std::string new_ = root_ / "new";
    const std::string output_ = root_ / "out/Upgrade.upg";
    const std::string scratch_ = root_ / "scratch";
    const std::string policies_ = root_ / "policies.txt";
    const std::string kOlderPackage = "an older package";
    BuildOptions options_;
    Bytes package_;  // built without a fault
    std::vector<std::pair<os::FaultKind, std::string>> failures_;  // the errors of every failed build
    int succeeded_ = 0;
};

}  // namespace

TEST_F(BuilderFaultWalk, EveryFailingCallFailsCleanlyOrChangesNothing) {
    WriteFileText(output_, kOlderPackage);
    std::vector<std::string> errors;
    ASSERT_TRUE(BuildPackage(options_, nullptr, nullptr, &errors)) << errors.front();
    package_ = ReadFileBytes(output_);

    uint32_t walked = 0;
    for (int k = 0; k < static_cast<int>(os::FaultKind::kCount); ++k) {
        const os::FaultKind kind = static_cast<os::FaultKind>(k);
        const uint32_t calls = BuildWithFault(kind, 0);
        for (uint32_t n = 1; n <= calls; ++n) {
            BuildWithFault(kind, n);
            ++walked;
            if (HasFailure()) return;  // one broken promise is enough to read
        }
    }
    // A few of the failures and the words that must name them.
    EXPECT_TRUE(Said(os::FaultKind::kOpen, "cannot read the policy file " + policies_));
    EXPECT_TRUE(Said(os::FaultKind::kOpen, "cannot read back the size of the package written to " + output_ + ".part"));
    EXPECT_TRUE(Said(os::FaultKind::kMove, "cannot put the package in place as " + output_));
    EXPECT_TRUE(Said(os::FaultKind::kCreateFolder, "cannot make a scratch folder in " + scratch_ + " for the check"));
    EXPECT_TRUE(Said(os::FaultKind::kCreateFolder, "cannot create the folder "));
    EXPECT_TRUE(Said(os::FaultKind::kCreateFolder, "__QXUPD_ cannot be created"));
    EXPECT_TRUE(Said(os::FaultKind::kSetTime, "cannot carry the time stamp of "));
    EXPECT_TRUE(Said(os::FaultKind::kWrite, "cannot write the check's copy "));
    EXPECT_TRUE(Said(os::FaultKind::kRead, "cannot read the identity of "));
    RecordProperty("fault_points", static_cast<int>(walked));
    std::printf("builder fault walk: %u failing calls walked, %d builds still succeeded\n", walked, succeeded_);
}
