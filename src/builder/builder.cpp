// The package builder: tree comparison, entry planning and limits, the scripts (made side
// by side by a worker pool), writing and the self-check.
#include "builder/builder.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "apply/identity.h"
#include "builder/check.h"
#include "builder/file_diff.h"
#include "builder/match_index.h"
#include "builder/policy.h"
#include "builder/scoped_file.h"
#include "builder/tree.h"
#include "builder/worker_pool.h"
#include "io/codepage.h"
#include "io/file_ops.h"
#include "io/os.h"
#include "package/deflate_whole.h"
#include "package/entry_name.h"
#include "package/package.h"
#include "package/writer.h"

namespace {

constexpr uint64_t kFourGiB = 1ull << 32;
// Entry names longer than this leave little room for the target folder in the
// applicator's 259-character paths.
constexpr size_t kLongName = 200;
// Script bytes held in memory before a spool moves to a temporary file.
constexpr size_t kSpoolInMemory = 16u << 20;

// Deletes a file of the builder's own (the ".part" file, a spool). A second try follows a
// short pause: on Windows a virus scanner or the indexer often holds a file that has just
// been written open for a moment. False when the file is still there.
bool DeleteOwnFile(const std::string& path) {
    if (os::DeleteFile(path.c_str()) || os::GetAttributes(path.c_str()) == os::kInvalidAttributes) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    return os::DeleteFile(path.c_str()) || os::GetAttributes(path.c_str()) == os::kInvalidAttributes;
}

// One Add or Update entry whose script is made, with the files behind it.
struct ScriptJob {
    size_t entry = 0;
    const TreeFile* old_file = nullptr;  // Update only
    const TreeFile* new_file = nullptr;
    bool same_content = false;  // only the time stamp differs
    uint64_t memory = 0;        // estimate for diffing it
};

// Script bytes kept aside until the package writer reaches their entry: in memory up to
// kSpoolInMemory, beyond that in a new file of the system's temporary folder, deleted
// when the spool goes away.
class Spool {
public:
    Spool() = default;
    Spool(const Spool&) = delete;
    Spool& operator=(const Spool&) = delete;
    ~Spool() {
        file_.Close();
        if (!path_.empty()) DeleteOwnFile(path_);
    }
    void Write(const uint8_t* data, size_t n) {
        if (!problem_.empty()) return;
        if (path_.empty() && bytes_.size() + n > kSpoolInMemory) {
            if (!CreateTemporary() || !Put(bytes_.data(), bytes_.size())) return;
            bytes_.clear();
            bytes_.shrink_to_fit();
        }
        if (!path_.empty()) {
            Put(data, n);
        } else {
            // Grown by hand so that the buffer never outgrows kSpoolInMemory.
            if (bytes_.capacity() < bytes_.size() + n)
                bytes_.reserve(std::min(kSpoolInMemory, std::max(2 * bytes_.capacity(), bytes_.size() + n)));
            bytes_.insert(bytes_.end(), data, data + n);
        }
    }
    // The memory the spool holds: at most kSpoolInMemory, and at most twice its bytes.
    uint64_t BytesInMemory() const { return bytes_.capacity(); }
    // Hands everything to the writer; false when the spool could not be kept, with
    // Problem() saying why.
    bool ReplayInto(PackageFileWriter& writer) {
        if (!problem_.empty()) return false;
        if (path_.empty()) {
            writer.WriteBytes(bytes_.data(), bytes_.size());
            return true;
        }
        file_.Close();  // before it is opened again: the writing handle shares nothing
        file_.Reset(os::OpenFile(path_.c_str(), os::kModeRead));
        if (!file_.ok()) return Fail("cannot open the temporary file " + path_ + " again");
        std::vector<uint8_t> buffer(1u << 20);
        for (;;) {
            uint32_t got = 0;
            if (!os::ReadFile(file_.get(), buffer.data(), static_cast<uint32_t>(buffer.size()), &got))
                return Fail("cannot read the temporary file " + path_);
            if (got == 0) return true;
            writer.WriteBytes(buffer.data(), got);
        }
    }
    const std::string& Problem() const { return problem_; }

private:
    bool Fail(const std::string& problem) {
        problem_ = "a script kept aside: " + problem;
        return false;
    }
    // Creates a file of a name not yet taken in the temporary folder; false when none can
    // be created there.
    bool CreateTemporary() {
        static std::atomic<uint32_t> counter{0};
        std::string folder;
        if (!os::TemporaryFolder(&folder)) return Fail("the system's temporary folder cannot be found");
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::string path =
                folder + "ambrel-spool-" + std::to_string(os::TickCount()) + "-" + std::to_string(counter++) + ".tmp";
            file_.Reset(os::OpenFile(path.c_str(), os::kModeCreateNew));
            if (file_.ok()) {
                path_ = path;
                return true;
            }
            if (os::GetAttributes(path.c_str()) == os::kInvalidAttributes) break;  // not a name clash
        }
        return Fail("cannot create a temporary file in " + folder);
    }
    bool Put(const uint8_t* data, size_t n) {
        while (n > 0) {
            const uint32_t chunk = static_cast<uint32_t>(std::min<size_t>(n, 1u << 30));
            uint32_t put = 0;
            if (!os::WriteFile(file_.get(), data, chunk, &put) || put != chunk)
                return Fail("cannot write the temporary file " + path_);
            data += chunk;
            n -= chunk;
        }
        return true;
    }

