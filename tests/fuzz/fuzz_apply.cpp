// Fuzz target: a whole apply of a fuzzed package, without a front end (every question is
// answered No), into a target folder that holds a small installed tree, with a sentinel
// folder beside it. Besides the sanitizers it checks the promises of the apply:
// - nothing outside the target folder changes;
// - a file that no entry names is left as it was;
// - when the apply reports success, every entry it did not skip left its file at the new
//   identity (or removed it), and no temporary folder is left behind;
// - when it reports an abort, the target folder is exactly as it was.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "apply/driver.h"
#include "apply/identity.h"
#include "fuzz_support.h"
#include "io/os.h"
#include "package/message_table.h"
#include "package/package.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// "\" as "/" and ASCII letters folded: how a name compares with the files on disk.
std::string Folded(const std::string& name) {
    std::string out;
    for (char c : name) {
        if (c == '\\') c = '/';
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
        out += c;
    }
    return out;
}

int NamedByEntries(const UpgradePackage& package, const std::string& file) {
    int n = 0;
    for (const FileEntry& e : package.entries) n += Folded(e.name) == Folded(file);
    return n;
}

// Same names with the same contents, in any order.
bool SameTree(const std::vector<TreeFile>& a, const std::vector<TreeFile>& b) {
    if (a.size() != b.size()) return false;
    for (const TreeFile& x : a) {
        bool found = false;
        for (const TreeFile& y : b) found = found || (x.name == y.name && x.content == y.content);
        if (!found) return false;
    }
    return true;
}

const std::vector<TreeFile>& SentinelTree() {
    static const std::vector<TreeFile> tree = {TreeFile{"keep.txt", {'k', 'e', 'e', 'p'}},
                                               TreeFile{"game.dat", {'o', 'u', 't'}}};
    return tree;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string root = ScratchFolder() + "/apply";
    static const std::string target = root + "/target";
    static const std::string sentinel = root + "/sentinel";
    static const std::string package_path = root + "/package.upg";

    EmptyFolder(ScratchFolder());
    WriteTree(target, ApplyOldTree());
    WriteTree(sentinel, SentinelTree());
    Require(WriteWholeFile(package_path, data, size));

    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenFull(package_path.c_str(), target.c_str());
    if (!package->IsValid()) return 0;
    package->AttachMessages(MessageTable::LoadFromResource(nullptr, {MessageTable::kResourceId, nullptr}));
    const ApplyResult result = ApplyPackage(*package, nullptr);

    Require(SameTree(ReadTree(sentinel), SentinelTree()));
    const std::vector<TreeFile> after = ReadTree(target);
    if (result == kApplyAborted) Require(SameTree(after, ApplyOldTree()));
    for (const TreeFile& old : ApplyOldTree()) {
        if (NamedByEntries(*package, old.name) > 0) continue;
        bool same = false;
        for (const TreeFile& f : after) same = same || (f.name == old.name && f.content == old.content);
        Require(same);
    }
    if (result != kApplyDone) return 0;
    Require(os::GetAttributes((target + "/" + kTempFolderName).c_str()) == os::kInvalidAttributes);
    for (const FileEntry& e : package->entries) {
        // Two entries naming one file are checked by neither.
        if (e.state != 0 || NamedByEntries(*package, e.name) != 1) continue;
        const std::string path = target + "/" + e.name;
        FileIdentity id;
        if (e.Operation == kOpRemove)
            Require(os::GetAttributes(path.c_str()) == os::kInvalidAttributes);
        else if (HasNewIdentity(e.Operation))
            Require(ReadFileIdentity(path.c_str(), &id) && id.SameContent(e.NewIdentity));
    }
    return 0;
}
