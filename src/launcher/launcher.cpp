// The launcher's decisions and steps, written against LauncherHost.
#include "launcher/launcher.h"

#include <cstdio>
#include <cstring>
#include <new>
#include <string>

#include "launcher/brackwold.h"

namespace {

const char kNotInstalled[] =
    "Brackwold does not appear to be installed on this machine.\nAttempt upgrade anyway?";
const char kInsertCd[] =
    "This update must access files on your Brackwold CD.\nPlease put your CD into your CD drive and press OK.";
const char kNoCd[] = "Unable to proceed with upgrade, original cd required";
const char kAlreadyCurrent[] =
    "Your installed version of brackwold is already v1.3\nThis patch patches from v1.0 to v1.3\n"
    "You do not need this patch.";
const char kCdTooNew[] =
    "This patch cannot patch from Brackwold version 1.2\nThis patch only patches from v1.0 to v1.3.";

// The copy goes to a new file beside the destination first: its name with ".tmp", or, when
// a file of the user's or one left by a launcher that was killed has that name, with
// ".tmp1" to ".tmp9". Such a file is never written or deleted.
const char* const kTemporarySuffixes[] = {".tmp", ".tmp1", ".tmp2", ".tmp3", ".tmp4",
                                          ".tmp5", ".tmp6", ".tmp7", ".tmp8", ".tmp9"};
constexpr size_t kCopyBlock = 65536;

// Writes a + b into out; false, with out empty, when the result would not fit.
bool ComposePath(char (&out)[kLauncherBuffer], const char* a, const char* b) {
    size_t la = std::strlen(a), lb = std::strlen(b);
    if (la + lb >= kLauncherBuffer) {
        out[0] = '\0';
        return false;
    }
    std::memcpy(out, a, la);
    std::memcpy(out + la, b, lb + 1);
    return true;
}

bool IsDate(MonthDay date, int month, int day) { return date.month == month && date.day == day; }

}  // namespace

MonthDay UtcMonthDay(uint64_t file_time) {
    // Days since 1601-01-01 shifted to days since 1970-01-01, then the civil date of that
    // day count (Howard Hinnant's algorithm over 400-year eras starting 1 March).
    constexpr int64_t kTicksPerDay = 864000000000LL;
    constexpr int64_t kDays1601To1970 = 134774;
    int64_t z = static_cast<int64_t>(file_time / kTicksPerDay) - kDays1601To1970 + 719468;
    int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    int64_t doe = z - era * 146097;
    int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    int64_t mp = (5 * doy + 2) / 153;
    int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return MonthDay{month, day};
}

int Launcher::Run() {
    host_.HoldMutex(kMutexName);
    if (!ReadInstallDir()) {
        if (Tell(kNotInstalled, kButtonsYesNo | kIconExclamation) == kAnswerYes) RunApplicator();
        return kExitDone;
    }
    ReadCdPathSetting();
    if (!PromptForCd()) return kExitNoCd;
    DetectVersions();
    if (InstalledVersion != kVersion10 && InstalledVersion != kVersion11) {
        Tell(kAlreadyCurrent, kButtonsOk | kIconError);
        return kExitDone;
    }
    if (CdVersion != kVersion10) {
        Tell(kCdTooNew, kButtonsOk | kIconError);
        return kExitDone;
    }
    DeleteGameIniFiles();
    BringFilesFromCd();
    WritePlayShortcut();
    RunApplicator();
    WriteCdPathSetting();
    return kExitDone;
}

bool Launcher::ReadInstallDir() {
    if (host_.ReadRegistryString(kLocalMachine, kInstallKey, kInstallValue, InstallDir, sizeof InstallDir))
        return true;
    InstallDir[0] = '\0';
    return false;
}

// Saves the game's "CdPath"; the default when the ini file, the key or a path to it is missing.
void Launcher::ReadCdPathSetting() {
    char ini[kLauncherBuffer];
    if (!InstallPath(kUserIni, ini)) {
        std::snprintf(SavedCdPath, sizeof SavedCdPath, "%s", kDefaultCdPath);
        return;
    }
    host_.ReadIniString(ini, kIniSection, kIniCdPathKey, kDefaultCdPath, SavedCdPath, sizeof SavedCdPath);
}

// Asks once for the CD. Cancel goes on without one (CdRoot stays empty).
bool Launcher::PromptForCd() {
    if (Tell(kInsertCd, kButtonsOkCancel | kIconExclamation) == kAnswerCancel) return true;
    return FindCdRoot();
}

// The first CD-ROM drive from A to Z whose disc holds the marker file becomes CdRoot.
bool Launcher::FindCdRoot() {
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const char root[] = {letter, ':', '\\', '\0'};
        char marker[kLauncherBuffer];
        if (host_.DriveType(root) != kDriveCdRom || !ComposePath(marker, root, RestoreFiles[0] + 1)) continue;
        if (host_.Exists(marker)) {
            std::memcpy(CdRoot, root, sizeof root);
            return true;
        }
    }
    Tell(kNoCd, kButtonsOk | kIconExclamation);
    return false;
}

// Classifies the installed game and the CD by the UTC month and day of the last-write time
// of their main game file. The CD is not examined when the installed file cannot be read.
void Launcher::DetectVersions() {
    char path[kLauncherBuffer];
    FileTimes times;
    if (!InstallPath(kMainGameFile, path) || !host_.ReadFileTimes(path, &times)) return;
    MonthDay installed = UtcMonthDay(times.last_write);
    if (IsDate(installed, 11, 2)) InstalledVersion = kVersion10;
    else if (IsDate(installed, 3, 8)) InstalledVersion = kVersion13;

    if (!CdPath(kMainGameFile, path) || !host_.ReadFileTimes(path, &times)) return;
    if (IsDate(UtcMonthDay(times.last_write), 11, 24)) CdVersion = kVersion11;
}

