// The package builder: compares an old and a new folder tree, plans the entries (Add,
// Update, Remove), checks every limit of the package format, writes the package with a
// rebuild script per added or updated file, and checks it by applying it to a scratch
// copy with the applicator's own code.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

// The most threads a build may use, and the number it uses by default: one per core.
constexpr int kMaxBuildThreads = 256;
int DefaultBuildThreads();

struct BuildOptions {
    std::string old_dir;
    std::string new_dir;
    std::string output;
    std::string title;
    std::string description;  // line ends become CR LF
    int compression = 0;      // 0: plain; 1 to 12: "[QXZ]" at that level (deflate_whole.h)
    int warning_policy = 1;
    int error_policy = 1;
    std::string policy_file;  // per-file overrides, see policy.h
    int format_version = kMaxFormatVersion;
    std::vector<std::string> excludes;
    bool check = true;
    // Memory for the whole build: the file pairs diffed side by side and the package held
    // by the writer. An old file whose suffix index does not fit the whole limit is
    // matched through block hashes instead; files are diffed side by side only as far as
    // their estimates fit together.
    uint64_t memory_limit = 1ull << 30;
    bool force_block_index = false;       // tests
    int threads = DefaultBuildThreads();  // files diffed at the same time, 1 to kMaxBuildThreads
    std::string scratch_folder;      // where the check works; empty: the system's temp folder
};

// What the builder reports while it works; the default does nothing.
class BuildObserver {
public:
    virtual ~BuildObserver() = default;
    virtual void Stage(const std::string& text) {}
    // `name` is being diffed; `done` of `total` new bytes of all scripts are planned.
    virtual void Progress(const std::string& name, uint64_t done, uint64_t total) {}
    virtual void Warning(const std::string& text) {}
};

struct BuildSummary {
    int adds = 0;
    int updates = 0;
    int removes = 0;
    int unchanged = 0;
    int block_index_files = 0;  // old files matched through the block-hash fallback
    uint64_t plain_bytes = 0;   // the package before compression
    uint64_t package_bytes = 0;
    bool checked = false;
};

// Builds the package. On failure returns false with every problem found in *errors and
// leaves no package behind (an existing file at the output path is kept as it was).
bool BuildPackage(const BuildOptions& options, BuildObserver* observer, BuildSummary* summary,
                  std::vector<std::string>* errors);

// The description as it is stored: lone LF and lone CR become CR LF.
std::string StoredDescription(const std::string& text);
// Why `name` cannot be an entry name ("" when it can): too long for the package, or refused
// by the applicator's name rules.
std::string PackageNameProblem(const std::string& name);
