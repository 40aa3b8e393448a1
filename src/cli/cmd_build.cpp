// `ambrel build OLD_DIR NEW_DIR -o PACKAGE`: the package builder's command line, with a
// progress line on a terminal.
#include <chrono>
#include <cstdio>
#include <memory>
#include <string>

#include "builder/builder.h"
#include "cli/cli_common.h"
#include "cli/commands.h"
#include "cli/platform.h"
#include "io/codepage.h"
#include "io/file_ops.h"
#include "package/deflate_whole.h"

namespace {

struct BuildCommandOptions {
    BuildOptions build;
    int compress = 0;
    std::string description_file;
    uint64_t memory_limit_mb = 1024;
    int code_page = os::CodePage();
};

// Paths, title, description and patterns from the command line as text of the code page.
bool TextsInCodePage(BuildCommandOptions& o) {
    BuildOptions& b = o.build;
    std::vector<std::string*> texts{&b.old_dir, &b.new_dir, &b.output, &b.title, &b.description, &b.policy_file,
                                    &o.description_file};
    for (std::string& pattern : b.excludes) texts.push_back(&pattern);
    return UseCodePage(o.code_page, "build") && ArgumentsInCodePage(texts, "build");
}

// Draws "[ 42%] Diffing Maps\Level03.lvl" on stderr when it is a terminal; passes
// warnings on as lines.
class TerminalObserver : public BuildObserver {
public:
    TerminalObserver() : show_(IsTerminal(stderr)) {}
    ~TerminalObserver() override { Clear(); }

    void Stage(const std::string& text) override {
        stage_ = text;
        name_.clear();
        Draw(true);
    }
    void Progress(const std::string& name, uint64_t done, uint64_t total) override {
        const int percent = total == 0 ? 100 : static_cast<int>(done * 100 / total);
        const bool changed = percent != percent_ || name != name_;
        percent_ = percent;
        name_ = name;
        if (changed) Draw(false);
    }
    void Warning(const std::string& text) override {
        Clear();
        std::fprintf(stderr, "ambrel build: warning: %s\n", Printable(text).c_str());
        Draw(true);
    }
    void Clear() {
        if (!drawn_) return;
        std::fprintf(stderr, "\r\033[K");
        std::fflush(stderr);
        drawn_ = false;
    }

private:
    void Draw(bool force) {
        if (!show_) return;
        const auto now = std::chrono::steady_clock::now();
        if (!force && now - last_ < std::chrono::milliseconds(50)) return;
        last_ = now;
        std::string line;
        if (name_.empty()) {
            line = stage_ + "...";
        } else {
            char head[32];
            std::snprintf(head, sizeof head, "[%3d%%] Diffing ", percent_);
            line = head + Printable(name_);
        }
        const size_t width = static_cast<size_t>(TerminalWidth());
        if (width > 1 && line.size() > width - 1) line.resize(width - 1);
        std::fprintf(stderr, "\r%s\033[K", line.c_str());
        std::fflush(stderr);
        drawn_ = true;
    }

    bool show_;
    bool drawn_ = false;
    std::string stage_;
    std::string name_;
    int percent_ = -1;
    std::chrono::steady_clock::time_point last_{};
};

int RunBuild(BuildCommandOptions& o) {
    if (!TextsInCodePage(o)) return kExitInvalid;
    if (!o.description_file.empty()) {
        std::string contents, why;
        if (!ReadWholeFile(o.description_file, &contents)) {
            std::fprintf(stderr, "ambrel build: error: cannot read the description file %s\n",
                         Printable(o.description_file).c_str());
            return kExitFailed;
        }
        if (!os::TextFileToCodePage(contents, &o.build.description, &why)) {
            std::fprintf(stderr, "ambrel build: error: the description file %s: %s\n", Printable(o.description_file).c_str(),
                         why.c_str());
            return kExitFailed;
        }
    }
    o.build.compression = o.compress;
    o.build.memory_limit = o.memory_limit_mb << 20;

    BuildSummary summary;
    std::vector<std::string> errors;
    bool ok;
    {
        TerminalObserver observer;
        ok = BuildPackage(o.build, &observer, &summary, &errors);
    }
    if (!ok) {
        for (const std::string& e : errors) std::fprintf(stderr, "ambrel build: error: %s\n", Printable(e).c_str());
        std::fprintf(stderr, "ambrel build: no package was written\n");
        return kExitFailed;
    }
    std::printf("Wrote %s: %d entries (%d added, %d updated, %d removed; %d files unchanged), %llu bytes",
                Printable(o.build.output).c_str(), summary.adds + summary.updates + summary.removes, summary.adds,
                summary.updates, summary.removes, summary.unchanged,
                static_cast<unsigned long long>(summary.package_bytes));
    if (o.build.compression > 0)
        std::printf(" (%llu before compression)", static_cast<unsigned long long>(summary.plain_bytes));
    std::printf(".\n");
    if (summary.block_index_files > 0)
        std::printf("%d old files were too large for the suffix index and were matched through block hashes.\n",
                    summary.block_index_files);
    if (summary.checked)
        std::printf("Checked: applied to a copy of the old files, the package gives the new files.\n");
    return kExitOk;
}

}  // namespace

