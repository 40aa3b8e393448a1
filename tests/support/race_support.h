// The fixture of the race tests: a target folder with a folder outside it, a package
// plan, and a hook that acts at the start of the commit phase, before its first file is
// touched, so that every swap happens at a fixed point of the run.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "apply/driver.h"
#include "apply/frontend.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

class RaceTest : public ::testing::Test {
protected:
    void SetUp() override {
        std::filesystem::create_directories(target_);
        std::filesystem::create_directories(outside_);
        WriteFileText(outside_ + "/victim.txt", "outside");
        SetStamp(outside_ + "/victim.txt", OldStamp());
    }

    std::string At(const std::string& name) const { return root_ / ("target/" + name); }
    std::string Temp(const std::string& name) const { return At("__QXUPD_/" + name); }
    void Install(const std::string& name, const std::string& content) {
        WriteFileText(At(name), content);
        SetStamp(At(name), OldStamp());
    }
    // Runs `act` once the commit phase begins, before its first file is touched.
    void AtCommit(std::function<void()> act) {
        fe_.on_item = [act](int item, const std::string& text) {
            if (item == kItemButton && text == "----") act();
        };
    }
    ApplyResult Apply() {
        package_.reset();  // Windows would not let the package file be written while it is open
        const std::string path = root_ / "p.upg";
        plan_.Write(path);
        package_ = OpenForApply(path, target_);
        EXPECT_TRUE(package_->IsValid()) << package_->RefusalReason();
        return ApplyPackage(*package_, &fe_);
    }
    // Every commit failure with its reason, for messages.
    std::string Failures() const {
        std::string text;
        for (const CommitFailure& f : package_->commit_failures) text += f.name + ": " + f.reason + "\n";
        return text;
    }

    TempDir root_;
    std::string target_ = root_ / "target";
    std::string outside_ = root_ / "outside";
    PackagePlan plan_;
    FakeFrontEnd fe_;
    std::unique_ptr<UpgradePackage> package_;
};
