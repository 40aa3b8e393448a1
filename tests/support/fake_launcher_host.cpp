// The launcher's fake machine: files, folders, ini files and faults kept in memory.
#include "support/fake_launcher_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <cstdint>

namespace {

// The key of a path: ASCII letters in upper case, no final backslash.
std::string Fold(std::string path) {
    for (char& c : path) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    while (!path.empty() && path.back() == '\\') path.pop_back();
    return path;
}

// The folder holding a folded path; empty for a name without a folder.
std::string ParentOf(const std::string& folded) {
    size_t slash = folded.rfind('\\');
    return slash == std::string::npos ? std::string() : folded.substr(0, slash);
}

// Whether a fault list (paths spelled as the test wrote them) names this folded path.
bool Names(const std::set<std::string>& paths, const std::string& folded) {
    for (const std::string& path : paths) {
        if (Fold(path) == folded) return true;
    }
    return false;
}

// The byte count a fault map sets for this folded path; SIZE_MAX when none.
size_t LimitFor(const std::map<std::string, size_t>& limits, const std::string& folded) {
    for (const auto& item : limits) {
        if (Fold(item.first) == folded) return item.second;
    }
    return SIZE_MAX;
}

std::string IniKey(const std::string& section, const std::string& key) { return Fold(section + "|" + key); }

void CopyTruncated(const std::string& text, char* out, size_t size) {
    size_t n = std::min(text.size(), size - 1);
    std::memcpy(out, text.data(), n);
    out[n] = '\0';
}

}  // namespace

// An open file of the fake machine: writes go straight into the file, as with a real one.
class FakeFile : public HostFile {
public:
    FakeFile(FakeLauncherHost& host, std::string key, bool writing) : host_(host), key_(std::move(key)), writing_(writing) {}
    long Read(void* buffer, size_t size) override {
        const std::string& content = host_.files[key_].content;
        if (position_ >= LimitFor(host_.fail_read_beyond, key_)) return -1;
        size_t n = std::min(size, content.size() - position_);
        std::memcpy(buffer, content.data() + position_, n);
        position_ += n;
        return static_cast<long>(n);
    }
    bool Write(const void* data, size_t size) override {
        std::string& content = host_.files[key_].content;
        size_t limit = LimitFor(host_.fail_write_beyond, key_);
        size_t n = size;
        if (content.size() + size > limit) n = limit > content.size() ? limit - content.size() : 0;
        content.append(static_cast<const char*>(data), n);
        return n == size;
    }
    bool Close() override {
        bool was_open = open_;
        open_ = false;
        return !(was_open && writing_ && Names(host_.fail_close, key_));
    }

private:
    FakeLauncherHost& host_;
    std::string key_;
    bool writing_;
    bool open_ = true;
    size_t position_ = 0;
};

void FakeLauncherHost::AddFolder(const std::string& path) {
    std::string folded = Fold(path);
    for (std::string f = folded; !f.empty(); f = ParentOf(f)) folders.insert(f);
}

void FakeLauncherHost::AddFile(const std::string& path, const std::string& content, FileTimes times) {
    std::string folded = Fold(path);
    if (!ParentOf(folded).empty()) AddFolder(ParentOf(folded));
    files[folded] = File{content, times, false, {}};
}

void FakeLauncherHost::SetIni(const std::string& path, const std::string& section, const std::string& key,
                              const std::string& value) {
    if (!HasFile(path)) AddFile(path, "");
    files[Fold(path)].ini[IniKey(section, key)] = value;
}

std::string FakeLauncherHost::IniText(const std::string& path) const {
    auto it = files.find(Fold(path));
    if (it == files.end()) return "missing";
    std::string text;
    for (const auto& item : it->second.ini) text += item.first + "=" + item.second + "\n";
    return text;
}

void FakeLauncherHost::SetRegistry(RegistryRoot root, const std::string& key, const std::string& value,
                                   const std::string& data) {
    registry[Fold(std::to_string(root) + "|" + key + "|" + value)] = data;
}

bool FakeLauncherHost::HasFile(const std::string& path) const { return files.count(Fold(path)) != 0; }
bool FakeLauncherHost::HasFolder(const std::string& path) const { return folders.count(Fold(path)) != 0; }

