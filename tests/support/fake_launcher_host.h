// A machine in memory for the launcher's tests: files with contents and times, folders,
// drive types, registry values, ini files, scripted message-box answers and an applicator
// run that the test can act out. Paths are compared without regard to ASCII letter case.
#pragma once

#include <deque>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "launcher/brackwold.h"
#include "launcher/host.h"

class FakeLauncherHost : public LauncherHost {
public:
    // A file; an ini file keeps its keys apart from its content.
    struct File {
        std::string content;
        FileTimes times;
        bool read_only = false;
        std::map<std::string, std::string> ini;  // folded "SECTION|KEY" -> value
        bool operator==(const File& o) const {
            return content == o.content && times.creation == o.times.creation &&
                   times.last_access == o.times.last_access && times.last_write == o.times.last_write &&
                   read_only == o.read_only && ini == o.ini;
        }
    };
    struct Message {
        std::string caption;
        std::string text;
        unsigned style;
    };

    // ---- Setting up the machine ----
    // Adds a file (and the folders on its way); paths use "\".
    void AddFile(const std::string& path, const std::string& content, FileTimes times = {});
    void AddFolder(const std::string& path);  // with every folder on its way
    void SetDrive(char letter, int type) { drives[letter] = type; }
    // Sets a key of an ini file, adding the file (and its folders) when missing.
    void SetIni(const std::string& path, const std::string& section, const std::string& key, const std::string& value);
    void SetRegistry(RegistryRoot root, const std::string& key, const std::string& value, const std::string& data);

    // ---- Looking at it ----
    bool HasFile(const std::string& path) const;
    bool HasFolder(const std::string& path) const;
    const File& GetFile(const std::string& path) const;  // fails the test when missing
    // The keys an ini file holds as "Section|Key=value" lines, folded; "missing" without the file.
    std::string IniText(const std::string& path) const;
    // Every file and folder, for comparing a machine before and after a run.
    bool SameFilesAs(const FakeLauncherHost& other) const { return files == other.files && folders == other.folders; }
    std::vector<std::string> Texts() const;  // the texts of the message boxes shown, in order

    // ---- LauncherHost ----
    void HoldMutex(const char* name) override { held_mutexes.push_back(name); }
    bool ReadRegistryString(RegistryRoot root, const char* key, const char* value, char* out, size_t size) override;
    void ReadIniString(const char* file, const char* section, const char* key, const char* fallback, char* out,
                       size_t size) override;
    bool WriteIniString(const char* file, const char* section, const char* key, const char* value) override;
    int DriveType(const char* root) override;
    bool Exists(const char* path) override;
    bool ReadFileTimes(const char* path, FileTimes* times) override;
    bool WriteFileTimes(const char* path, const FileTimes& times) override;
    std::unique_ptr<HostFile> OpenForReading(const char* path) override;
    std::unique_ptr<HostFile> CreateForWriting(const char* path) override;
    std::unique_ptr<HostFile> CreateNewForWriting(const char* path) override;
    bool DeleteFile(const char* path) override;
    bool CreateFolder(const char* path) override;
    bool ReplaceFile(const char* from, const char* to) override;
    int ShowMessage(const char* caption, const char* text, unsigned style) override;
    void RunAndWait(const char* program) override;

    // ---- Scripting and recording ----
    // Answers to the message boxes, one per box. With none left an OK-only box is answered
    // OK; any other box counts as unexpected and is answered Cancel.
    std::deque<int> answers;
    int unexpected_messages = 0;
    std::vector<Message> messages;
    std::vector<std::string> held_mutexes;
    std::vector<std::string> runs;             // programs started
    std::function<void()> on_run;              // what the started program does
    std::vector<std::string> operations;       // every call that could change something, in order
    // Faults: the write that would take this file past the byte count fails; reads of this
    // file fail after the byte count; setting the times of these files or closing them fails.
    std::map<std::string, size_t> fail_write_beyond;
    std::map<std::string, size_t> fail_read_beyond;
    std::set<std::string> fail_set_times;
    std::set<std::string> fail_close;
    std::set<std::string> locked;              // cannot be opened at all
    // As Windows may do (file-system tunnelling): a file that replaces another takes the
    // creation time of the file it replaced.
    bool tunnel_creation_time = false;

    std::map<std::string, File> files;         // by folded path
    std::set<std::string> folders;             // folded paths
    std::map<char, int> drives;
    std::map<std::string, std::string> registry;  // folded "root|key|value" -> data

private:
    // Creates (truncates) the file for writing, unless its folder is missing, a folder has
    // its name, or it is locked or read-only.
    std::unique_ptr<HostFile> Create(const char* path);
};

// A FILETIME count for a moment in UTC.
uint64_t UtcFileTime(int year, int month, int day, int hour = 12, int minute = 0, int second = 0);

// The usual machine of the tests: the game installed in kGameDir (registry key, main game
// file dated `installed`, the other restored files, one map, both ini files with
// "CdPath=E:\"), a Start-menu Programs folder holding the game's folder, drive C: a fixed
// disk.
constexpr const char* kGameDir = "C:\\Games\\Brackwold";
constexpr const char* kProgramsDir = "C:\\Start Menu\\Programs";
void InstallGame(FakeLauncherHost& host, uint64_t installed);
// Puts a CD into drive `letter` (a CD-ROM drive): every restored file and map, the main
// game file dated `dated`, each file's content "cd:" + its entry, all three times set.
void InsertCd(FakeLauncherHost& host, char letter, uint64_t dated);
// The times every CD file except the main game file carries.
FileTimes CdTimes();
