// Scratch folders, whole-file I/O and input layouts shared by the fuzz targets.
#include "fuzz_support.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>

namespace fs = std::filesystem;

namespace {

void RemoveScratch() {
    std::error_code ec;
    fs::remove_all(ScratchFolder(), ec);
}

}  // namespace

const std::string& ScratchFolder() {
    // Never destroyed, so that the clean-up at exit can still use it.
    static const std::string& folder = *new std::string([] {
        // Memory-backed where the system has it: the targets write a file per run.
        std::string base = fs::is_directory("/dev/shm") ? "/dev/shm" : fs::temp_directory_path().string();
        std::string pattern = base + "/ambrel-fuzz-XXXXXX";
        std::vector<char> buf(pattern.begin(), pattern.end());
        buf.push_back('\0');
        if (mkdtemp(buf.data()) == nullptr) std::abort();
        return std::string(buf.data());
    }());
    static const bool cleaned_at_exit = std::atexit(RemoveScratch) == 0;
    (void)cleaned_at_exit;
    return folder;
}

bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) return false;
    const bool ok = std::fwrite(data, 1, size, f) == size;
    return std::fclose(f) == 0 && ok;
}

void EmptyFolder(const std::string& folder) {
    std::error_code ec;
    for (const auto& item : fs::directory_iterator(folder, ec)) {
        fs::permissions(item.path(), fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(item.path(), ec);
    }
}

std::vector<TreeFile> ReadTree(const std::string& folder) {
    std::vector<TreeFile> files;
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        if (it->is_symlink() || !it->is_regular_file()) continue;
        std::ifstream in(it->path(), std::ios::binary);
        files.push_back(TreeFile{fs::relative(it->path(), folder).generic_string(),
                                 std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {})});
    }
    std::sort(files.begin(), files.end(), [](const TreeFile& a, const TreeFile& b) { return a.name < b.name; });
    return files;
}

void WriteTree(const std::string& folder, const std::vector<TreeFile>& files) {
    for (const TreeFile& file : files) {
        fs::path path = fs::path(folder) / file.name;
        std::error_code ec;
        fs::create_directories(path.parent_path(), ec);
        WriteWholeFile(path.string(), file.content.data(), file.content.size());
    }
}

const std::vector<TreeFile>& ApplyOldTree() {
    static const std::vector<TreeFile> tree = [] {
        std::vector<TreeFile> files;
        std::vector<uint8_t> data(3000);
        uint32_t x = 12345;
        for (uint8_t& b : data) {
            x = x * 1103515245u + 12345u;
            b = static_cast<uint8_t>(x >> 16);
        }
        files.push_back(TreeFile{"game.dat", data});
        files.push_back(TreeFile{"readme.txt", std::vector<uint8_t>{'o', 'l', 'd', ' ', 't', 'e', 'x', 't', '\n'}});
        files.push_back(TreeFile{"Maps/one.map", std::vector<uint8_t>(500, 'm')});
        return files;
    }();
    return tree;
}

RebuildInput SplitRebuildInput(const uint8_t* data, size_t size) {
    RebuildInput in;
    uint8_t head[6] = {};
    std::copy(data, data + std::min<size_t>(size, sizeof head), head);
    in.new_size = head[0] | (head[1] << 8) | (head[2] << 16) | (static_cast<uint32_t>(head[3]) << 24);
    if (in.new_size != 0xFFFFFFFFu) in.new_size &= 0xFFFF;
    const size_t rest = size > sizeof head ? size - sizeof head : 0;
    const uint8_t* p = data + (size > sizeof head ? sizeof head : size);
    in.old_size = static_cast<uint32_t>(std::min<size_t>(head[4] | (head[5] << 8), rest));
    in.old_file = p;
    in.script = p + in.old_size;
    in.script_size = static_cast<uint32_t>(rest - in.old_size);
    return in;
}

std::vector<uint8_t> JoinRebuildInput(uint32_t new_size, const std::vector<uint8_t>& old_file,
                                      const std::vector<uint8_t>& script) {
    const size_t old_size = std::min<size_t>(old_file.size(), 0xFFFF);
    std::vector<uint8_t> out = {static_cast<uint8_t>(new_size), static_cast<uint8_t>(new_size >> 8),
                                static_cast<uint8_t>(new_size >> 16), static_cast<uint8_t>(new_size >> 24),
                                static_cast<uint8_t>(old_size), static_cast<uint8_t>(old_size >> 8)};
    out.insert(out.end(), old_file.begin(), old_file.begin() + static_cast<std::ptrdiff_t>(old_size));
    out.insert(out.end(), script.begin(), script.end());
    return out;
}
