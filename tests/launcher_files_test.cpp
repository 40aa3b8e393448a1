// Tests of what the launcher changes in the install folder and the Start menu: files and
// maps from the CD, the safe copy with its times, the shortcut, and the limit of 511
// characters on composed paths.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "launcher/launcher.h"
#include "support/fake_launcher_host.h"

namespace {

const uint64_t kVersion10Date = UtcFileTime(1998, 11, 2);
const uint64_t kVersion11Date = UtcFileTime(1999, 6, 17);
const std::string kShortcut = std::string(kProgramsDir) + "\\Brackwold\\Play for Free on Zintra.url";
const std::string kShortcutDirect = std::string(kProgramsDir) + "\\Play Brackwold for Free on Zintra.url";

std::string Game(const std::string& tail) { return std::string(kGameDir) + tail; }

bool SameTimes(const FileTimes& a, const FileTimes& b) {
    return a.creation == b.creation && a.last_access == b.last_access && a.last_write == b.last_write;
}

// A launcher on the usual machine with the CD in E:, its install folder read and the
// versions detected.
struct Prepared {
    explicit Prepared(uint64_t installed) : launcher(host) {
        InstallGame(host, installed);
        InsertCd(host, 'E', UtcFileTime(1998, 10, 30));
        EXPECT_TRUE(launcher.ReadInstallDir());
        EXPECT_TRUE(launcher.FindCdRoot());
        launcher.DetectVersions();
    }
    FakeLauncherHost host;
    Launcher launcher;
};

TEST(LauncherFiles, Version10GetsMissingMapsOnlyAndExistingMapsAreNeverOverwritten) {
    Prepared p(kVersion10Date);
    FileTimes installed_times = p.host.GetFile(Game("\\Maps\\Arrival.bkm")).times;
    p.launcher.BringFilesFromCd();
    EXPECT_EQ(p.host.GetFile(Game("\\Maps\\Arrival.bkm")).content, "installed map");
    EXPECT_TRUE(SameTimes(p.host.GetFile(Game("\\Maps\\Arrival.bkm")).times, installed_times));
    for (int i = 0; MapFiles[i]; ++i) {
        std::string name = MapFiles[i];
        if (name == "\\Maps\\Arrival.bkm") continue;
        EXPECT_EQ(p.host.GetFile(Game(name)).content, "cd:" + name);
        EXPECT_TRUE(SameTimes(p.host.GetFile(Game(name)).times, CdTimes())) << name << " keeps the CD's times";
    }
    EXPECT_EQ(p.host.GetFile(Game("\\system\\Engine.U")).content, "installed engine") << "1.0 restores nothing";
    for (const auto& file : p.host.files) EXPECT_EQ(file.first.find(".TMP"), std::string::npos) << file.first;
}

TEST(LauncherFiles, AMissingMapsFolderIsMade) {
    Prepared p(kVersion10Date);
    p.host.files.erase(p.host.files.find("C:\\GAMES\\BRACKWOLD\\MAPS\\ARRIVAL.BKM"));
    p.host.folders.erase(p.host.folders.find("C:\\GAMES\\BRACKWOLD\\MAPS"));
    p.launcher.BringFilesFromCd();
    for (int i = 0; MapFiles[i]; ++i) EXPECT_TRUE(p.host.HasFile(Game(MapFiles[i]))) << MapFiles[i];
}

TEST(LauncherFiles, OtherVersionsGetTheFourRestoredFilesOverTheInstalledOnes) {
    Prepared p(kVersion11Date);
    ASSERT_EQ(p.launcher.InstalledVersion, kVersion11);
    p.host.files.erase(p.host.files.find("C:\\GAMES\\BRACKWOLD\\SYSTEM\\BRACKWOLDAI.U"));
    p.launcher.BringFilesFromCd();
    for (const char* entry : RestoreFiles) {
        EXPECT_EQ(p.host.GetFile(Game(entry)).content, p.host.GetFile(std::string("E:") + entry).content) << entry;
        EXPECT_EQ(p.host.GetFile(Game(entry)).content.rfind("installed", 0), std::string::npos) << entry;
    }
    EXPECT_TRUE(SameTimes(p.host.GetFile(Game("\\system\\Engine.U")).times, CdTimes()));
    EXPECT_EQ(p.host.GetFile(Game("\\Maps\\Arrival.bkm")).content, "installed map");
    // The restored map is one of the maps: copied once, as a restored file.
    int copies = 0;
    for (const std::string& op : p.host.operations)
        if (op.find("Thornwick.bkm.tmp ->") != std::string::npos) ++copies;
    EXPECT_EQ(copies, 1);
}

// A file of three and a bit copy blocks on the CD, and an installed one it replaces.
struct CopyCase {
    CopyCase() : launcher(host) {
        host.AddFile(source, std::string(200000, 'n'), CdTimes());
        host.AddFile(destination, "old contents", old_times);
    }
    void ExpectOldFileKept() {
        EXPECT_EQ(host.GetFile(destination).content, "old contents");
        EXPECT_TRUE(SameTimes(host.GetFile(destination).times, old_times));
        EXPECT_FALSE(host.HasFile(destination + ".tmp"));
    }
    FakeLauncherHost host;
    Launcher launcher;
    std::string source = "E:\\system\\Engine.U", destination = "C:\\Game\\system\\Engine.U";
    FileTimes old_times{5, 6, 7};
};

TEST(LauncherCopy, CopiesContentAndAllThreeTimesThroughATemporaryFile) {
    CopyCase c;
    EXPECT_TRUE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()));
    EXPECT_EQ(c.host.GetFile(c.destination).content, std::string(200000, 'n'));
    EXPECT_TRUE(SameTimes(c.host.GetFile(c.destination).times, CdTimes()));
    EXPECT_FALSE(c.host.HasFile(c.destination + ".tmp"));
    EXPECT_FALSE(c.host.GetFile(c.destination).read_only);

    c.host.AddFile(c.source, "", CdTimes());
    EXPECT_TRUE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()));
    EXPECT_EQ(c.host.GetFile(c.destination).content, "");
}

