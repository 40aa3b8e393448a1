// Fuzz target: the rebuild interpreter with a fuzzed script and a fuzzed old file, writing
// to memory streams (input layout: see SplitRebuildInput). Each script runs twice: for an
// entry that is built and for one that is skipped (no streams); both must leave the
// package stream at the same place, so that the next entry's script is found either way,
// and the built output never passes the entry's new size.
#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

#include "apply/driver.h"
#include "apply/progress.h"
#include "apply/rebuild.h"
#include "fuzz_support.h"
#include "io/stream.h"
#include "package/package.h"
#include "package/writer.h"

namespace {

void Require(bool condition) {
    if (!condition) std::abort();
}

// A valid package with one Add entry; each run replaces its stream by the fuzzed script.
UpgradePackage& ScriptHolder() {
    static std::unique_ptr<UpgradePackage> package = [] {
        EntryRecord record;
        record.name = "built.dat";
        const std::vector<uint8_t> bytes = BuildPackageBytes(PackageHeader(), {record}, {{kCmdEnd}}, 0);
        const std::string path = ScratchFolder() + "/holder.upg";
        Require(WriteWholeFile(path, bytes.data(), bytes.size()));
        std::unique_ptr<UpgradePackage> p = UpgradePackage::OpenFull(path.c_str(), ScratchFolder().c_str());
        Require(p->IsValid());
        return p;
    }();
    return *package;
}

// Runs the script once; returns how far it read the package stream.
uint32_t Run(UpgradePackage& package, const RebuildInput& in, uint32_t total, bool built, uint32_t* written) {
    std::vector<uint8_t> script(in.script, in.script + in.script_size);
    std::vector<uint8_t> old_copy(in.old_file, in.old_file + in.old_size);
    package.stream.reset(new TCVLFlatRamStream(script.data(), in.script_size, in.script_size));
    package.ProgressDone = 1;
    package.ProgressTotal = total;
    ResetProgressState();
    TCVLFlatRamStream old_file(old_copy.data(), in.old_size, in.old_size);
    TCVLFlatRamStream output(0, 4096);
    Require(ReconstructFile(package, built ? &old_file : nullptr, built ? &output : nullptr, in.new_size) == 0);
    const uint32_t read = package.stream->Tell();
    package.stream.reset();
    if (written != nullptr) *written = output.Size();
    return read;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    UpgradePackage& package = ScriptHolder();
    const RebuildInput in = SplitRebuildInput(data, size);
    const uint32_t total = in.new_size == 0xFFFFFFFFu ? in.new_size : in.new_size + 1;
    uint32_t written = 0;
    const uint32_t built = Run(package, in, total, true, &written);
    const uint32_t skipped = Run(package, in, total, false, nullptr);
    Require(built == skipped);
    Require(written <= in.new_size);
    return 0;
}