const FakeLauncherHost::File& FakeLauncherHost::GetFile(const std::string& path) const {
    static const File missing;
    auto it = files.find(Fold(path));
    if (it != files.end()) return it->second;
    ADD_FAILURE() << "no file " << path;
    return missing;
}

std::vector<std::string> FakeLauncherHost::Texts() const {
    std::vector<std::string> texts;
    for (const Message& m : messages) texts.push_back(m.text);
    return texts;
}

bool FakeLauncherHost::ReadRegistryString(RegistryRoot root, const char* key, const char* value, char* out,
                                          size_t size) {
    out[0] = '\0';
    auto it = registry.find(Fold(std::to_string(root) + "|" + key + "|" + value));
    if (it == registry.end() || it->second.size() + 1 > size) return false;
    CopyTruncated(it->second, out, size);
    return true;
}

void FakeLauncherHost::ReadIniString(const char* file, const char* section, const char* key, const char* fallback,
                                     char* out, size_t size) {
    operations.push_back(std::string("ini-read ") + file);
    auto it = files.find(Fold(file));
    std::string value = fallback;
    if (it != files.end() && it->second.ini.count(IniKey(section, key))) value = it->second.ini[IniKey(section, key)];
    CopyTruncated(value, out, size);
}

// As WritePrivateProfileStringA: a missing file is created, unless its folder is missing.
bool FakeLauncherHost::WriteIniString(const char* file, const char* section, const char* key, const char* value) {
    operations.push_back(std::string("ini-write ") + file + " " + key + "=" + value);
    std::string folded = Fold(file);
    if (!files.count(folded) && !ParentOf(folded).empty() && !folders.count(ParentOf(folded))) return false;
    files[folded].ini[IniKey(section, key)] = value;
    return true;
}

int FakeLauncherHost::DriveType(const char* root) {
    char letter = static_cast<char>(std::toupper(static_cast<unsigned char>(root[0])));
    auto it = drives.find(letter);
    return it == drives.end() ? 1 : it->second;  // 1: no such drive
}

bool FakeLauncherHost::Exists(const char* path) {
    std::string folded = Fold(path);
    return files.count(folded) || folders.count(folded);
}

bool FakeLauncherHost::ReadFileTimes(const char* path, FileTimes* times) {
    std::string folded = Fold(path);
    auto it = files.find(folded);
    if (it == files.end() || Names(locked, folded)) return false;
    *times = it->second.times;
    return true;
}

bool FakeLauncherHost::WriteFileTimes(const char* path, const FileTimes& times) {
    operations.push_back(std::string("times ") + path);
    std::string folded = Fold(path);
    auto it = files.find(folded);
    if (it == files.end() || it->second.read_only || Names(fail_set_times, folded))
        return false;
    it->second.times = times;
    return true;
}

std::unique_ptr<HostFile> FakeLauncherHost::OpenForReading(const char* path) {
    std::string folded = Fold(path);
    if (!files.count(folded) || Names(locked, folded)) return nullptr;
    return std::unique_ptr<HostFile>(new FakeFile(*this, folded, false));
}

std::unique_ptr<HostFile> FakeLauncherHost::CreateForWriting(const char* path) {
    operations.push_back(std::string("create ") + path);
    return Create(path);
}

std::unique_ptr<HostFile> FakeLauncherHost::CreateNewForWriting(const char* path) {
    operations.push_back(std::string("create-new ") + path);
    std::string folded = Fold(path);
    if (files.count(folded) || folders.count(folded)) return nullptr;
    return Create(path);
}

std::unique_ptr<HostFile> FakeLauncherHost::Create(const char* path) {
    std::string folded = Fold(path);
    auto it = files.find(folded);
    bool parent_missing = !ParentOf(folded).empty() && !folders.count(ParentOf(folded));
    if (parent_missing || folders.count(folded) || Names(locked, folded) ||
        (it != files.end() && it->second.read_only))
        return nullptr;
    files[folded] = File{};
    return std::unique_ptr<HostFile>(new FakeFile(*this, folded, true));
}

bool FakeLauncherHost::DeleteFile(const char* path) {
    operations.push_back(std::string("delete ") + path);
    auto it = files.find(Fold(path));
    if (it == files.end() || it->second.read_only) return false;
    files.erase(it);
    return true;
}