    std::vector<uint8_t> bytes_;
    std::string path_;  // the temporary file, once there is one
    ScopedFile file_;
    std::string problem_;  // why the spool failed; empty while it works
};

// What diffing a job takes when DiffFiles is handed `limit`, as DiffFiles chooses its
// index: the old file, its suffix array and a segment of the new file, or else the
// block-hash index, its page cache and the segment. Every job is handed the whole memory
// limit, whatever else runs beside it, so that the index a file gets (and with it the
// package) does not depend on the number of threads; the worker pool keeps the sum of
// the estimates within the limit.
uint64_t MemoryEstimate(const ScriptJob& job, uint64_t limit) {
    if (job.old_file == nullptr || job.old_file->size == 0 || job.same_content) return 4u << 20;
    const uint64_t segment = std::min<uint64_t>(DiffSettings().segment_bytes, job.new_file->size);
    const uint64_t in_memory = job.old_file->size + SuffixMatcher::IndexBytes(job.old_file->size) + segment + (48u << 20);
    return in_memory <= limit ? in_memory : limit / 4 + std::min<uint64_t>(64u << 20, limit / 8) + segment;
}

// What a job's script may hold in memory while it waits in a spool: the spool's limit,
// or less for a small file (a script takes at most 3 bytes and an End per new byte, a
// one-byte literal with its command, and a spool's buffer at most twice what it holds).
uint64_t SpoolAllowance(const ScriptJob& job) { return std::min<uint64_t>(kSpoolInMemory, 6 * job.new_file->size + 64); }

// What became of one script job made by the worker pool.
struct JobResult {
    std::unique_ptr<Spool> spool;  // the script, when it was made out of turn
    bool ok = false;
    std::string error;
};

// The old and new identity of an entry, read as the applicator reads them.
bool ReadIdentity(const TreeFile& file, FileIdentity* id, std::vector<std::string>* errors) {
    if (!ReadFileIdentity(file.path.c_str(), id)) {
        errors->push_back(file.path + ": cannot read its identity (the file cannot be opened, or its time stamp "
                          "cannot be expressed as an MS-DOS date: before 1980 or after 2107)");
        return false;
    }
    if (id->size != file.size) {
        errors->push_back(file.path + ": changed while the package was being built, or cannot be read to its end");
        return false;
    }
    return true;
}

