// Text in the code page on a POSIX system, whose file names are UTF-8: package names meet
// the file system converted at the OS layer's edge, the builder writes its names in the
// code page, and what the code page cannot hold or does not define is refused, never
// mangled. Western (1252) and Cyrillic (1251) packages, and a Japanese (932) sequence.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include "apply/driver.h"
#include "builder/builder.h"
#include "io/codepage.h"
#include "package/package.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

// Chooses a code page for the test and restores the one before.
class CodePage {
public:
    explicit CodePage(int code_page) : saved_(os::CodePage()) {
        std::string why;
        EXPECT_TRUE(os::SetCodePage(code_page, &why)) << why;
    }
    ~CodePage() {
        std::string why;
        os::SetCodePage(saved_, &why);
    }

private:
    int saved_;
};

// Writes and reads a file whose path is spelled in UTF-8, as the file system holds it,
// without the engine (or its conversion).
void WriteUtf8(const std::string& path, const std::string& content) {
    fs::create_directories(fs::path(path).parent_path());
    std::ofstream(path, std::ios::binary) << content;
}

std::string Slurp(const std::string& utf8_path) {
    std::ifstream in(utf8_path, std::ios::binary);
    EXPECT_TRUE(in.good()) << utf8_path;
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

TEST(CodePageText, ConvertsAndRefusesWhatTheCodePageLacks) {
    CodePage western(1252);
    std::string utf8, text;
    ASSERT_TRUE(os::ToUtf8("M\xFAsica", &utf8));
    EXPECT_EQ(utf8, "M\xC3\xBAsica");
    ASSERT_TRUE(os::FromUtf8("\xC3\x89t\xC3\xA9", &text));
    EXPECT_EQ(text, "\xC9t\xE9");
    EXPECT_FALSE(os::ToUtf8("bad \x81 byte", &utf8)) << "0x81 is not defined in 1252";
    EXPECT_FALSE(os::FromUtf8("\xE7\x94\xA8", &text)) << "a Chinese character is not in 1252";
    EXPECT_EQ(os::DescribeUtf8("\xE7\x94\xA8.txt"), "\\u{7528}.txt");
    EXPECT_EQ(os::DescribeUtf8("caf\xC3\xA9"), "caf\xE9") << "what the code page holds stays";
    EXPECT_EQ(os::DescribeUtf8("bad\xFF"), "bad\\xFF") << "no UTF-8 at all";

    std::string why;
    EXPECT_TRUE(os::TextFileToCodePage("caf\xC3\xA9\r\n", &text, &why));
    EXPECT_EQ(text, "caf\xE9\r\n") << "a UTF-8 file is converted";
    EXPECT_TRUE(os::TextFileToCodePage("caf\xE9", &text, &why));
    EXPECT_EQ(text, "caf\xE9") << "a file in the code page is taken as it is";
    EXPECT_FALSE(os::TextFileToCodePage("\xE7\x94\xA8", &text, &why));
    EXPECT_NE(why.find("cannot hold"), std::string::npos) << why;

    CodePage japanese(932);
    ASSERT_TRUE(os::ToUtf8("\x95\x5C.txt", &utf8)) << "a trail byte 0x5C is part of its character";
    EXPECT_EQ(utf8, "\xE8\xA1\xA8.txt");
    EXPECT_FALSE(os::ToUtf8("cut \x82", &utf8)) << "a lead byte without its trail byte";
}

// A package made on Windows holds its names in the code page; the applicator finds the
// folders a Windows program (or Wine) wrote in UTF-8.
TEST(CodePageText, AWindowsPackageAppliesToAUtf8Folder) {
    CodePage western(1252);
    TempDir dir;
    const std::string target = dir / "target";
    WriteUtf8(target + "/M\xC3\xBAsica/tema.txt", "old theme");
    SetStamp(target + "/M\xFAsica/tema.txt", OldStamp());
    PackagePlan plan;
    plan.Update("M\xFAsica\\tema.txt", ToBytes("old theme"), ToBytes("new theme"));
    plan.Add("M\xFAsica\\Canci\xF3n\\nueva.ogg", ToBytes("new song"));
    plan.Write(dir / "windows.upg");
    FakeFrontEnd frontend;
    auto package = OpenForApply(dir / "windows.upg", target);
    ASSERT_TRUE(package->IsValid()) << package->RefusalReason();
    ASSERT_EQ(ApplyPackage(*package, &frontend), kApplyDone);
    EXPECT_EQ(EntryStates(*package), (std::vector<int>{0, 0}));
    EXPECT_EQ(Slurp(target + "/M\xC3\xBAsica/tema.txt"), "new theme");
    EXPECT_EQ(Slurp(target + "/M\xC3\xBAsica/Canci\xC3\xB3n/nueva.ogg"), "new song");
    EXPECT_FALSE(fs::exists(target + "/M\xFAsica")) << "no folder named in raw code-page bytes";
}

// Bytes that are no character of the code page make the package invalid.
TEST(CodePageText, NamesThatAreNoTextOfTheCodePageAreRefused) {
    TempDir dir;
    PackagePlan plan;
    plan.Add("undefined \x81.txt", ToBytes("x"));
    plan.Write(dir / "undefined.upg");
    {
        CodePage western(1252);
        auto package = OpenForApply(dir / "undefined.upg", dir.Path());
        EXPECT_FALSE(package->IsValid());
        EXPECT_NE(package->RefusalReason().find("no text of code page 1252"), std::string::npos) << package->RefusalReason();
    }
    {
        CodePage cyrillic(1251);
        EXPECT_TRUE(OpenForApply(dir / "undefined.upg", dir.Path())->IsValid()) << "0x81 is a letter in 1251";
    }
    PackagePlan broken;
    broken.Add("a\\cut \x82", ToBytes("x"));
    broken.Write(dir / "broken.upg");
    CodePage japanese(932);
    auto package = OpenForApply(dir / "broken.upg", dir.Path());
    EXPECT_FALSE(package->IsValid()) << "a double-byte character cut off";
}

// The builder writes names in the code page and refuses a name it cannot hold, naming it.
TEST(CodePageText, TheBuilderWritesTheCodePageAndRefusesWhatItCannotHold) {
    for (const int code_page : {1252, 1251}) {
        SCOPED_TRACE(code_page);
        CodePage chosen(code_page);
        TempDir dir;
        const std::string old_dir = dir / "old", new_dir = dir / "new";
        // "Música" holds in 1252; "Карта" (map) in 1251.
        const std::string folder_utf8 = code_page == 1252 ? "M\xC3\xBAsica" : "\xD0\x9A\xD0\xB0\xD1\x80\xD1\x82\xD0\xB0";
        const std::string folder_text = code_page == 1252 ? "M\xFAsica" : "\xCA\xE0\xF0\xF2\xE0";
        WriteUtf8(old_dir + "/" + folder_utf8 + "/a.txt", "old a");
        WriteUtf8(new_dir + "/" + folder_utf8 + "/a.txt", "new a, longer");
        WriteUtf8(new_dir + "/" + folder_utf8 + "/" + folder_utf8 + ".dat", "added");
        BuildOptions options;
        options.old_dir = old_dir;
        options.new_dir = new_dir;
        options.output = dir / "out.upg";
        options.scratch_folder = dir.Path();
        std::vector<std::string> errors;
        ASSERT_TRUE(BuildPackage(options, nullptr, nullptr, &errors)) << (errors.empty() ? "" : errors[0]);
        auto package = UpgradePackage::OpenFull(options.output.c_str(), dir.Path().c_str());
        ASSERT_TRUE(package->IsValid()) << package->RefusalReason();
        ASSERT_EQ(package->entries.size(), 2u);
        EXPECT_EQ(std::string(package->entries[0].name), folder_text + "\\a.txt") << "the name in the code page";
        EXPECT_EQ(std::string(package->entries[1].name), folder_text + "\\" + folder_text + ".dat");
        package.reset();

        // A Chinese name fits neither: nothing is written, and the error names the file.
        fs::remove(options.output);
        WriteUtf8(new_dir + "/\xE7\x94\xA8.txt", "use");
        errors.clear();
        EXPECT_FALSE(BuildPackage(options, nullptr, nullptr, &errors));
        ASSERT_FALSE(errors.empty());
        EXPECT_NE(errors[0].find("\\u{7528}.txt"), std::string::npos) << errors[0];
        EXPECT_NE(errors[0].find("code page " + std::to_string(code_page)), std::string::npos) << errors[0];
        EXPECT_FALSE(fs::exists(options.output));
        // Left out, it is no obstacle.
        options.excludes = {"*.txt"};
        options.check = false;
        errors.clear();
        EXPECT_TRUE(BuildPackage(options, nullptr, nullptr, &errors)) << (errors.empty() ? "" : errors[0]);
    }
}