void AddBuildCommand(CLI::App& app, int& exit_code) {
    auto o = std::make_shared<BuildCommandOptions>();
    CLI::App* cmd = app.add_subcommand("build", "Make a package that upgrades OLD_DIR into NEW_DIR");
    cmd->footer(
        "Files only in NEW_DIR are added, files in both whose contents or time stamps differ are\n"
        "updated, files only in OLD_DIR are removed; names are relative with \"\\\" between folders.\n"
        "After writing, the package is applied to a scratch copy of the old files it touches and\n"
        "the result compared with NEW_DIR (unless --no-check). Nothing is written on any error.\n"
        "Policies: 0 go on without asking, 1 ask (No aborts), 2 abort, 3 as 0.\n"
        "Policy file: one line per glob, \"PATTERN WARNING ERROR [DESCRIPTION]\"; the last matching\n"
        "line wins; \"#\" starts a comment. Globs: \"*\" and \"?\" within a name, \"**\" across folders;\n"
        "a pattern without a separator matches names in any folder; letter case is ignored.\n"
        "Names, title and descriptions are written in one ANSI code page (--codepage, default 1252;\n"
        "on Windows the system's own); a name the code page cannot hold is an error. The package\n"
        "does not record its code page. A description or policy file may be UTF-8 or text of the\n"
        "code page.");
    cmd->add_option("OLD_DIR", o->build.old_dir, "The old version's folder")->required()->check(CLI::ExistingDirectory);
    cmd->add_option("NEW_DIR", o->build.new_dir, "The new version's folder")->required()->check(CLI::ExistingDirectory);
    cmd->add_option("-o,--output", o->build.output, "The package to write")->required();
    cmd->add_option("--title", o->build.title, "Title shown by the applicator (at most 79 characters)");
    CLI::Option* description =
        cmd->add_option("--description", o->build.description, "Description shown by the applicator (at most 8191)");
    CLI::Option* description_file =
        cmd->add_option("--description-file", o->description_file, "Read the description from a file");
    description->excludes(description_file);
    cmd->add_flag("--compress{12}", o->compress,
                  "Write the compressed form, by default at the strongest level (12); --compress=LEVEL picks "
                  "zlib's LEVEL 1-9, or 10-12 for libdeflate's stronger levels (zlib 9 where this build has "
                  "no libdeflate)")
        ->check(CLI::Range(1, kMaxCompressionLevel));
    cmd->add_option("--warning-policy", o->build.warning_policy, "Warning policy of every entry (0-3)")
        ->capture_default_str()
        ->check(CLI::Range(0, 3));
    cmd->add_option("--error-policy", o->build.error_policy, "Error policy of every entry (0-3)")
        ->capture_default_str()
        ->check(CLI::Range(0, 3));
    cmd->add_option("--policies", o->build.policy_file, "Per-file policies and descriptions (see below)")
        ->check(CLI::ExistingFile);
    cmd->add_option("--format-version", o->build.format_version, "Format version to write (0-17)")
        ->capture_default_str()
        ->check(CLI::Range(0, static_cast<int>(kMaxFormatVersion)));
    cmd->add_option("--exclude", o->build.excludes, "Leave out files and folders matching GLOB (repeatable)")
        ->type_size(1)
        ->expected(1)
        ->allow_extra_args(false)
        ->multi_option_policy(CLI::MultiOptionPolicy::TakeAll);
    cmd->add_flag("!--no-check", o->build.check, "Do not apply the package to a scratch copy after writing");
    cmd->add_option("--memory-limit", o->memory_limit_mb,
                    "MiB for the whole build; files are diffed side by side as far as they fit together, and "
                    "old files whose suffix index does not fit are matched through block hashes")
        ->capture_default_str()
        ->check(CLI::Range(16, 1 << 20));
    AddCodePageOption(cmd, &o->code_page);
    cmd->add_option("--threads", o->build.threads,
                    "Files diffed at the same time, 1-" + std::to_string(kMaxBuildThreads) +
                        " (default: the number of cores); the package is the same for every number")
        ->capture_default_str()
        ->check(CLI::Range(1, kMaxBuildThreads));
    cmd->callback([o, &exit_code] { exit_code = RunBuild(*o); });
}