// The MS-DOS time stamp of a file as identities hold it (0 when it cannot be expressed:
// before 1980, after 2107). False when the file cannot be opened.
bool FileStamp(const std::string& path, uint32_t* stamp) {
    ScopedFile file(os::OpenFile(path.c_str(), os::kModeRead | os::kShareRead));
    if (!file.ok()) return false;
    if (!os::GetFileStamp(file.get(), stamp)) *stamp = 0;
    return true;
}

// The last name of a path, after its last separator.
std::string LastName(const std::string& path) {
    size_t cut = path.size();
    while (cut > 0 && !os::IsSeparator(path[cut - 1])) --cut;
    return path.substr(cut);
}

class Builder {
public:
    Builder(const BuildOptions& options, BuildObserver* observer, BuildSummary* summary, std::vector<std::string>* errors)
        : options_(options), observer_(observer ? observer : &quiet_), summary_(summary), errors_(errors) {}

    bool Run();

private:
    // An entry being planned, with the files behind it.
    struct Planned {
        EntryRecord record;
        const TreeFile* old_file = nullptr;
        const TreeFile* new_file = nullptr;
        bool same_content = false;
    };
    // The files and folders of both trees under their folded names, the keys under which
    // Windows finds them.
    struct FoldedIndex {
        std::map<std::string, const TreeFile*> old_files, new_files;
        std::map<std::string, std::string> old_folders, new_folders;
    };

    bool CheckOptions();
    // Compares the trees and plans the entries, in the steps below; false with the
    // problems found in errors_.
    bool Plan();
    bool ScanTrees();
    void DropOwnPackage();
    bool IndexByFoldedName(FoldedIndex* index);
    Planned& AddPlanned(uint8_t op, const std::string& name, const TreeFile* old_file, const TreeFile* new_file);
    void PairFiles(const FoldedIndex& index);
    void SortPlanned();
    void WarnAboutFolders(const FoldedIndex& index);
    bool CheckLimits();
    void RecordEntry(Planned& p);
    bool Write(const std::string& part);
    bool WriteScripts(PackageFileWriter& writer, std::string* error);
    uint64_t RunJob(size_t j, bool in_turn, PackageFileWriter& writer, JobResult* result);
    bool MakeScript(const ScriptJob& job, const ScriptSink& sink, std::string* error);
    uint64_t WriterHold() const;
    bool Check(const std::string& part);
    bool MeasurePackage(const std::string& part);
    bool PutInPlace(const std::string& part);
    void Progress(const std::string& name, uint64_t add);
    void Warn(const std::string& text) {
        std::lock_guard<std::mutex> lock(observer_mutex_);
        observer_->Warning(text);
    }

    const BuildOptions& options_;
    BuildObserver quiet_;
    BuildObserver* observer_;
    BuildSummary* summary_;
    std::vector<std::string>* errors_;

    std::vector<Glob> excludes_;
    std::vector<PolicyRule> rules_;
    std::string description_;
    Tree old_tree_, new_tree_;
    std::vector<Planned> removes_, others_;  // the entries while they are planned
    std::vector<EntryRecord> entries_;
    std::vector<CheckEntry> check_entries_;
    std::vector<ScriptJob> jobs_;

    std::mutex observer_mutex_;
    uint64_t progress_done_ = 0;
    uint64_t progress_total_ = 0;
};

