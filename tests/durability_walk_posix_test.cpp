// The power-loss walk: a real apply of a package with adds, updates, removes and nested
// folders is recorded at the OS layer (every file creation, write, sync, time setting,
// rename, delete and folder change), and for every prefix of that record the test builds
// what a disk could hold had the power failed there. File data that was not synced may be
// lost or half written; folder changes that were not synced may be lost, in all folders at
// once or in one folder only. In every such state each file must be its old version, its
// new version, or absent where the package adds or removes it, and a second apply must
// finish the upgrade.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>

#include <fcntl.h>
#include <sys/stat.h>

#include "apply/driver.h"
#include "io/disk_record.h"
#include "support/apply_support.h"
#include "support/fake_frontend.h"
#include "support/test_util.h"

namespace fs = std::filesystem;

namespace {

using Tree = std::map<std::string, Bytes>;  // relative path ("/" separators) -> content

// What the disk holds, as far as the record tells: folders with the entries they hold now
// and the ones last made durable, files with their data and time now and when last synced.
class DiskModel {
public:
    struct File {
        Bytes now, durable;
        int64_t time_now = 0, time_durable = 0;
    };
    struct Entry {
        bool folder = false;
        uint64_t file = 0;  // model file of a file entry
        bool operator==(const Entry& o) const { return folder == o.folder && file == o.file; }
    };
    using Entries = std::map<std::string, Entry>;  // name -> entry
    struct Folder {
        Entries now, durable;
    };

    // Takes the tree below `root` as it stands, all of it durable.
    explicit DiskModel(const std::string& root) {
        folders_[""];
        for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
            const std::string rel = fs::relative(it->path(), root).generic_string();
            Entry entry;
            if (it->is_directory()) {
                entry.folder = true;
                folders_[rel];
            } else {
                struct stat st {};
                EXPECT_EQ(stat(it->path().c_str(), &st), 0);
                entry.file = NewFile();
                File& f = files_[entry.file];
                f.now = f.durable = ReadFileBytes(it->path().string());
                f.time_now = f.time_durable = st.st_mtime;
            }
            Parent(rel).now[Name(rel)] = entry;
            Parent(rel).durable[Name(rel)] = entry;
        }
    }

    void Apply(const os::DiskEvent& e) {
        using K = os::DiskEvent;
        switch (e.kind) {
        case K::kCreate: {
            Entry entry;
            entry.file = NewFile();
            by_inode_[e.file] = entry.file;
            Parent(e.path).now[Name(e.path)] = entry;
            break;
        }
        case K::kWrite:
            if (File* f = Known(e.file)) {
                if (f->now.size() < e.offset + e.data.size()) f->now.resize(e.offset + e.data.size());
                std::copy(e.data.begin(), e.data.end(), f->now.begin() + static_cast<long>(e.offset));
            }
            break;
        case K::kTruncate:
            if (File* f = Known(e.file)) f->now.resize(e.offset);
            break;
        case K::kSyncFile:
            if (File* f = Known(e.file)) {
                f->durable = f->now;
                f->time_durable = f->time_now;
            }
            break;
        case K::kSetTime:
            if (File* f = Known(e.file)) f->time_now = e.time;
            break;
        case K::kRename: {
            Entries& from = Parent(e.path).now;
            auto it = from.find(Name(e.path));
            ASSERT_NE(it, from.end()) << "rename of a name the model lacks: " << e.path;
            const Entry entry = it->second;
            from.erase(it);
            Parent(e.to).now[Name(e.to)] = entry;
            break;
        }
        case K::kDelete:
        case K::kRemoveFolder: Parent(e.path).now.erase(Name(e.path)); break;
        case K::kMakeFolder: {
            Entry entry;
            entry.folder = true;
            Parent(e.path).now[Name(e.path)] = entry;
            folders_[e.path];
            break;
        }
        case K::kSyncFolder: folders_[e.path].durable = folders_[e.path].now; break;
        case K::kSyncAll:
            for (auto& [path, folder] : folders_) folder.durable = folder.now;
            for (auto& [id, file] : files_) {
                file.durable = file.now;
                file.time_durable = file.time_now;
            }
            break;
        }
    }

