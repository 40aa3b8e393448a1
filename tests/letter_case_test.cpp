// Letter case beyond ASCII: the one folding rule of the code page, and names that differ
// only in the case of an accented letter ("\xC9.dat" and "\xE9.dat": E with acute in the
// Western code page) taken as one file by the builder, the package reader and the apply
// alike, on every system.
#include <gtest/gtest.h>

#include "apply/driver.h"
#include "builder/builder.h"
#include "io/codepage.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace {

constexpr char kUpper[] = "\xC9.dat";  // É.dat
constexpr char kLower[] = "\xE9.dat";  // é.dat

// Tests below are about the Western code page; a Windows system with another one skips them.
bool Western() { return os::CodePage() == 1252; }

// Restores the code page when the test leaves.
class CodePageScope {
public:
    CodePageScope() : saved_(os::CodePage()) {}
    ~CodePageScope() {
        std::string error;
        os::SetCodePage(saved_, &error);
    }

private:
    int saved_;
};

}  // namespace

TEST(LetterCase, FoldsTheLettersOfTheCodePage) {
    EXPECT_EQ(os::FoldedName("Maps\\level1.map"), "MAPS\\LEVEL1.MAP");
    EXPECT_EQ(os::FoldedName("a[b]{c}~_"), "A[B]{C}~_") << "only letters are folded";
    if (!Western()) GTEST_SKIP() << "the system's code page is " << os::CodePage();
    EXPECT_EQ(os::FoldedName(kLower), "\xC9.DAT");
    EXPECT_EQ(os::FoldedName("\xE6\xF8\xE5\xF1\xE7"), "\xC6\xD8\xC5\xD1\xC7") << "ae, o slash, a ring, n tilde, c cedilla";
    EXPECT_EQ(os::FoldedName("\xFF"), "\x9F") << "y diaeresis has its capital at 0x9F";
    EXPECT_EQ(os::FoldedName("\xD7\xF7\xA9"), "\xD7\xF7\xA9") << "signs are no letters";
    EXPECT_TRUE(os::SameFoldedName(kUpper, kLower));
    EXPECT_FALSE(os::SameFoldedName("\xC9", "\xC8")) << "acute and grave are two letters";
}

TEST(LetterCase, CodePagesAreChosenOrRefused) {
    CodePageScope restore;
    std::string error;
    EXPECT_TRUE(os::SetCodePage(os::CodePage(), &error)) << error;
    if (!IsPosix()) {
        const int other = os::CodePage() == 1251 ? 1252 : 1251;
        EXPECT_FALSE(os::SetCodePage(other, &error));
        EXPECT_NE(error.find(std::to_string(os::CodePage())), std::string::npos) << error;
        return;
    }
    // Cyrillic: the capital of a small letter is in the same code page.
    ASSERT_TRUE(os::SetCodePage(1251, &error)) << error;
    EXPECT_EQ(os::CodePage(), 1251);
    EXPECT_EQ(os::FoldedName("\xE0\xE1\xE2"), "\xC0\xC1\xC2");
    EXPECT_EQ(os::FoldedName("\xFF"), "\xDF") << "ya, whose capital is at 0xDF here (0x9F in 1252)";
    for (int refused : {0, 99999, 37 /* EBCDIC changes ASCII */}) {
        error.clear();
        EXPECT_FALSE(os::SetCodePage(refused, &error)) << refused;
        EXPECT_NE(error.find(std::to_string(refused)), std::string::npos) << error;
    }
    EXPECT_EQ(os::CodePage(), 1251) << "a refusal keeps the code page";
}

TEST(LetterCase, TheReaderTakesBothSpellingsForOneFile) {
    if (!Western()) GTEST_SKIP() << "the system's code page is " << os::CodePage();
    TempDir dir;
    PackagePlan plan;
    plan.Add(kUpper, ToBytes("one"));
    plan.Add(kLower, ToBytes("two"));
    plan.Write(dir / "twice.upg");
    auto package = OpenForApply(dir / "twice.upg", dir.Path());
    EXPECT_FALSE(package->IsValid());
    EXPECT_NE(package->RefusalReason().find("name the same file"), std::string::npos) << package->RefusalReason();
}

TEST(LetterCase, TheApplyFindsTheFileInTheOtherSpelling) {
    if (!Western()) GTEST_SKIP() << "the system's code page is " << os::CodePage();
    TempDir dir;
    const Bytes old_content = ToBytes("old music"), new_content = ToBytes("new music, longer");
    // The folder holds the capital spelling; the package names the small one.
    WriteFileBytes(dir / kUpper, old_content);
    SetStamp(dir / kUpper, OldStamp());
    PackagePlan plan;
    plan.Update(kLower, old_content, new_content);
    plan.Write(dir / "update.upg");
    FakeFrontEnd frontend;
    auto package = OpenForApply(dir / "update.upg", dir.Path());
    ASSERT_TRUE(package->IsValid()) << package->RefusalReason();
    ASSERT_EQ(ApplyPackage(*package, &frontend), kApplyDone);
    EXPECT_EQ(EntryStates(*package), std::vector<int>{0});
    EXPECT_EQ(ReadFileBytes(dir / kUpper), new_content) << "the file is found and updated in place";
}

TEST(LetterCase, TheBuilderTakesBothSpellingsForOneFile) {
    if (!Western()) GTEST_SKIP() << "the system's code page is " << os::CodePage();
    TempDir dir;
    const std::string old_dir = dir / "old", new_dir = dir / "new";
    WriteFileText(JoinNative(old_dir, kUpper), "same");
    WriteFileText(JoinNative(old_dir, "keep.txt"), "k");
    WriteFileText(JoinNative(new_dir, kLower), "same");
    WriteFileText(JoinNative(new_dir, "keep.txt"), "k changed");
    for (const std::string& root : {old_dir, new_dir}) {
        SetStamp(JoinNative(root, kLower), OldStamp());
        SetStamp(JoinNative(root, "keep.txt"), root == old_dir ? OldStamp() : NewStamp());
    }
    BuildOptions options;
    options.old_dir = old_dir;
    options.new_dir = new_dir;
    options.output = dir / "out.upg";
    options.scratch_folder = dir.Path();
    std::vector<std::string> errors;
    BuildSummary summary;
    ASSERT_TRUE(BuildPackage(options, nullptr, &summary, &errors)) << (errors.empty() ? "" : errors[0]);
    EXPECT_EQ(summary.unchanged, 1) << "one file in two spellings, unchanged";
    EXPECT_EQ(summary.updates, 1);
    EXPECT_EQ(summary.adds + summary.removes, 0);

    // Two files in one folder that only a case-sensitive file system can hold.
    if (!IsPosix()) return;
    WriteFileText(JoinNative(new_dir, kUpper), "the other");
    errors.clear();
    EXPECT_FALSE(BuildPackage(options, nullptr, &summary, &errors));
    ASSERT_FALSE(errors.empty());
    EXPECT_NE(errors[0].find("differ only in letter case"), std::string::npos) << errors[0];
}