bool Builder::CheckOptions() {
    const size_t before = errors_->size();
    if (options_.old_dir.empty() || options_.new_dir.empty()) errors_->push_back("name the old and the new folder");
    if (options_.output.empty()) errors_->push_back("name the package to write (-o PACKAGE)");
    if (options_.format_version < 0 || options_.format_version > kMaxFormatVersion)
        errors_->push_back("format version " + std::to_string(options_.format_version) +
                           ": the applicator reads format versions 0 to " + std::to_string(kMaxFormatVersion));
    if (options_.compression < 0 || options_.compression > kMaxCompressionLevel)
        errors_->push_back("the compression level must be 1 to " + std::to_string(kMaxCompressionLevel));
    if (options_.threads < 1 || options_.threads > kMaxBuildThreads)
        errors_->push_back("the number of threads must be 1 to " + std::to_string(kMaxBuildThreads) + " (got " +
                           std::to_string(options_.threads) + ")");
    for (int policy : {options_.warning_policy, options_.error_policy})
        if (policy < 0 || policy > 3) errors_->push_back("policies are 0, 1, 2 or 3 (got " + std::to_string(policy) + ")");
    if (options_.title.size() > static_cast<size_t>(kTitleSize - 1))
        errors_->push_back("the title has " + std::to_string(options_.title.size()) +
                           " characters; the applicator shows at most " + std::to_string(kTitleSize - 1));
    if (options_.title.find('\0') != std::string::npos) errors_->push_back("the title holds a NUL byte");
    description_ = StoredDescription(options_.description);
    if (description_.find('\0') != std::string::npos) errors_->push_back("the description holds a NUL byte");
    if (description_.size() > static_cast<size_t>(kDescriptionSize - 1))
        errors_->push_back("the description has " + std::to_string(description_.size()) +
                           " characters (line ends counted as CR LF); the applicator shows at most " +
                           std::to_string(kDescriptionSize - 1));
    for (const std::string& pattern : options_.excludes) {
        if (pattern.empty()) errors_->push_back("an empty --exclude pattern");
        excludes_.emplace_back(pattern);
    }
    if (!options_.policy_file.empty()) {
        std::string contents, text, why;
        if (!ReadWholeFile(options_.policy_file, &contents))
            errors_->push_back("cannot read the policy file " + options_.policy_file);
        else if (!os::TextFileToCodePage(contents, &text, &why))
            errors_->push_back("the policy file " + options_.policy_file + ": " + why);
        else
            ParsePolicies(text, options_.policy_file, &rules_, errors_);
    }
    return errors_->size() == before;
}

bool Builder::Plan() {
    const size_t before = errors_->size();
    observer_->Stage("Comparing the folders");
    if (!ScanTrees()) return false;
    DropOwnPackage();
    FoldedIndex index;
    if (!IndexByFoldedName(&index)) return false;
    PairFiles(index);
    SortPlanned();
    WarnAboutFolders(index);
    const bool long_names = CheckLimits();
    if (errors_->size() != before) return false;
    if (long_names)
        Warn("some entry names are longer than " + std::to_string(kLongName) +
             " characters; the target folder and a name together must stay within 259 characters");
    for (std::vector<Planned>* list : {&removes_, &others_})
        for (Planned& p : *list) RecordEntry(p);
    return errors_->size() == before;
}

bool Builder::ScanTrees() {
    std::string error;
    if (!ScanTree(options_.old_dir, excludes_, &old_tree_, &error) ||
        !ScanTree(options_.new_dir, excludes_, &new_tree_, &error)) {
        errors_->push_back(error);
        return false;
    }
    return true;
}

// The package itself (or its unfinished ".part") never goes into a package, also when it
// is written into one of the folders: a file of the trees that is the output file, or a
// ".part" left by an earlier run, is left out. Files of the same name are compared by
// identity, so that every spelling of the output path is recognised.
void Builder::DropOwnPackage() {
    for (const std::string& own : {options_.output, options_.output + ".part"}) {
        const std::string name = FoldName(LastName(own));
        for (Tree* tree : {&old_tree_, &new_tree_}) {
            auto& files = tree->files;
            files.erase(std::remove_if(files.begin(), files.end(),
                                       [&](const TreeFile& f) {
                                           return FoldName(LastName(f.name)) == name &&
                                                  os::SameFile(f.path.c_str(), own.c_str());
                                       }),
                        files.end());
        }
    }
}

