// Writes the seed corpora of the fuzz targets into OUT/<target>/, and the two trees that
// make_seeds.sh gives to `ambrel build` into OUT/trees/{old,new}. The seeds are small
// packages in both forms that use every record kind and every script command.
// Usage: make_seeds OUT
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "apply/identity.h"
#include "fuzz_support.h"
#include "package/writer.h"

namespace fs = std::filesystem;

namespace {

using Bytes = std::vector<uint8_t>;

FileIdentity IdentityOf(const Bytes& data) {
    FileIdentity id;
    id.stamp = (24u << 25) | (7u << 21) | (21u << 16) | (8u << 11);  // 2004-07-21 08:00
    id.size = static_cast<uint32_t>(data.size());
    id.check = UpdateCheckValue(0, data.data(), id.size, 0, data.size());
    return id;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Seed {
    std::vector<EntryRecord> records;
    std::vector<Bytes> scripts;
};

EntryRecord Record(uint8_t op, const std::string& name, int warning, int error) {
    EntryRecord r;
    r.operation = op;
    r.warning_policy = static_cast<uint8_t>(warning);
    r.error_policy = static_cast<uint8_t>(error);
    r.name = name;
    r.description = "seed " + name;
    return r;
}

// An update of ApplyOldTree: game.dat rebuilt with every copy form, readme.txt removed,
// a new file in a new folder.
Seed UpdateSeed(int policy) {
    const std::vector<TreeFile>& old_tree = ApplyOldTree();
    const Bytes& game = old_tree[0].content;
    Seed seed;
    ScriptWriter w;
    w.CopyFar(0, 100);
    const Bytes ins = Text("inserted");
    w.Literal(ins.data(), static_cast<uint32_t>(ins.size()));
    w.CopyNear(200, 1000);
    w.SetOffsetHigh(0);
    w.CopyNear(1500, 70000 > game.size() ? 1500 : 70000);
    w.CopyFar(0xFFFFFFFFu, 3);
    w.Raw(11);
    w.End();
    Bytes game_new(game.begin(), game.begin() + 100);
    game_new.insert(game_new.end(), ins.begin(), ins.end());
    game_new.insert(game_new.end(), game.begin() + 200, game.begin() + 1200);
    game_new.insert(game_new.end(), game.begin() + 1500, game.begin() + 3000);
    EntryRecord update = Record(kOpUpdate, "game.dat", policy, policy);
    update.old_identity = IdentityOf(game);
    update.new_identity = IdentityOf(game_new);
    seed.records.push_back(update);
    seed.scripts.push_back(w.bytes());

    EntryRecord remove = Record(kOpRemove, "README.TXT", policy, policy);
    remove.old_identity = IdentityOf(old_tree[1].content);
    seed.records.push_back(remove);

    const Bytes added = Text("a new map\n");
    ScriptWriter a;
    a.Literal(added.data(), static_cast<uint32_t>(added.size()));
    a.End();
    EntryRecord add = Record(kOpAdd, "Maps\\Deep\\two.map", policy, policy);
    add.new_identity = IdentityOf(added);
    seed.records.push_back(add);
    seed.scripts.push_back(a.bytes());
    return seed;
}

// Every opcode, the 16- and 32-bit literal forms and an unknown opcode in one Add.
Seed CommandSeed() {
    Seed seed;
    ScriptWriter w;
    const Bytes big(300, 'b');
    w.Literal(big.data(), static_cast<uint32_t>(big.size()));
    w.Raw(kCmdLiteral32);
    for (uint8_t b : {3, 0, 0, 0, 0x78, 0x79, 0x7A}) w.Raw(b);
    w.SetOffsetHigh(1);
    w.Raw(kCmdCopyNear8); w.Raw(0); w.Raw(0); w.Raw(4);
    w.Raw(kCmdCopyNear16); for (uint8_t b : {0, 0, 4, 0}) w.Raw(b);
    w.Raw(kCmdCopyNear32); for (uint8_t b : {0, 0, 4, 0, 0, 0}) w.Raw(b);
    w.Raw(kCmdCopyFar8); for (uint8_t b : {0, 0, 0, 0, 4}) w.Raw(b);
    w.Raw(kCmdCopyFar16); for (uint8_t b : {0, 0, 0, 0, 4, 0}) w.Raw(b);
    w.Raw(kCmdCopyFar32); for (uint8_t b : {0xFF, 0xFF, 0xFF, 0xFF, 4, 0, 0, 0}) w.Raw(b);
    w.Raw(200);
    w.End();
    EntryRecord add = Record(kOpAdd, "sub\\all.bin", 0, 0);
    add.new_identity = IdentityOf(Bytes(303, 'b'));
    seed.records.push_back(add);
    seed.scripts.push_back(w.bytes());
    EntryRecord odd = Record(3, "undefined.op", 3, 3);
    seed.records.push_back(odd);
    return seed;
}

void Put(const fs::path& folder, const std::string& name, const Bytes& data) {
    fs::create_directories(folder);
    WriteWholeFile((folder / name).string(), data.data(), data.size());
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_seeds OUT\n");
        return 2;
    }
    const fs::path out = argv[1];
    PackageHeader header;
    header.title = "Seed";
    header.description = "A seed package.\nSecond line.";
    const std::vector<Seed> seeds = {UpdateSeed(0), UpdateSeed(1), CommandSeed(), Seed()};
    int n = 0;
    for (const Seed& seed : seeds) {
        for (int level : {0, 9}) {
            const Bytes package = BuildPackageBytes(header, seed.records, seed.scripts, level);
            const std::string name = "writer-" + std::to_string(n++) + ".upg";
            Put(out / "package_open", name, package);
            Put(out / "apply", name, package);
            if (level != 0) {
                // The zlib target takes a mode byte and the body after the marker.
                for (uint8_t mode : {0x00, 0x01, 0x20, 0x41}) {
                    Bytes input = {mode};
                    input.insert(input.end(), package.begin() + sizeof kCompressedMarker, package.end());
                    Put(out / "zlib_stream", name + "-" + std::to_string(mode), input);
                }
            }
        }
        for (size_t k = 0; k < seed.scripts.size(); ++k) {
            const Bytes& old = ApplyOldTree()[0].content;
            Put(out / "rebuild", "writer-" + std::to_string(n) + "-" + std::to_string(k),
                JoinRebuildInput(5000, old, seed.scripts[k]));
        }
    }
    // Trees for `ambrel build`: the installed tree and a new version of it.
    const fs::path old_dir = out / "trees" / "old", new_dir = out / "trees" / "new";
    WriteTree(old_dir.string(), ApplyOldTree());
    std::vector<TreeFile> changed = ApplyOldTree();
    changed[0].content.insert(changed[0].content.begin() + 1000, 40, 'N');
    changed[0].content.resize(2500);
    changed.erase(changed.begin() + 1);
    changed.push_back(TreeFile{"Maps/Deep/new.map", Text("new map data")});
    changed.push_back(TreeFile{"Docs/notes.txt", Text("notes\r\n")});
    WriteTree(new_dir.string(), changed);
    return 0;
}
