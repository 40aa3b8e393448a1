// The applicator front end's portable rules: the package path from the command line or
// beside the program, the folder chooser's answer, and the percentage bar's geometry.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "ui/front_end_rules.h"

namespace {

std::string FromCommandLine(const std::string& tail, bool* fits = nullptr) {
    char out[260] = "previous";
    const bool ok = PackagePathFromCommandLine(tail.c_str(), out, sizeof out);
    if (fits != nullptr) *fits = ok;
    return out;
}

}  // namespace

TEST(PackagePathRule, TakesTheTailVerbatim) {
    EXPECT_EQ(FromCommandLine("C:\\Patch\\brack.upg"), "C:\\Patch\\brack.upg");
    // Blanks are part of the path; nothing is split or trimmed.
    EXPECT_EQ(FromCommandLine("C:\\My Patches\\brack 1.3.upg "), "C:\\My Patches\\brack 1.3.upg ");
}

TEST(PackagePathRule, RemovesOnePairOfEnclosingQuotes) {
    EXPECT_EQ(FromCommandLine("\"C:\\My Patches\\brack 1.3.upg\""), "C:\\My Patches\\brack 1.3.upg");
    EXPECT_EQ(FromCommandLine("\"\"C:\\a.upg\"\""), "\"C:\\a.upg\"");
    // Quotes that do not enclose the whole tail stay, and so does a lone quote.
    EXPECT_EQ(FromCommandLine("\"C:\\a.upg\" extra"), "\"C:\\a.upg\" extra");
    EXPECT_EQ(FromCommandLine("C:\\a \"b\".upg"), "C:\\a \"b\".upg");
    EXPECT_EQ(FromCommandLine("\""), "\"");
    EXPECT_EQ(FromCommandLine("\"\""), "");
}

TEST(PackagePathRule, RefusesAPathThatDoesNotFit) {
    bool fits = false;
    EXPECT_EQ(FromCommandLine(std::string(259, 'a'), &fits), std::string(259, 'a'));
    EXPECT_TRUE(fits);
    // Cutting the path could name another file: refused, and nothing of it is kept.
    EXPECT_EQ(FromCommandLine(std::string(260, 'a'), &fits), "");
    EXPECT_FALSE(fits);
    // The quotes do not count.
    EXPECT_EQ(FromCommandLine("\"" + std::string(259, 'a') + "\"", &fits), std::string(259, 'a'));
    EXPECT_TRUE(fits);
}

TEST(PackagePathRule, PackagesBesideTheProgram) {
    char out[260];
    ASSERT_TRUE(PackageNamedLikeProgram("C:\\Patch.v2\\ambrel32.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Patch.v2\\ambrel32.upg");
    ASSERT_TRUE(DefaultPackageBesideProgram("C:\\Patch.v2\\ambrel32.exe", out, sizeof out));
    EXPECT_STREQ(out, "C:\\Patch.v2\\default.upg");
    ASSERT_TRUE(DefaultPackageBesideProgram("ambrel32.exe", out, sizeof out));
    EXPECT_STREQ(out, "default.upg");
    // A program path whose "default.upg" would not fit: refused, not cut.
    const std::string deep = "C:\\" + std::string(250, 'd') + "\\ambrel32.exe";
    EXPECT_FALSE(DefaultPackageBesideProgram(deep.c_str(), out, sizeof out));
    EXPECT_STREQ(out, "");
}

TEST(FolderChooserAnswer, DropsTheFileNameAndKeepsADriveRoot) {
    char out[260] = "unchanged";
    ASSERT_TRUE(FolderFromChooserAnswer("C:\\GAMES\\Target", out, sizeof out));
    EXPECT_STREQ(out, "C:\\GAMES");
    ASSERT_TRUE(FolderFromChooserAnswer("C:\\Target", out, sizeof out));
    EXPECT_STREQ(out, "C:\\");
    ASSERT_TRUE(FolderFromChooserAnswer("D:\\Games\\Brack wold\\Target", out, sizeof out));
    EXPECT_STREQ(out, "D:\\Games\\Brack wold");
    std::strcpy(out, "unchanged");
    EXPECT_FALSE(FolderFromChooserAnswer("Target", out, sizeof out));
    EXPECT_STREQ(out, "unchanged");
    char small[4];
    EXPECT_FALSE(FolderFromChooserAnswer("C:\\AB\\Target", small, sizeof small));
}

TEST(MulDiv, RoundsHalvesAwayFromZero) {
    EXPECT_EQ(MulDivRounded(769, 128, 256), 385);  // 384.5
    EXPECT_EQ(MulDivRounded(769, 4, 256), 12);     // 12.02
    EXPECT_EQ(MulDivRounded(-769, 128, 256), -385);
    EXPECT_EQ(MulDivRounded(50, 279, 100), 140);  // 139.5
    EXPECT_EQ(MulDivRounded(1, 2, 0), -1);
    EXPECT_EQ(MulDivRounded(2000000000, 3, 4), 1500000000);  // no overflow on the way
}

TEST(PercentBar, LeavesTheFrameAndSplitsAtTheFill) {
    // A 282 x 23 control: inside its one-pixel frame 280 x 21 from (1, 1).
    const BarRect client{0, 0, 282, 23};
    PercentBarLayout at0 = LayoutPercentBar(client, 0, 13);
    EXPECT_EQ(at0.filled.left, 1);
    EXPECT_EQ(at0.filled.right, 1);  // nothing blue at 0 %
    EXPECT_EQ(at0.empty.left, 2);
    EXPECT_EQ(at0.empty.right, 281);
    EXPECT_EQ(at0.filled.top, 1);
    EXPECT_EQ(at0.filled.bottom, 22);
    EXPECT_EQ(at0.text_x, 141);
    EXPECT_EQ(at0.text_y, 5);  // 1 + (21 - 13) / 2

    PercentBarLayout at50 = LayoutPercentBar(client, 50, 13);
    EXPECT_EQ(at50.filled.right, 141);
    EXPECT_EQ(at50.empty.left, 142);  // the column at the fill is painted by neither part

    PercentBarLayout at100 = LayoutPercentBar(client, 100, 13);
    EXPECT_EQ(at100.filled.right, 281);
    EXPECT_GE(at100.empty.left, at100.empty.right);  // nothing white at 100 %
}