// Windows finds names without regard to letter case: two names that differ only in case
// are one file there, and are refused.
bool Builder::IndexByFoldedName(FoldedIndex* index) {
    const size_t before = errors_->size();
    for (const std::string& f : old_tree_.folders) index->old_folders[FoldName(f)] = f;
    for (const std::string& f : new_tree_.folders) index->new_folders[FoldName(f)] = f;
    for (auto* tree : {&old_tree_, &new_tree_}) {
        auto& files = tree == &old_tree_ ? index->old_files : index->new_files;
        const std::string& root = tree == &old_tree_ ? options_.old_dir : options_.new_dir;
        for (const TreeFile& f : tree->files) {
            auto inserted = files.emplace(FoldName(f.name), &f);
            if (!inserted.second)
                errors_->push_back(root + ": " + inserted.first->second->name + " and " + f.name +
                                   " differ only in letter case; a Windows folder holds only one of them");
        }
    }
    return errors_->size() == before;
}

Builder::Planned& Builder::AddPlanned(uint8_t op, const std::string& name, const TreeFile* old_file,
                                      const TreeFile* new_file) {
    const EntryPolicy defaults{static_cast<uint8_t>(options_.warning_policy), static_cast<uint8_t>(options_.error_policy), ""};
    Planned p;
    p.record.operation = op;
    p.record.name = name;
    const EntryPolicy policy = PolicyFor(rules_, name, defaults);
    p.record.warning_policy = policy.warning_policy;
    p.record.error_policy = policy.error_policy;
    p.record.description = policy.description;
    p.old_file = old_file;
    p.new_file = new_file;
    std::vector<Planned>& list = op == kOpRemove ? removes_ : others_;
    list.push_back(p);
    return list.back();
}

// Pairs the files of both trees: a file only in the new tree is added, one in both is
// updated unless contents and time stamp are the same, one only in the old tree is
// removed. A file that takes the place of a folder, and files that cannot be compared,
// are errors.
void Builder::PairFiles(const FoldedIndex& index) {
    std::string error;
    for (const auto& [key, nf] : index.new_files) {
        auto it = index.old_files.find(key);
        if (it == index.old_files.end()) {
            if (index.old_folders.count(key) != 0)
                errors_->push_back(nf->name + " is a folder in " + options_.old_dir + " and a file in " + options_.new_dir +
                                   "; a package cannot remove folders, so it cannot express this");
            AddPlanned(kOpAdd, nf->name, nullptr, nf);
            continue;
        }
        const TreeFile* of = it->second;
        bool same = of->size == nf->size;
        if (same && !SameContent(of->path, nf->path, nf->size, &same, &error)) {
            errors_->push_back(error);
            continue;
        }
        uint32_t old_stamp = 0, new_stamp = 0;
        if (same && (!FileStamp(of->path, &old_stamp) || !FileStamp(nf->path, &new_stamp))) {
            errors_->push_back("cannot read the time stamp of " + of->path + " or " + nf->path);
            continue;
        }
        if (same && old_stamp == new_stamp) {
            ++summary_->unchanged;
            if (of->name != nf->name)
                Warn(of->name + " is spelled " + nf->name + " in the new version; a package does not rename "
                     "unchanged files, so the old spelling stays");
            continue;
        }
        AddPlanned(kOpUpdate, nf->name, of, nf).same_content = same;
    }
    for (const auto& [key, of] : index.old_files)
        if (index.new_files.count(key) == 0) AddPlanned(kOpRemove, of->name, of, nullptr);
}

// A file that becomes a folder: its Remove must come before the Adds inside the folder,
// because the applicator commits in table order and creates the folders of added files.
// Removes therefore come first. (Such an old file is always removed: the same exclusions
// apply to both trees, so it cannot be left out while the files in the new folder are
// kept.)
void Builder::SortPlanned() {
    auto by_name = [](const Planned& a, const Planned& b) { return FoldName(a.record.name) < FoldName(b.record.name); };
    std::sort(removes_.begin(), removes_.end(), by_name);
    std::sort(others_.begin(), others_.end(), by_name);
}