TEST(LauncherCopy, AnyFailureKeepsTheOldFileAndLeavesNoTemporaryFile) {
    const char* faults[] = {"write", "read", "close", "times", "read-only", "no source", "source locked"};
    for (std::string fault : faults) {
        CopyCase c;
        std::string temporary = c.destination + ".tmp";
        if (fault == "write") c.host.fail_write_beyond[temporary] = 100000;  // the second block fails
        if (fault == "read") c.host.fail_read_beyond[c.source] = 65536;
        if (fault == "close") c.host.fail_close.insert(temporary);
        if (fault == "times") c.host.fail_set_times.insert(temporary);
        if (fault == "read-only") c.host.files.find("C:\\GAME\\SYSTEM\\ENGINE.U")->second.read_only = true;
        if (fault == "no source") c.host.files.erase(c.host.files.find("E:\\SYSTEM\\ENGINE.U"));
        if (fault == "source locked") c.host.locked.insert(c.source);
        EXPECT_FALSE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str())) << fault;
        c.ExpectOldFileKept();
    }
    // With no installed file to begin with, a failed copy leaves none.
    CopyCase c;
    c.host.files.erase(c.host.files.find("C:\\GAME\\SYSTEM\\ENGINE.U"));
    c.host.fail_write_beyond[c.destination + ".tmp"] = 10;
    EXPECT_FALSE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()));
    EXPECT_FALSE(c.host.HasFile(c.destination));
    EXPECT_FALSE(c.host.HasFile(c.destination + ".tmp"));
}

// A file of the temporary file's name, whether the user's own or one left by a launcher that
// was killed in the middle of a copy, is neither written nor deleted: the copy goes to the
// next free name. A folder of that name is stepped over too.
TEST(LauncherCopy, AFileOfTheTemporaryNameIsNeverTouched) {
    for (bool folder : {false, true}) {
        CopyCase c;
        const std::string taken = c.destination + ".tmp";
        if (folder) c.host.AddFolder(taken);
        else c.host.AddFile(taken, "the user's own notes", FileTimes{1, 2, 3});
        FakeLauncherHost::File kept = folder ? FakeLauncherHost::File{} : c.host.GetFile(taken);
        EXPECT_TRUE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str())) << folder;
        EXPECT_EQ(c.host.GetFile(c.destination).content, std::string(200000, 'n'));
        EXPECT_TRUE(SameTimes(c.host.GetFile(c.destination).times, CdTimes()));
        if (folder) EXPECT_TRUE(c.host.HasFolder(taken));
        else EXPECT_TRUE(c.host.GetFile(taken) == kept) << "the file of the temporary name is as it was";
        EXPECT_FALSE(c.host.HasFile(c.destination + ".tmp1"));
        EXPECT_NE(std::find(c.host.operations.begin(), c.host.operations.end(),
                            "replace " + c.destination + ".tmp1 -> " + c.destination),
                  c.host.operations.end());
    }
    // A copy that fails removes its own temporary file only.
    CopyCase c;
    const std::string taken = c.destination + ".tmp";
    c.host.AddFile(taken, "the user's own notes", FileTimes{1, 2, 3});
    FakeLauncherHost before = c.host;
    c.host.fail_write_beyond[c.destination + ".tmp1"] = 100000;
    EXPECT_FALSE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()));
    EXPECT_TRUE(c.host.SameFilesAs(before)) << "the destination and the user's file are as they were";
}

