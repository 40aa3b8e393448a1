// What the launcher knows of the game Brackwold: the files it restores from the CD, the
// maps it copies, the registry keys, ini files and shortcut it reads or writes.
#pragma once

// Install-relative paths, each beginning with a backslash. The first entry of RestoreFiles
// is also the marker file by which the CD is recognised. MapFiles ends with a null entry.
extern const char* const RestoreFiles[4];
extern const char* const MapFiles[14];

// Host of the online game service that the Start-menu shortcut opens.
extern const char* const kServiceHost;

constexpr const char* kMessageCaption = "Brackwold Upgrade";
constexpr const char* kMutexName = "UnrealIsRunning";
constexpr const char* kApplicatorName = "ambrel32.exe";

constexpr const char* kInstallKey = "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\BRACKRUN.EXE";
constexpr const char* kInstallValue = "Path";
constexpr const char* kShellFoldersKey = "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders";
constexpr const char* kProgramsValue = "Programs";

constexpr const char* kMainGameFile = "\\system\\Brackwold.U";
constexpr const char* kUserIni = "\\system\\brackwold.ini";
constexpr const char* kDefaultIni = "\\system\\default.ini";
constexpr const char* kIniSection = "Engine.Engine";
constexpr const char* kIniCdPathKey = "CdPath";
constexpr const char* kDefaultCdPath = "..\\";
constexpr const char* kMapsFolder = "\\Maps";
constexpr const char* kShortcutIcon = "\\system\\zintra.ico";
// Relative to the Programs folder: in the game's own Start-menu folder, else directly.
constexpr const char* kShortcutInGameFolder = "\\Brackwold\\Play for Free on Zintra.url";
constexpr const char* kShortcutInPrograms = "\\Play Brackwold for Free on Zintra.url";