// Warnings about folders the format cannot create or remove.
void Builder::WarnAboutFolders(const FoldedIndex& index) {
    std::map<std::string, bool> new_parents;
    for (const auto& [key, nf] : index.new_files)
        for (size_t cut = key.find('\\'); cut != std::string::npos; cut = key.find('\\', cut + 1))
            new_parents[key.substr(0, cut)] = true;
    for (const auto& [key, name] : index.new_folders)
        if (index.old_folders.count(key) == 0 && new_parents.count(key) == 0)
            Warn("the empty folder " + name + " is not created by the package (only folders of added files are)");
    for (const auto& [key, name] : index.old_folders)
        if (index.new_folders.count(key) == 0 && index.new_files.count(key) == 0)
            Warn("the folder " + name + " is not in the new version; the package removes its files but leaves the folder");
}

// Adds an error for every limit of the format the planned entries break: their number,
// their names, files of 4 GiB. Returns whether some name is longer than kLongName.
bool Builder::CheckLimits() {
    const size_t count = removes_.size() + others_.size();
    if (count > static_cast<size_t>(kMaxEntries))
        errors_->push_back(std::to_string(count) + " files differ; a package holds at most " +
                           std::to_string(kMaxEntries) + " entries");
    bool long_name = false;
    for (std::vector<Planned>* list : {&removes_, &others_}) {
        for (Planned& p : *list) {
            const std::string problem = PackageNameProblem(p.record.name);
            if (!problem.empty()) errors_->push_back(p.record.name + ": " + problem);
            long_name = long_name || p.record.name.size() > kLongName;
            for (const TreeFile* f : {p.old_file, p.new_file}) {
                if (f != nullptr && f->size >= kFourGiB)
                    errors_->push_back(f->path + ": files of 4 GiB or more cannot be packaged");
            }
        }
    }
    return long_name;
}

// Reads the identities of a planned entry and records it: in the entry table, in the
// check's list and, for an Add or Update, as a script job. An entry whose identities
// cannot be read adds an error and is left out.
void Builder::RecordEntry(Planned& p) {
    bool ok = true;
    if (HasOldIdentity(p.record.operation)) ok = ReadIdentity(*p.old_file, &p.record.old_identity, errors_) && ok;
    if (HasNewIdentity(p.record.operation)) ok = ReadIdentity(*p.new_file, &p.record.new_identity, errors_) && ok;
    if (!ok) return;
    CheckEntry check;
    check.operation = p.record.operation;
    check.name = p.record.name;
    check.old_path = p.old_file ? p.old_file->path : "";
    check.new_path = p.new_file ? p.new_file->path : "";
    check.new_identity = p.record.new_identity;
    check_entries_.push_back(check);
    if (p.record.operation != kOpRemove) {
        ScriptJob job;
        job.entry = entries_.size();
        job.old_file = p.old_file;
        job.new_file = p.new_file;
        job.same_content = p.same_content;
        job.memory = MemoryEstimate(job, options_.memory_limit);
        jobs_.push_back(job);
        progress_total_ += p.new_file->size;
    }
    switch (p.record.operation) {
        case kOpAdd: ++summary_->adds; break;
        case kOpUpdate: ++summary_->updates; break;
        default: ++summary_->removes; break;
    }
    entries_.push_back(p.record);
}

void Builder::Progress(const std::string& name, uint64_t add) {
    std::lock_guard<std::mutex> lock(observer_mutex_);
    progress_done_ += add;
    observer_->Progress(name, progress_done_, progress_total_);
}

// Makes the script of one job into `sink`; any thread may run it.
bool Builder::MakeScript(const ScriptJob& job, const ScriptSink& sink, std::string* error) {
    DiffSettings settings;
    settings.memory_limit = options_.memory_limit;
    settings.force_block_index = options_.force_block_index;
    settings.same_content = job.same_content;
    const std::string& name = entries_[job.entry].name;
    uint64_t reported = 0;
    DiffProgress progress = [&](uint64_t done, uint64_t) {
        Progress(name, done - reported);
        reported = done;
    };
    Progress(name, 0);
    DiffStats stats;
    const bool ok = DiffFiles(job.old_file ? job.old_file->path : "", job.old_file ? job.old_file->size : 0,
                              job.new_file->path, job.new_file->size, settings, sink, progress, &stats, error);
    if (ok && stats.block_index) {
        std::lock_guard<std::mutex> lock(observer_mutex_);
        ++summary_->block_index_files;
    }
    if (ok && reported < job.new_file->size) Progress(name, job.new_file->size - reported);
    return ok;
}