    // The ways a power loss may leave what was not made durable.
    enum class Data { kDurable, kNow, kHalf };
    struct Crash {
        std::string name;
        bool entries_now;          // folder changes kept (else only the synced ones)
        std::string except;        // one folder for which the opposite holds ("": none)
        Data data;
    };
    // The crashes worth building from this state: all or nothing kept, data and folder
    // changes apart, and each folder that has unsynced changes kept or lost alone.
    std::vector<Crash> Crashes() const {
        std::vector<Crash> out = {{"nothing unsynced survives", false, "", Data::kDurable},
                                  {"everything survives", true, "", Data::kNow},
                                  {"folder changes survive, unsynced data is lost", true, "", Data::kDurable},
                                  {"folder changes survive, unsynced data is half written", true, "", Data::kHalf},
                                  {"unsynced data survives, folder changes are lost", false, "", Data::kNow}};
        for (const auto& [path, folder] : folders_) {
            if (folder.now == folder.durable) continue;
            out.push_back({"only the changes of \"" + path + "\" survive", false, path, Data::kDurable});
            out.push_back({"only the changes of \"" + path + "\" are lost", true, path, Data::kDurable});
        }
        return out;
    }

    // Writes the crashed state below `root` (which must not exist).
    void Build(const Crash& crash, const std::string& root) const { BuildFolder(crash, "", root); }

private:
    static std::string Name(const std::string& path) {
        const size_t cut = path.rfind('/');
        return cut == std::string::npos ? path : path.substr(cut + 1);
    }
    Folder& Parent(const std::string& path) {
        const size_t cut = path.rfind('/');
        return folders_[cut == std::string::npos ? "" : path.substr(0, cut)];
    }
    uint64_t NewFile() {
        files_[next_] = File();
        return next_++;
    }
    File* Known(uint64_t inode) {
        auto it = by_inode_.find(inode);
        return it == by_inode_.end() ? nullptr : &files_[it->second];
    }

    void BuildFolder(const Crash& crash, const std::string& path, const std::string& where) const {
        fs::create_directories(where);
        auto it = folders_.find(path);
        if (it == folders_.end()) return;
        const bool now = crash.entries_now != (path == crash.except);
        for (const auto& [name, entry] : now ? it->second.now : it->second.durable) {
            const std::string child = path.empty() ? name : path + "/" + name;
            const std::string target = where + "/" + name;
            if (entry.folder) {
                BuildFolder(crash, child, target);
                continue;
            }
            const File& f = files_.at(entry.file);
            Bytes data = f.durable;
            int64_t time = f.time_durable;
            if (crash.data == Data::kNow || (crash.data == Data::kHalf && f.now.size() <= f.durable.size())) {
                data = f.now;
                time = f.time_now;
            } else if (crash.data == Data::kHalf) {
                data.assign(f.now.begin(), f.now.begin() + static_cast<long>((f.durable.size() + f.now.size()) / 2));
            }
            WriteFileBytes(target, data);
            struct timespec times[2] = {{static_cast<time_t>(time), 0}, {static_cast<time_t>(time), 0}};
            utimensat(AT_FDCWD, target.c_str(), times, 0);
        }
    }

    std::map<std::string, Folder> folders_;
    std::map<uint64_t, File> files_;
    std::map<uint64_t, uint64_t> by_inode_;  // inodes of files the run created -> model file
    uint64_t next_ = 1;
};

Tree ReadTree(const std::string& root) {
    Tree tree;
    for (auto it = fs::recursive_directory_iterator(root); it != fs::recursive_directory_iterator(); ++it) {
        const std::string rel = fs::relative(it->path(), root).generic_string();
        if (rel == "__QXUPD_") {
            it.disable_recursion_pending();
            continue;
        }
        if (it->is_regular_file()) tree[rel] = ReadFileBytes(it->path().string());
    }
    return tree;
}

