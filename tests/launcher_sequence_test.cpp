// Tests of the launcher's run: the decision table, the CD search, the UTC dates, the
// not-installed question, Cancel at the CD prompt and the CD path setting around the
// applicator's run.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "support/fake_launcher_host.h"

namespace {

const std::string kNotInstalled =
    "Brackwold does not appear to be installed on this machine.\nAttempt upgrade anyway?";
const std::string kInsertCd =
    "This update must access files on your Brackwold CD.\nPlease put your CD into your CD drive and press OK.";
const std::string kNoCd = "Unable to proceed with upgrade, original cd required";
const std::string kAlready13 =
    "Your installed version of brackwold is already v1.3\nThis patch patches from v1.0 to v1.3\nYou do not need "
    "this patch.";
const std::string kCd12 = "This patch cannot patch from Brackwold version 1.2\nThis patch only patches from v1.0 to v1.3.";

const uint64_t kVersion10Date = UtcFileTime(1998, 11, 2);
const uint64_t kVersion11Date = UtcFileTime(1999, 6, 17);
const uint64_t kVersion13Date = UtcFileTime(2000, 3, 8);
const uint64_t kCd10Date = UtcFileTime(1998, 10, 30);
const uint64_t kCd12Date = UtcFileTime(1999, 11, 24);

std::string Game(const std::string& tail) { return std::string(kGameDir) + tail; }

TEST(LauncherDates, MonthAndDayAreTakenInUtc) {
    EXPECT_EQ(UtcMonthDay(0).month, 1);
    EXPECT_EQ(UtcMonthDay(0).day, 1);
    MonthDay leap = UtcMonthDay(UtcFileTime(2000, 2, 29, 23, 59, 59));
    EXPECT_EQ(leap.month, 2);
    EXPECT_EQ(leap.day, 29);
    MonthDay next = UtcMonthDay(UtcFileTime(2000, 2, 29, 23, 59, 59) + 10000000);
    EXPECT_EQ(next.month, 3);
    EXPECT_EQ(next.day, 1);
    MonthDay late = UtcMonthDay(UtcFileTime(2107, 12, 31, 0, 0, 1));
    EXPECT_EQ(late.month, 12);
    EXPECT_EQ(late.day, 31);
}

// Runs the launcher once on `host`; OK at the CD prompt unless answers were queued.
int RunLauncher(FakeLauncherHost& host, Launcher* launcher = nullptr) {
    Launcher local(host);
    Launcher& l = launcher ? *launcher : local;
    if (host.answers.empty()) host.answers.push_back(kAnswerOk);
    int code = l.Run();
    EXPECT_EQ(host.unexpected_messages, 0);
    return code;
}

struct DecisionCase {
    const char* name;
    uint64_t installed;  // 0: the installed main game file cannot be opened
    uint64_t cd;
    const char* refusal;  // null when the patch sequence runs
    bool restores;
    bool shortcut;
};

// The case by its name: GoogleTest would print the bytes of the struct, pointers
// included, and the test's listed name would change from run to run.
void PrintTo(const DecisionCase& c, std::ostream* out) { *out << c.name; }

class LauncherDecisions : public testing::TestWithParam<DecisionCase> {};

TEST_P(LauncherDecisions, FollowTheTable) {
    const DecisionCase& c = GetParam();
    FakeLauncherHost host;
    InstallGame(host, c.installed);
    if (c.installed == 0) host.locked.insert(Game("\\system\\Brackwold.U"));
    InsertCd(host, 'E', c.cd);
    FakeLauncherHost before = host;

    EXPECT_EQ(RunLauncher(host), kExitDone);
    ASSERT_EQ(host.held_mutexes, std::vector<std::string>{"UnrealIsRunning"});
    for (const auto& m : host.messages) EXPECT_EQ(m.caption, "Brackwold Upgrade");
    if (c.refusal) {
        EXPECT_EQ(host.Texts(), (std::vector<std::string>{kInsertCd, c.refusal}));
        EXPECT_EQ(host.messages[1].style, unsigned(kButtonsOk | kIconError));
        EXPECT_TRUE(host.runs.empty());
        EXPECT_TRUE(host.SameFilesAs(before)) << "a refusal changes nothing";
        return;
    }
    EXPECT_EQ(host.Texts(), std::vector<std::string>{kInsertCd});
    EXPECT_EQ(host.runs, std::vector<std::string>{"ambrel32.exe"});
    EXPECT_EQ(host.GetFile(Game("\\system\\Engine.U")).content == "cd:\\system\\Engine.U", c.restores);
    EXPECT_EQ(host.HasFile(Game("\\system\\Brackwold.U")) &&
                  host.GetFile(Game("\\system\\Brackwold.U")).content == "cd main",
              c.restores);
    EXPECT_EQ(host.HasFile(std::string(kProgramsDir) + "\\Brackwold\\Play for Free on Zintra.url"), c.shortcut);
    EXPECT_EQ(host.GetFile(Game("\\Maps\\Wyrmdeep.bkm")).content, "cd:\\Maps\\Wyrmdeep.bkm");
}

INSTANTIATE_TEST_SUITE_P(
    Table, LauncherDecisions,
    testing::Values(DecisionCase{"Installed10", kVersion10Date, kCd10Date, nullptr, false, true},
                    DecisionCase{"Installed11", kVersion11Date, kCd10Date, nullptr, true, false},
                    DecisionCase{"Installed13", kVersion13Date, kCd10Date, kAlready13.c_str(), false, false},
                    DecisionCase{"Installed13CdOf12", kVersion13Date, kCd12Date, kAlready13.c_str(), false, false},
                    DecisionCase{"Installed10CdOf12", kVersion10Date, kCd12Date, kCd12.c_str(), false, false},
                    DecisionCase{"Installed11CdOf12", kVersion11Date, kCd12Date, kCd12.c_str(), false, false},
                    // Without a readable installed file the CD is not examined either.
                    DecisionCase{"InstalledUnreadableCdOf12", 0, kCd12Date, nullptr, true, false}),
    [](const testing::TestParamInfo<DecisionCase>& info) { return std::string(info.param.name); });

TEST(LauncherDates, TheInstalledDateIsTheUtcDateWhateverTheYearOrHour) {
    struct Case {
        uint64_t last_write;
        int32_t expected;
    };
    // 23:00 on 2 November UTC is 01:00 on 3 November two hours east of UTC: still 1.0.
    const Case cases[] = {{UtcFileTime(1998, 11, 2, 23, 0, 0), kVersion10},
                          {UtcFileTime(1998, 11, 2, 0, 0, 0), kVersion10},
                          {UtcFileTime(2031, 11, 2, 23, 59, 59), kVersion10},
                          {UtcFileTime(1998, 11, 1, 23, 59, 59), kVersion11},
                          {UtcFileTime(1998, 11, 3, 0, 0, 0), kVersion11},
                          {UtcFileTime(1999, 3, 8, 23, 59, 59), kVersion13},
                          {UtcFileTime(1999, 3, 9, 0, 0, 0), kVersion11}};
    for (const Case& c : cases) {
        FakeLauncherHost host;
        InstallGame(host, c.last_write);
        InsertCd(host, 'E', UtcFileTime(1998, 11, 24, 23, 59, 59));
        Launcher launcher(host);
        ASSERT_TRUE(launcher.ReadInstallDir());
        std::strcpy(launcher.CdRoot, "E:\\");
        launcher.DetectVersions();
        EXPECT_EQ(launcher.InstalledVersion, c.expected) << c.last_write;
        EXPECT_EQ(launcher.CdVersion, kVersion11);
    }
    FakeLauncherHost host;
    InstallGame(host, kVersion10Date);
    InsertCd(host, 'E', UtcFileTime(1998, 11, 25, 0, 0, 0));
    Launcher launcher(host);
    launcher.ReadInstallDir();
    ASSERT_TRUE(launcher.FindCdRoot());
    launcher.DetectVersions();
    EXPECT_EQ(launcher.CdVersion, kVersion10) << "25 November is not the CD of 1.2";
}

TEST(LauncherCd, DrivesAreTriedFromAToZAndOnlyCdRomDrivesWithTheMarkerCount) {
    FakeLauncherHost host;
    InstallGame(host, kVersion10Date);
    host.AddFile("C:\\maps\\Thornwick.bkm", "marker on a fixed disk");
    host.SetDrive('D', kDriveCdRom);  // a disc without the marker
    host.AddFile("D:\\system\\Brackwold.U", "another disc", FileTimes{kCd12Date, kCd12Date, kCd12Date});
    InsertCd(host, 'G', kCd10Date);
    InsertCd(host, 'F', kCd12Date);
    Launcher launcher(host);
    ASSERT_TRUE(launcher.FindCdRoot());
    EXPECT_STREQ(launcher.CdRoot, "F:\\");
    EXPECT_TRUE(host.messages.empty());

}

TEST(LauncherCd, OkWithoutTheCdEndsWithExitCode1AndChangesNothing) {
    FakeLauncherHost host;
    InstallGame(host, kVersion13Date);
    host.AddFile("C:\\maps\\Thornwick.bkm", "marker on a fixed disk");
    host.SetDrive('D', kDriveCdRom);
    FakeLauncherHost before = host;
    Launcher launcher(host);
    EXPECT_EQ(RunLauncher(host, &launcher), kExitNoCd);
    EXPECT_EQ(host.Texts(), (std::vector<std::string>{kInsertCd, kNoCd})) << "no version message after it";
    EXPECT_EQ(host.messages[0].style, unsigned(kButtonsOkCancel | kIconExclamation));
    EXPECT_EQ(host.messages[1].style, unsigned(kButtonsOk | kIconExclamation));
    EXPECT_STREQ(launcher.CdRoot, "");
    EXPECT_TRUE(host.runs.empty());
    EXPECT_TRUE(host.SameFilesAs(before));
}

TEST(LauncherCd, CancelAtThePromptRunsTheSequenceWithPathsRelativeToTheCurrentFolder) {
    FakeLauncherHost host;
    InstallGame(host, kVersion11Date);
    InsertCd(host, 'E', kCd12Date);  // never looked at
    host.AddFile("Maps\\Kestrel.bkm", "beside the launcher", CdTimes());
    host.answers = {kAnswerCancel};
    Launcher launcher(host);
    EXPECT_EQ(launcher.Run(), kExitDone);
    EXPECT_EQ(host.Texts(), std::vector<std::string>{kInsertCd});
    EXPECT_STREQ(launcher.CdRoot, "");
    EXPECT_EQ(launcher.CdVersion, kVersion10);
    EXPECT_EQ(host.runs.size(), 1u);
    EXPECT_EQ(host.GetFile(Game("\\Maps\\Kestrel.bkm")).content, "beside the launcher");
    EXPECT_FALSE(host.HasFile(Game("\\Maps\\Wyrmdeep.bkm")));
    EXPECT_EQ(host.GetFile(Game("\\system\\Engine.U")).content, "installed engine") << "nothing to restore from";
    EXPECT_FALSE(host.HasFile(Game("\\system\\brackwold.ini.tmp")));
}

TEST(LauncherNotInstalled, NoChangesNothingAndYesOnlyRunsTheApplicator) {
    for (int answer : {kAnswerNo, kAnswerYes}) {
        FakeLauncherHost host;
        InsertCd(host, 'E', kCd10Date);
        host.SetIni("C:\\Games\\Brackwold\\system\\brackwold.ini", "Engine.Engine", "CdPath", "E:\\");
        // A key without its "Path" value counts as not installed too.
        host.SetRegistry(kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\BRACKRUN.EXE",
                         "Other", "C:\\Games\\Brackwold");
        FakeLauncherHost before = host;
        host.answers = {answer};
        Launcher launcher(host);
        EXPECT_EQ(launcher.Run(), kExitDone);
        ASSERT_EQ(host.Texts(), std::vector<std::string>{kNotInstalled});
        EXPECT_EQ(host.messages[0].style, unsigned(kButtonsYesNo | kIconExclamation));
        EXPECT_EQ(host.held_mutexes.size(), 1u);
        std::vector<std::string> expected_ops = {"message " + kNotInstalled};
        if (answer == kAnswerYes) expected_ops.push_back("run ambrel32.exe");
        EXPECT_EQ(host.operations, expected_ops) << "no ini file read or written, nothing copied";
        EXPECT_TRUE(host.SameFilesAs(before));
    }
}

TEST(LauncherSequence, IniFilesGoBeforeTheApplicatorAndComeBackWithTheSavedCdPath) {
    FakeLauncherHost host;
    InstallGame(host, kVersion10Date);
    InsertCd(host, 'E', kCd10Date);
    std::string user_ini = Game("\\system\\brackwold.ini"), default_ini = Game("\\system\\default.ini");
    bool checked = false;
    host.on_run = [&] {
        checked = true;
        EXPECT_EQ(host.held_mutexes.size(), 1u) << "the mutex is held while the applicator runs";
        EXPECT_FALSE(host.HasFile(user_ini));
        EXPECT_FALSE(host.HasFile(default_ini));
        EXPECT_TRUE(host.HasFile(Game("\\Maps\\Brackwold.bkm"))) << "the CD files are in place first";
        EXPECT_TRUE(host.HasFile(std::string(kProgramsDir) + "\\Brackwold\\Play for Free on Zintra.url"));
        // The applicator's new version of the user ini, with a CD path of its own.
        host.SetIni(user_ini, "Engine.Engine", "CdPath", "X:\\");
        host.SetIni(user_ini, "Engine.Engine", "Language", "det");
    };
    EXPECT_EQ(RunLauncher(host), kExitDone);
    EXPECT_TRUE(checked);
    EXPECT_EQ(host.IniText(user_ini), "ENGINE.ENGINE|CDPATH=E:\\\nENGINE.ENGINE|LANGUAGE=det\n");
    EXPECT_EQ(host.IniText(default_ini), "ENGINE.ENGINE|CDPATH=E:\\\n")
        << "a missing ini file is created with just the section and key";
    std::vector<std::string> ini_ops;
    for (const std::string& op : host.operations)
        if (op.rfind("ini-", 0) == 0 || op.rfind("delete", 0) == 0) ini_ops.push_back(op);
    EXPECT_EQ(ini_ops, (std::vector<std::string>{"ini-read " + user_ini, "delete " + default_ini,
                                                 "delete " + user_ini, "ini-write " + user_ini + " CdPath=E:\\",
                                                 "ini-write " + default_ini + " CdPath=E:\\"}));
}

TEST(LauncherSequence, MissingCdPathGivesTheDefaultInBothIniFiles) {
    for (bool ini_exists : {true, false}) {
        FakeLauncherHost host;
        InstallGame(host, kVersion11Date);
        InsertCd(host, 'E', kCd10Date);
        std::string user_ini = Game("\\system\\brackwold.ini"), default_ini = Game("\\system\\default.ini");
        host.files.erase(host.files.find("C:\\GAMES\\BRACKWOLD\\SYSTEM\\BRACKWOLD.INI"));
        if (ini_exists) host.SetIni(user_ini, "Engine.Engine", "Language", "int");
        Launcher launcher(host);
        EXPECT_EQ(RunLauncher(host, &launcher), kExitDone);
        EXPECT_STREQ(launcher.SavedCdPath, "..\\");
        EXPECT_NE(host.IniText(user_ini).find("ENGINE.ENGINE|CDPATH=..\\\n"), std::string::npos);
        EXPECT_EQ(host.IniText(default_ini), "ENGINE.ENGINE|CDPATH=..\\\n");
    }
}

}  // namespace
