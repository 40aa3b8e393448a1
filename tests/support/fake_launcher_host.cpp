// The launcher's fake machine: files, folders, ini files and faults kept in memory.
#include "support/fake_launcher_host.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

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

template <typename Map>
auto FindFolded(Map& faults, const std::string& folded) {
    return std::find_if(faults.begin(), faults.end(), [&](const auto& item) {
        if constexpr (std::is_same_v<std::decay_t<decltype(item)>, std::string>) return Fold(item) == folded;
        else return Fold(item.first) == folded;
    });
}

std::string Trim(const std::string& s) {
    size_t a = s.find_first_not_of(" \t"), b = s.find_last_not_of(" \t");
    return a == std::string::npos ? std::string() : s.substr(a, b - a + 1);
}

std::vector<std::string> SplitLines(const std::string& text) {
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(start, end - start);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        start = end + 1;
    }
    return lines;
}

// Where the ini key of the section is in `lines`: the key's line (or npos) and the line
// after the section's last line (npos when the section is missing).
struct IniPlace {
    size_t key_line = std::string::npos;
    size_t section_end = std::string::npos;
};
IniPlace FindIniKey(const std::vector<std::string>& lines, const std::string& section, const std::string& key) {
    IniPlace place;
    bool inside = false;
    for (size_t i = 0; i < lines.size(); ++i) {
        std::string line = Trim(lines[i]);
        if (!line.empty() && line[0] == '[') {
            inside = Fold(line) == Fold("[" + section + "]");
            if (inside) place.section_end = i + 1;
            continue;
        }
        if (!inside) continue;
        place.section_end = i + 1;
        size_t eq = line.find('=');
        if (eq != std::string::npos && Fold(Trim(line.substr(0, eq))) == Fold(key)) place.key_line = i;
    }
    return place;
}

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
        auto fault = FindFolded(host_.fail_read_beyond, key_);
        const std::string& content = host_.files[key_].content;
        if (fault != host_.fail_read_beyond.end() && position_ >= fault->second) return -1;
        size_t n = std::min(size, content.size() - position_);
        std::memcpy(buffer, content.data() + position_, n);
        position_ += n;
        return static_cast<long>(n);
    }
    bool Write(const void* data, size_t size) override {
        std::string& content = host_.files[key_].content;
        auto fault = FindFolded(host_.fail_write_beyond, key_);
        size_t n = size;
        if (fault != host_.fail_write_beyond.end() && content.size() + size > fault->second)
            n = fault->second > content.size() ? fault->second - content.size() : 0;
        content.append(static_cast<const char*>(data), n);
        return n == size;
    }
    bool Close() override {
        bool was_open = open_;
        open_ = false;
        return !(was_open && writing_ && FindFolded(host_.fail_close, key_) != host_.fail_close.end());
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
    files[folded] = File{content, times, false};
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
    if (it != files.end()) {
        std::vector<std::string> lines = SplitLines(it->second.content);
        IniPlace place = FindIniKey(lines, section, key);
        if (place.key_line != std::string::npos) {
            const std::string& line = lines[place.key_line];
            value = Trim(line.substr(line.find('=') + 1));
        }
    }
    CopyTruncated(value, out, size);
}

bool FakeLauncherHost::WriteIniString(const char* file, const char* section, const char* key, const char* value) {
    operations.push_back(std::string("ini-write ") + file + " " + key + "=" + value);
    std::string folded = Fold(file);
    auto it = files.find(folded);
    if (it == files.end()) {
        if (!ParentOf(folded).empty() && !folders.count(ParentOf(folded))) return false;
        files[folded] = File{};
        it = files.find(folded);
    }
    std::vector<std::string> lines = SplitLines(it->second.content);
    IniPlace place = FindIniKey(lines, section, key);
    std::string entry = std::string(key) + "=" + value;
    if (place.key_line != std::string::npos) {
        lines[place.key_line] = entry;
    } else if (place.section_end != std::string::npos) {
        lines.insert(lines.begin() + static_cast<long>(place.section_end), entry);
    } else {
        lines.push_back(std::string("[") + section + "]");
        lines.push_back(entry);
    }
    std::string content;
    for (const std::string& line : lines) content += line + "\r\n";
    it->second.content = content;
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
    if (it == files.end() || FindFolded(locked, folded) != locked.end()) return false;
    *times = it->second.times;
    return true;
}

bool FakeLauncherHost::WriteFileTimes(const char* path, const FileTimes& times) {
    operations.push_back(std::string("times ") + path);
    std::string folded = Fold(path);
    auto it = files.find(folded);
    if (it == files.end() || it->second.read_only || FindFolded(fail_set_times, folded) != fail_set_times.end())
        return false;
    it->second.times = times;
    return true;
}

std::unique_ptr<HostFile> FakeLauncherHost::OpenForReading(const char* path) {
    std::string folded = Fold(path);
    if (!files.count(folded) || FindFolded(locked, folded) != locked.end()) return nullptr;
    return std::unique_ptr<HostFile>(new FakeFile(*this, folded, false));
}

std::unique_ptr<HostFile> FakeLauncherHost::CreateForWriting(const char* path) {
    operations.push_back(std::string("create ") + path);
    std::string folded = Fold(path);
    auto it = files.find(folded);
    bool parent_missing = !ParentOf(folded).empty() && !folders.count(ParentOf(folded));
    if (parent_missing || folders.count(folded) || FindFolded(locked, folded) != locked.end() ||
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
    host.AddFile(dir + "\\system\\brackwold.ini", "[Engine.Engine]\r\nCdPath=E:\\\r\nLanguage=int\r\n", old);
    host.AddFile(dir + "\\system\\default.ini", "[Engine.Engine]\r\nCdPath=E:\\\r\n", old);
}

void InsertCd(FakeLauncherHost& host, char letter, uint64_t dated) {
    host.SetDrive(letter, kDriveCdRom);
    std::string root = std::string(1, letter) + ":";
    for (const char* entry : RestoreFiles) host.AddFile(root + entry, std::string("cd:") + entry, CdTimes());
    for (int i = 0; MapFiles[i]; ++i) host.AddFile(root + MapFiles[i], std::string("cd:") + MapFiles[i], CdTimes());
    host.AddFile(root + "\\system\\Brackwold.U", "cd main", FileTimes{dated, dated, dated});
}