class DurabilityWalk : public ::testing::Test {
protected:
    void SetUp() override {
        Bytes game = RandomBytes(20000, 1), game_new = game;
        game_new.resize(26000, 'g');
        old_ = {{"game.exe", game},
                {"old.txt", ToBytes("obsolete")},
                {"Maps/level1.map", RandomBytes(30000, 2)},
                {"Maps/gone.map", RandomBytes(3000, 3)},
                {"Maps/Deep/x.dat", ToBytes("deep old")},
                {"untouched.cfg", ToBytes("not in the package")}};
        Bytes level_new = old_["Maps/level1.map"];
        for (size_t i = 7000; i < 7100; ++i) level_new[i] ^= 0x5A;
        plan_.Update("game.exe", game, game_new);
        plan_.Remove("old.txt", old_["old.txt"]);
        plan_.Update("Maps\\level1.map", old_["Maps/level1.map"], level_new);
        plan_.Remove("Maps\\gone.map", old_["Maps/gone.map"]);
        plan_.Update("Maps\\Deep\\x.dat", ToBytes("deep old"), ToBytes("deep new, longer"));
        plan_.Add("Music\\theme.ogg", RandomBytes(9000, 4));
        plan_.Add("Maps\\Deep\\Er\\new.dat", ToBytes("new in new folders"));
        plan_.Add("readme.txt", ToBytes("read me"));
        plan_.Write(package_);
        new_ = old_;
        new_["game.exe"] = game_new;
        new_.erase("old.txt");
        new_["Maps/level1.map"] = level_new;
        new_.erase("Maps/gone.map");
        new_["Maps/Deep/x.dat"] = ToBytes("deep new, longer");
        new_["Music/theme.ogg"] = RandomBytes(9000, 4);
        new_["Maps/Deep/Er/new.dat"] = ToBytes("new in new folders");
        new_["readme.txt"] = ToBytes("read me");
        for (const auto& [name, data] : old_) {
            WriteFileBytes(JoinNative(target_, name), data);
            SetStamp(JoinNative(target_, name), OldStamp());
        }
    }

    // Every file is its old or its new version, or absent where the package adds or
    // removes it; "" when that holds, else what does not.
    std::string OldOrNew(const Tree& tree) const {
        std::set<std::string> names;
        for (const auto& [name, data] : old_) names.insert(name);
        for (const auto& [name, data] : new_) names.insert(name);
        for (const auto& [name, data] : tree)
            if (names.count(name) == 0) return name + " should not be there";
        for (const std::string& name : names) {
            auto now = tree.find(name);
            auto was = old_.find(name);
            auto will = new_.find(name);
            if (now == tree.end()) {
                if (was != old_.end() && will != new_.end()) return name + " is missing";
                continue;
            }
            if ((was == old_.end() || now->second != was->second) && (will == new_.end() || now->second != will->second))
                return name + " is neither its old nor its new version";
        }
        return "";
    }

    TempDir root_;
    std::string target_ = root_ / "target";
    std::string package_ = root_ / "p.upg";
    PackagePlan plan_;
    Tree old_, new_;
};

}  // namespace

TEST_F(DurabilityWalk, EveryPowerLossLeavesOldOrNewVersionsAndTheNextRunFinishes) {
    DiskModel model(target_);
    auto package = OpenForApply(package_, target_);
    ASSERT_TRUE(package->IsValid()) << package->RefusalReason();
    os::StartDiskRecord();
    const ApplyResult result = ApplyPackage(*package, nullptr);
    const std::vector<os::DiskEvent> record = os::StopDiskRecord();
    package.reset();
    ASSERT_EQ(result, kApplyDone);
    ASSERT_EQ(ReadTree(target_), new_);
    ASSERT_GT(record.size(), 20u);

    size_t states = 0;
    for (size_t prefix = 0; prefix <= record.size(); ++prefix) {
        if (prefix > 0) model.Apply(record[prefix - 1]);
        for (const DiskModel::Crash& crash : model.Crashes()) {
            const std::string where = "power lost after event " + std::to_string(prefix) + " of " +
                                      std::to_string(record.size()) + ", " + crash.name;
            const std::string disk = root_ / ("crash" + std::to_string(states++));
            model.Build(crash, disk);
            const std::string problem = OldOrNew(ReadTree(disk));
            ASSERT_EQ(problem, "") << where;
            auto again = OpenForApply(package_, disk);
            ASSERT_EQ(ApplyPackage(*again, nullptr), kApplyDone) << where << ": the next run does not finish";
            ASSERT_EQ(ReadTree(disk), new_) << where << ": the next run leaves files that are not new";
            ASSERT_FALSE(fs::exists(disk + "/__QXUPD_")) << where;
            fs::remove_all(disk);
        }
    }
    std::printf("power-loss walk: %zu recorded events, %zu disk states built and finished\n", record.size(), states);
}