// What the package writer holds of the package at the strongest levels, which compress it
// whole at the end (twice, while it is compressed): a part of the memory limit, beside the
// file pairs being diffed.
uint64_t Builder::WriterHold() const { return std::min<uint64_t>(PackageFileWriter::kWholeLimit, options_.memory_limit / 8); }

// Writes the header and the scripts in table order, and finishes the package file.
bool Builder::Write(const std::string& part) {
    PackageFileWriter writer;
    writer.SetWholeLimit(static_cast<size_t>(WriterHold()));
    std::string error;
    if (!writer.Open(part.c_str(), options_.compression, &error)) {
        errors_->push_back(error);
        return false;
    }
    PackageHeader header;
    header.format_version = static_cast<uint8_t>(options_.format_version);
    header.title = options_.title;
    header.description = description_;
    writer.WriteHeader(header, entries_);
    observer_->Stage("Making the rebuild scripts");
    bool ok = WriteScripts(writer, &error);
    summary_->plain_bytes = writer.PlainBytesWritten();
    std::string finish_error;
    if (!writer.Finish(&finish_error) && ok) {
        ok = false;
        error = finish_error + " (" + part + ")";
    }
    if (!ok) errors_->push_back(error);
    return ok;
}

// Makes the scripts with options_.threads threads, as many side by side as the memory
// limit allows, and hands them to the writer in table order: a job run in its turn writes
// into the package as it goes, one made ahead of its turn waits in a spool.
bool Builder::WriteScripts(PackageFileWriter& writer, std::string* error) {
    std::vector<uint64_t> estimates;
    for (const ScriptJob& job : jobs_) estimates.push_back(job.memory + SpoolAllowance(job));
    const uint64_t hold = options_.compression > kZlibMaxLevel ? WriterHold() : 0;
    WorkerPool pool(options_.threads, options_.memory_limit - hold);
    std::vector<JobResult> results(jobs_.size());
    auto run = [&](size_t j, bool in_turn) { return RunJob(j, in_turn, writer, &results[j]); };
    auto deliver = [&](size_t j) {
        JobResult& result = results[j];
        if (!result.ok) {
            *error = result.error;
            return false;
        }
        if (result.spool && !result.spool->ReplayInto(writer)) {
            *error = result.spool->Problem();
            return false;
        }
        result.spool.reset();
        return true;
    };
    return pool.Run(estimates, run, deliver);
}

// Makes the script of job j into the package (in turn) or into a spool of its own. Runs
// on any of the pool's threads and never throws. Returns the bytes the spool holds.
uint64_t Builder::RunJob(size_t j, bool in_turn, PackageFileWriter& writer, JobResult* result) {
    try {
        ScriptSink sink;
        if (in_turn) {
            sink = [&writer](const uint8_t* d, size_t n) { writer.WriteBytes(d, n); };
        } else {
            result->spool.reset(new Spool());
            Spool* spool = result->spool.get();
            sink = [spool](const uint8_t* d, size_t n) { spool->Write(d, n); };
        }
        result->ok = MakeScript(jobs_[j], sink, &result->error);
    } catch (const std::bad_alloc&) {
        result->ok = false;
        result->error = "out of memory; try a lower --memory-limit";
    } catch (const std::exception& e) {
        result->ok = false;
        result->error = e.what();
    }
    return result->spool ? result->spool->BytesInMemory() : 0;
}