void Launcher::DeleteGameIniFiles() {
    char path[kLauncherBuffer];
    if (InstallPath(kDefaultIni, path)) host_.DeleteFile(path);
    if (InstallPath(kUserIni, path)) host_.DeleteFile(path);
}

// Makes the maps folder, copies the restored files over the installed ones (unless the
// install is version 1.0), then every map the install folder lacks. Failures are ignored.
void Launcher::BringFilesFromCd() {
    char path[kLauncherBuffer];
    if (InstallPath(kMapsFolder, path)) host_.CreateFolder(path);
    if (InstalledVersion != kVersion10) {
        for (const char* entry : RestoreFiles) CopyFromCd(entry);
    }
    for (int i = 0; MapFiles[i] != nullptr; ++i) {
        if (InstallPath(MapFiles[i], path) && !host_.Exists(path)) CopyFromCd(MapFiles[i]);
    }
}

void Launcher::CopyFromCd(const char* entry) {
    char source[kLauncherBuffer], destination[kLauncherBuffer];
    if (CdPath(entry, source) && InstallPath(entry, destination)) CopyFileKeepingTimes(source, destination);
}

std::unique_ptr<HostFile> Launcher::CreateTemporaryBeside(const char* destination,
                                                          char (&name)[kLauncherBuffer]) {
    for (const char* suffix : kTemporarySuffixes) {
        // The candidates only grow longer: once one does not fit, none does.
        if (!ComposePath(name, destination, suffix)) return nullptr;
        std::unique_ptr<HostFile> file = host_.CreateNewForWriting(name);
        if (file) return file;
    }
    name[0] = '\0';
    return nullptr;
}

bool Launcher::CopyFileKeepingTimes(const char* source, const char* destination) {
    FileTimes times;
    char temporary[kLauncherBuffer];
    if (!host_.ReadFileTimes(source, &times)) return false;
    std::unique_ptr<HostFile> in = host_.OpenForReading(source);
    if (!in) return false;
    std::unique_ptr<HostFile> out = CreateTemporaryBeside(destination, temporary);
    if (!out) return false;
    std::unique_ptr<char[]> block(new (std::nothrow) char[kCopyBlock]);
    bool copied = block != nullptr;
    while (copied) {
        long got = in->Read(block.get(), kCopyBlock);
        if (got == 0) break;
        copied = got > 0 && out->Write(block.get(), static_cast<size_t>(got));
    }
    copied = out->Close() && copied;
    in.reset();
    if (copied && host_.WriteFileTimes(temporary, times) && host_.ReplaceFile(temporary, destination)) {
        // Windows can give a file that takes another's place the creation time of the file
        // it replaced (file-system tunnelling): the times are set on the destination again.
        return host_.WriteFileTimes(destination, times);
    }
    host_.DeleteFile(temporary);
    return false;
}

// Writes the Internet shortcut to the online service into the Start menu, for an install
// of version 1.0 only: in the game's own folder there, else directly in Programs.
void Launcher::WritePlayShortcut() {
    if (InstalledVersion == kVersion11) return;
    char programs[kLauncherBuffer], icon[kLauncherBuffer], path[kLauncherBuffer];
    if (!host_.ReadRegistryString(kCurrentUser, kShellFoldersKey, kProgramsValue, programs, sizeof programs) ||
        !InstallPath(kShortcutIcon, icon))
        return;
    std::unique_ptr<HostFile> file;
    if (ComposePath(path, programs, kShortcutInGameFolder)) file = host_.CreateForWriting(path);
    if (!file && ComposePath(path, programs, kShortcutInPrograms)) file = host_.CreateForWriting(path);
    if (!file) return;
    std::string text = "[InternetShortcut]\r\n";
    text += std::string("URL=http://") + kServiceHost + "/pub/cgi-bin/login/login.cgi?game_id=5127\r\n";
    text += "Working Directory=\r\n";
    text += "HotKey=0\r\n";
    text += "ShowCommand=1\r\n";
    text += std::string("IconFile=") + icon + "\r\n";
    text += "IconIndex=0\r\n";
    file->Write(text.data(), text.size());
    file->Close();
}

void Launcher::RunApplicator() { host_.RunAndWait(kApplicatorName); }

// Writes the saved "CdPath" into both ini files, creating them where the applicator left none.
void Launcher::WriteCdPathSetting() {
    char path[kLauncherBuffer];
    if (InstallPath(kUserIni, path)) host_.WriteIniString(path, kIniSection, kIniCdPathKey, SavedCdPath);
    if (InstallPath(kDefaultIni, path)) host_.WriteIniString(path, kIniSection, kIniCdPathKey, SavedCdPath);
}

int Launcher::Tell(const char* text, unsigned style) { return host_.ShowMessage(kMessageCaption, text, style); }

bool Launcher::InstallPath(const char* entry, char (&out)[kLauncherBuffer]) const {
    return ComposePath(out, InstallDir, entry);
}

bool Launcher::CdPath(const char* entry, char (&out)[kLauncherBuffer]) const {
    return ComposePath(out, CdRoot, entry + 1);
}
