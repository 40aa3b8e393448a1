// Fuzz target: the full open of a package file (outer form, header, strings, entry table,
// name checks), a walk over the entries it accepted, and a bounded read of what follows.
// Besides the sanitizers it checks that a refused package says why and that an accepted
// one holds only entries the engine can act on safely.
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>

#include "apply/driver.h"
#include "apply/temporary_files.h"
#include "fuzz_support.h"
#include "io/file_ops.h"
#include "package/entry_name.h"
#include "package/package.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// What every accepted package promises the engine.
void CheckAccepted(UpgradePackage& package) {
    const size_t expected = package.EntryCount > 0 ? static_cast<size_t>(package.EntryCount) : 0;
    Require(package.entries.size() == expected && expected <= static_cast<size_t>(kMaxEntries));
    uint64_t sum = 0;
    char path[os::kMaxPath];
    std::set<std::string> keys;
    for (size_t i = 0; i < package.entries.size(); ++i) {
        const FileEntry& e = package.entries[i];
        Require(std::memchr(e.name, 0, sizeof e.name) != nullptr);
        Require(std::memchr(e.Description, 0, sizeof e.Description) != nullptr);
        // Names are kept in their plain form, have no problem, and no two name one file.
        Require(EntryNameProblem(e.name).empty());
        char again[sizeof e.name];
        std::memcpy(again, e.name, sizeof again);
        NormalizeEntryName(again);
        Require(std::strcmp(again, e.name) == 0);
        for (const char* c = e.name; *c != '\0'; ++c) Require(static_cast<unsigned char>(*c) >= 0x20);
        Require(keys.insert(EntryNameKey(e.name)).second);
        if (HasNewIdentity(e.Operation)) sum += e.NewIdentity.size;
        // Composed paths are refused when they do not fit, never cut.
        if (JoinPath(path, sizeof path, package.target_folder, e.name)) Require(std::strlen(path) < sizeof path);
        if (TemporaryFileName(package, static_cast<int>(i), path, sizeof path))
            Require(std::strlen(path) < sizeof path);
    }
    Require(package.ProgressTotal == (sum >= 0xFFFFFFFFull ? 0xFFFFFFFFu : static_cast<uint32_t>(sum + 1)));
    // The scripts follow the table; read a bounded amount of them.
    uint8_t buffer[4096];
    for (int k = 0; k < 16 && package.stream->Read(buffer, sizeof buffer) == sizeof buffer; ++k) {
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const std::string path = ScratchFolder() + "/package.upg";
    static const std::string target = ScratchFolder() + "/target";
    Require(WriteWholeFile(path, data, size));
    std::unique_ptr<UpgradePackage> package = UpgradePackage::OpenFull(path.c_str(), target.c_str());
    Require(package->IsFull());
    if (package->IsValid())
        CheckAccepted(*package);
    else
        Require(!package->RefusalReason().empty());
    return 0;
}