// Writes the package as OUTPUT.part, checks it, and only then puts it in the place of
// OUTPUT. On any failure the ".part" is deleted and OUTPUT is left as it was.
bool Builder::Run() {
    // Problems with the options and with the trees are reported together.
    const bool options_ok = CheckOptions();
    if (!Plan() || !options_ok) return false;
    const std::string part = options_.output + ".part";
    const bool ok = Write(part) && Check(part) && MeasurePackage(part) && PutInPlace(part);
    if (!ok && !DeleteOwnFile(part)) errors_->push_back("cannot delete the unfinished package " + part);
    return ok;
}

// Applies the package to a scratch copy of the old files (unless --no-check).
bool Builder::Check(const std::string& part) {
    if (!options_.check) return true;
    observer_->Stage("Checking the package by applying it to a copy of the old files");
    std::string scratch = options_.scratch_folder;
    if (scratch.empty() && !os::TemporaryFolder(&scratch)) {
        errors_->push_back("the check needs a scratch folder, but the system's temporary folder cannot be found "
                           "(or use --no-check)");
        return false;
    }
    std::string error, left_behind;
    const bool ok = CheckPackage(part, check_entries_, scratch, &error, &left_behind);
    if (!left_behind.empty()) Warn("the check's scratch folder " + left_behind + " could not be deleted");
    if (!ok) errors_->push_back("the check of the package failed: " + error);
    summary_->checked = ok;
    return ok;
}

// The size of the finished package, for the summary.
bool Builder::MeasurePackage(const std::string& part) {
    ScopedFile file(os::OpenFile(part.c_str(), os::kModeRead | os::kShareRead));
    const int64_t size = file.ok() ? os::FileSize(file.get()) : -1;
    if (size < 0) {
        errors_->push_back("cannot read back the size of the package written to " + part);
        return false;
    }
    summary_->package_bytes = static_cast<uint64_t>(size);
    return true;
}

// Puts the finished package in the place of OUTPUT in one step; an existing OUTPUT stays
// as it was when that fails.
bool Builder::PutInPlace(const std::string& part) {
    if (os::ReplaceFile(part.c_str(), options_.output.c_str())) return true;
    const uint32_t attributes = os::GetAttributes(options_.output.c_str());
    std::string why;
    if (attributes != os::kInvalidAttributes && (attributes & os::kAttrDirectory) != 0)
        why = ": it is a folder";
    else if (attributes != os::kInvalidAttributes && (attributes & os::kAttrReadOnly) != 0)
        why = ": it is read-only";
    errors_->push_back("cannot put the package in place as " + options_.output + why);
    return false;
}

}  // namespace

int DefaultBuildThreads() {
    const unsigned cores = std::thread::hardware_concurrency();  // 0 when unknown
    return static_cast<int>(std::min<unsigned>(std::max(cores, 1u), kMaxBuildThreads));
}

std::string StoredDescription(const std::string& text) {
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        const char c = text[i];
        if (c == '\r') {
            out += "\r\n";
            if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
        } else if (c == '\n') {
            out += "\r\n";
        } else {
            out.push_back(c);
        }
    }
    return out;
}

std::string PackageNameProblem(const std::string& name) {
    if (name.size() > static_cast<size_t>(kNameSize - 1))
        return "the name has " + std::to_string(name.size()) + " characters; the package holds at most " +
               std::to_string(kNameSize - 1);
    return EntryNameProblem(name.c_str());
}

bool BuildPackage(const BuildOptions& options, BuildObserver* observer, BuildSummary* summary,
                  std::vector<std::string>* errors) {
    BuildSummary local;
    if (summary == nullptr) summary = &local;
    *summary = BuildSummary();
    Builder builder(options, observer, summary, errors);
    try {
        return builder.Run();
    } catch (const std::bad_alloc&) {
        errors->push_back("out of memory; try a lower --memory-limit");
    } catch (const std::exception& e) {
        errors->push_back(e.what());
    }
    DeleteOwnFile(options.output + ".part");
    return false;
}
