// The patch launcher's run: find the installed game and the CD, classify both versions,
// refuse where the patch does not apply, prepare the install folder, run the applicator
// and restore the game's CD path setting. Every effect goes through a LauncherHost.
#pragma once

#include <cstddef>
#include <cstdint>

#include "launcher/host.h"

// Path and text buffers hold at most 511 characters and their terminator. A path that
// would be longer is never composed: the copy, ini access or shortcut that needs it is
// skipped like any other silent failure.
constexpr size_t kLauncherBuffer = 512;

// Exit codes of the program.
enum LauncherExit : int {
    kExitDone = 0,     // every path but one
    kExitNoCd = 1,     // the user confirmed the CD prompt and no CD-ROM drive holds the CD
};

// Version codes: the installed game and the CD are classified by the date of their main
// game file.
enum VersionCode : int32_t {
    kVersion10 = 100,
    kVersion11 = 110,  // installed: any other date; on the CD: the one called version 1.2
    kVersion13 = 130,
};

// Month (1-12) and day (1-31) of a FILETIME count, as a calendar date in UTC.
struct MonthDay {
    int month;
    int day;
};
MonthDay UtcMonthDay(uint64_t file_time);

class Launcher {
public:
    explicit Launcher(LauncherHost& host) : host_(host) {}

    // The whole run, once; returns the exit code.
    int Run();

    // The steps of the run, public so that each can be tried on its own.
    bool ReadInstallDir();      // false when the install key or its "Path" is missing
    void ReadCdPathSetting();
    bool PromptForCd();         // false when the process must end with kExitNoCd
    bool FindCdRoot();          // false (after telling the user) when no drive holds the CD
    void DetectVersions();
    void DeleteGameIniFiles();
    void BringFilesFromCd();
    // Copies source over destination with the source's three times, through a new
    // temporary file beside the destination (the destination's name with ".tmp", or with
    // ".tmp1" to ".tmp9" when that is taken; an existing file of such a name is never
    // touched). True when all of it was written and the times are on the destination.
    // A failure before the replacement leaves the destination as it was and removes the
    // temporary file; should the times not take on the replaced destination, it holds the
    // new content with the times set before the move, and the result is false.
    bool CopyFileKeepingTimes(const char* source, const char* destination);
    void WritePlayShortcut();
    void RunApplicator();
    void WriteCdPathSetting();

    char InstallDir[kLauncherBuffer] = {};
    char CdRoot[kLauncherBuffer] = {};
    char SavedCdPath[kLauncherBuffer] = {};
    int32_t InstalledVersion = kVersion11;
    int32_t CdVersion = kVersion10;

private:
    int Tell(const char* text, unsigned style);
    // Composes InstallDir + entry, or the CD-side path CdRoot + entry without its leading
    // backslash, into out; false when it would exceed 511 characters.
    bool InstallPath(const char* entry, char (&out)[kLauncherBuffer]) const;
    bool CdPath(const char* entry, char (&out)[kLauncherBuffer]) const;
    // Copies one table entry from the CD into the install folder.
    void CopyFromCd(const char* entry);
    // Creates the copy's temporary file beside `destination` under the first free name of
    // its candidates, and puts that name into `name`; null when none is free or fits.
    std::unique_ptr<HostFile> CreateTemporaryBeside(const char* destination, char (&name)[kLauncherBuffer]);

    LauncherHost& host_;
};