TEST(LauncherCopy, TemporaryFilesLeftByKilledRunsAreSteppedOver) {
    CopyCase c;
    const std::string left[] = {".tmp", ".tmp1", ".tmp2", ".tmp3", ".tmp4", ".tmp5", ".tmp6", ".tmp7", ".tmp8"};
    for (const std::string& suffix : left) c.host.AddFile(c.destination + suffix, std::string(65536, 'n'));
    FakeLauncherHost before = c.host;
    EXPECT_TRUE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()));
    EXPECT_EQ(c.host.GetFile(c.destination).content, std::string(200000, 'n'));
    for (const std::string& suffix : left)
        EXPECT_TRUE(c.host.GetFile(c.destination + suffix) == before.GetFile(c.destination + suffix)) << suffix;
    EXPECT_FALSE(c.host.HasFile(c.destination + ".tmp9"));

    // With every name taken the copy is not made, and nothing changes.
    CopyCase full;
    for (const std::string& suffix : left) full.host.AddFile(full.destination + suffix, "left");
    full.host.AddFile(full.destination + ".tmp9", "left");
    FakeLauncherHost untouched = full.host;
    EXPECT_FALSE(full.launcher.CopyFileKeepingTimes(full.source.c_str(), full.destination.c_str()));
    EXPECT_TRUE(full.host.SameFilesAs(untouched));
}

// Windows can give a file that replaces another the replaced file's creation time; the
// times are therefore set on the destination once more after the replacement.
TEST(LauncherCopy, TheTimesAreSetOnTheDestinationAfterTheReplacement) {
    CopyCase c;
    c.host.tunnel_creation_time = true;
    EXPECT_TRUE(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()));
    EXPECT_TRUE(SameTimes(c.host.GetFile(c.destination).times, CdTimes()))
        << "creation " << c.host.GetFile(c.destination).times.creation;
    ASSERT_GE(c.host.operations.size(), 2u);
    EXPECT_EQ(c.host.operations[c.host.operations.size() - 2],
              "replace " + c.destination + ".tmp -> " + c.destination);
    EXPECT_EQ(c.host.operations.back(), "times " + c.destination);

    // When the times cannot be set there, the new content is in place all the same (with
    // the times set before the move), and the copy reports the failure.
    CopyCase d;
    d.host.tunnel_creation_time = true;
    d.host.fail_set_times.insert(d.destination);
    EXPECT_FALSE(d.launcher.CopyFileKeepingTimes(d.source.c_str(), d.destination.c_str()));
    EXPECT_EQ(d.host.GetFile(d.destination).content, std::string(200000, 'n'));
    EXPECT_EQ(d.host.GetFile(d.destination).times.last_write, CdTimes().last_write);
    EXPECT_FALSE(d.host.HasFile(d.destination + ".tmp"));
}

TEST(LauncherShortcut, SevenLinesInTheGameFolderOfTheStartMenu) {
    Prepared p(kVersion10Date);
    p.host.AddFile(kShortcut, "an older shortcut");
    p.launcher.WritePlayShortcut();
    EXPECT_EQ(p.host.GetFile(kShortcut).content,
              "[InternetShortcut]\r\n"
              "URL=http://zintra.example.com/pub/cgi-bin/login/login.cgi?game_id=5127\r\n"
              "Working Directory=\r\n"
              "HotKey=0\r\n"
              "ShowCommand=1\r\n"
              "IconFile=C:\\Games\\Brackwold\\system\\zintra.ico\r\n"
              "IconIndex=0\r\n");
    EXPECT_FALSE(p.host.HasFile(kShortcutDirect));
}

TEST(LauncherShortcut, WithoutTheGameFolderItGoesDirectlyIntoPrograms) {
    Prepared p(kVersion10Date);
    p.host.folders.erase(p.host.folders.find("C:\\START MENU\\PROGRAMS\\BRACKWOLD"));
    p.launcher.WritePlayShortcut();
    EXPECT_FALSE(p.host.HasFile(kShortcut));
    EXPECT_NE(p.host.GetFile(kShortcutDirect).content.find("IconIndex=0\r\n"), std::string::npos);
}