bool FakeLauncherHost::CreateFolder(const char* path) {
    operations.push_back(std::string("folder ") + path);
    std::string folded = Fold(path);
    if (folders.count(folded) || files.count(folded)) return false;
    if (!ParentOf(folded).empty() && !folders.count(ParentOf(folded))) return false;
    folders.insert(folded);
    return true;
}

bool FakeLauncherHost::ReplaceFile(const char* from, const char* to) {
    operations.push_back(std::string("replace ") + from + " -> " + to);
    auto source = files.find(Fold(from));
    auto target = files.find(Fold(to));
    if (source == files.end() || (target != files.end() && target->second.read_only)) return false;
    File moved = source->second;
    if (tunnel_creation_time && target != files.end()) moved.times.creation = target->second.times.creation;
    files.erase(source);
    files[Fold(to)] = moved;
    return true;
}

int FakeLauncherHost::ShowMessage(const char* caption, const char* text, unsigned style) {
    operations.push_back(std::string("message ") + text);
    messages.push_back(Message{caption, text, style});
    if (!answers.empty()) {
        int answer = answers.front();
        answers.pop_front();
        return answer;
    }
    if ((style & 0xF) == kButtonsOk) return kAnswerOk;
    ++unexpected_messages;
    return kAnswerCancel;
}

void FakeLauncherHost::RunAndWait(const char* program) {
    operations.push_back(std::string("run ") + program);
    runs.push_back(program);
    if (on_run) on_run();
}

uint64_t UtcFileTime(int year, int month, int day, int hour, int minute, int second) {
    // Days from 1970-01-01 of a civil date (Howard Hinnant's algorithm), then FILETIME ticks.
    int64_t y = month <= 2 ? year - 1 : year;
    int64_t era = (y >= 0 ? y : y - 399) / 400;
    int64_t yoe = y - era * 400;
    int64_t doy = (153 * (month > 2 ? month - 3 : month + 9) + 2) / 5 + day - 1;
    int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    int64_t days = era * 146097 + doe - 719468;
    int64_t seconds = (days + 134774) * 86400 + hour * 3600 + minute * 60 + second;
    return static_cast<uint64_t>(seconds) * 10000000u;
}

FileTimes CdTimes() {
    return FileTimes{UtcFileTime(1999, 10, 1, 8), UtcFileTime(1999, 10, 2, 9), UtcFileTime(1999, 10, 3, 10)};
}

void InstallGame(FakeLauncherHost& host, uint64_t installed) {
    std::string dir = kGameDir;
    host.SetDrive('C', 3);
    host.SetRegistry(kLocalMachine, "Software\\Microsoft\\Windows\\CurrentVersion\\App Paths\\BRACKRUN.EXE", "Path",
                     dir);
    host.SetRegistry(kCurrentUser, "Software\\Microsoft\\Windows\\CurrentVersion\\Explorer\\Shell Folders",
                     "Programs", kProgramsDir);
    host.AddFolder(std::string(kProgramsDir) + "\\Brackwold");
    FileTimes old{installed, installed, installed};
    host.AddFile(dir + "\\system\\Brackwold.U", "installed main", old);
    host.AddFile(dir + "\\system\\Brackwoldai.U", "installed ai", old);
    host.AddFile(dir + "\\system\\Engine.U", "installed engine", old);
    host.AddFile(dir + "\\Maps\\Arrival.bkm", "installed map", old);
    host.SetIni(dir + "\\system\\brackwold.ini", "Engine.Engine", "CdPath", "E:\\");
    host.SetIni(dir + "\\system\\brackwold.ini", "Engine.Engine", "Language", "int");
    host.SetIni(dir + "\\system\\default.ini", "Engine.Engine", "CdPath", "E:\\");
}

void InsertCd(FakeLauncherHost& host, char letter, uint64_t dated) {
    host.SetDrive(letter, kDriveCdRom);
    std::string root = std::string(1, letter) + ":";
    for (const char* entry : RestoreFiles) host.AddFile(root + entry, std::string("cd:") + entry, CdTimes());
    for (int i = 0; MapFiles[i]; ++i) host.AddFile(root + MapFiles[i], std::string("cd:") + MapFiles[i], CdTimes());
    host.AddFile(root + "\\system\\Brackwold.U", "cd main", FileTimes{dated, dated, dated});
}