TEST(LauncherShortcut, NoneWithoutProgramsFolderOrForOtherVersions) {
    Prepared missing_value(kVersion10Date);
    missing_value.host.registry.clear();
    missing_value.launcher.WritePlayShortcut();

    Prepared missing_folder(kVersion10Date);
    missing_folder.host.folders.clear();
    missing_folder.launcher.WritePlayShortcut();

    Prepared other(kVersion11Date);
    other.launcher.WritePlayShortcut();
    for (FakeLauncherHost* host : {&missing_value.host, &missing_folder.host, &other.host}) {
        EXPECT_FALSE(host->HasFile(kShortcut));
        EXPECT_FALSE(host->HasFile(kShortcutDirect));
    }
}

// A folder path of exactly `length` characters below C:.
std::string FolderOfLength(size_t length) {
    std::string path = "C:";
    while (path.size() < length) path += "\\" + std::string(std::min<size_t>(40, length - path.size() - 1), 'd');
    return path;
}

TEST(LauncherLongPaths, PathsOver511CharactersAreNeverComposed) {
    // "\system\brackwold.ini" has 21 characters: the ini file is read up to a folder of 490.
    for (size_t length : {490u, 491u}) {
        FakeLauncherHost host;
        host.SetIni(FolderOfLength(length) + "\\system\\brackwold.ini", "Engine.Engine", "CdPath", "F:\\");
        host.SetRegistry(kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\BRACKRUN.EXE",
                         "Path", FolderOfLength(length));
        Launcher launcher(host);
        ASSERT_TRUE(launcher.ReadInstallDir());
        launcher.ReadCdPathSetting();
        EXPECT_STREQ(launcher.SavedCdPath, length == 490 ? "F:\\" : "..\\");
        EXPECT_EQ(host.operations.size(), length == 490 ? 1u : 0u);
    }
    // The copy's temporary name adds 4 characters to its destination, 5 when the name
    // with ".tmp" is taken.
    for (size_t length : {507u, 508u}) {
        CopyCase c;
        c.destination = FolderOfLength(length - 9) + "\\Engine.U";
        ASSERT_EQ(c.destination.size(), length);
        c.host.AddFile(c.destination, "old contents", c.old_times);
        EXPECT_EQ(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()), length == 507);
        if (length == 508) c.ExpectOldFileKept();
    }
    for (size_t length : {506u, 507u}) {
        CopyCase c;
        c.destination = FolderOfLength(length - 9) + "\\Engine.U";
        c.host.AddFile(c.destination, "old contents", c.old_times);
        c.host.AddFile(c.destination + ".tmp", "the user's");
        EXPECT_EQ(c.launcher.CopyFileKeepingTimes(c.source.c_str(), c.destination.c_str()), length == 506) << length;
        EXPECT_EQ(c.host.GetFile(c.destination + ".tmp").content, "the user's");
        if (length == 507) {
            EXPECT_EQ(c.host.GetFile(c.destination).content, "old contents");
            EXPECT_TRUE(SameTimes(c.host.GetFile(c.destination).times, c.old_times));
        }
    }
    // Both shortcut names have 38 characters.
    for (size_t length : {473u, 474u}) {
        Prepared p(kVersion10Date);
        std::string programs = FolderOfLength(length);
        p.host.SetRegistry(kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                           "Programs", programs);
        p.host.AddFolder(programs + "\\Brackwold");
        p.launcher.WritePlayShortcut();
        EXPECT_EQ(p.host.HasFile(programs + "\\Brackwold\\Play for Free on Zintra.url"), length == 473);
        EXPECT_FALSE(p.host.HasFile(programs + "\\Play Brackwold for Free on Zintra.url"));
    }
}

TEST(LauncherLongPaths, AnInstallFolderOf511CharactersOnlyRunsTheApplicator) {
    FakeLauncherHost host;
    InsertCd(host, 'E', UtcFileTime(1998, 10, 30));
    std::string folder = FolderOfLength(511);
    host.AddFolder(folder);
    host.SetRegistry(kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\BRACKRUN.EXE", "Path",
                     folder);
    host.SetRegistry(kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     "Programs", kProgramsDir);
    host.AddFolder(std::string(kProgramsDir) + "\\Brackwold");
    FakeLauncherHost before = host;
    host.answers = {kAnswerOk};
    Launcher launcher(host);
    EXPECT_EQ(launcher.Run(), kExitDone);
    EXPECT_STREQ(launcher.InstallDir, folder.c_str());
    EXPECT_EQ(launcher.InstalledVersion, kVersion11);
    EXPECT_EQ(host.runs.size(), 1u);
    EXPECT_TRUE(host.SameFilesAs(before)) << "no ini file, copy, folder or shortcut";
}

}  // namespace
