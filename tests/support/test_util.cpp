// Helpers shared by the tests (scratch folders, whole-file I/O).
#include "support/test_util.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>

#include <sys/stat.h>

#if !defined(_WIN32)
#include <sys/resource.h>
#endif

#include "io/codepage.h"
#include "io/os.h"
#include "io/stream.h"

namespace fs = std::filesystem;

Bytes ToBytes(const std::string& s) { return Bytes(s.begin(), s.end()); }
std::string FromBytes(const Bytes& b) { return std::string(b.begin(), b.end()); }

TempDir::TempDir() {
    static std::atomic<unsigned> counter{0};
    auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
    for (;;) {
        fs::path p = fs::temp_directory_path() /
                     ("ambrel-test-" + std::to_string(stamp) + "-" + std::to_string(counter++));
        std::error_code ec;
        if (fs::create_directory(p, ec)) {
            path_ = p.string();
            return;
        }
    }
}

TempDir::~TempDir() {
    std::error_code ec;
    // Read-only files and folders cannot be removed until they are writable again.
    for (auto it = fs::recursive_directory_iterator(path_, ec); !ec && it != fs::recursive_directory_iterator();
         it.increment(ec)) {
        fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ec);
        os::SetReadOnly(it->path().string().c_str(), false);
    }
    fs::remove_all(path_, ec);
}

std::string TempDir::operator/(const std::string& name) const { return JoinNative(path_, name); }

std::string JoinNative(const std::string& a, const std::string& b) {
    std::string out = a;
    if (!out.empty() && !os::IsSeparator(out.back())) out += os::kSeparator;
    for (char c : b) out += os::IsSeparator(c) ? os::kSeparator : c;
    return out;
}

std::string OnDisk(const std::string& path) {
    std::string native;
    return IsPosix() && os::ToUtf8(path, &native) ? native : path;
}

void WriteFileBytes(const std::string& path, const Bytes& data) {
    fs::path p(OnDisk(path));
    if (p.has_parent_path()) fs::create_directories(p.parent_path());
    std::ofstream f(p, std::ios::binary | std::ios::trunc);
    ASSERT_TRUE(f.good()) << "cannot write " << path;
    f.write(reinterpret_cast<const char*>(data.data()), static_cast<std::streamsize>(data.size()));
}

void WriteFileText(const std::string& path, const std::string& text) { WriteFileBytes(path, ToBytes(text)); }

Bytes ReadFileBytes(const std::string& path) {
    std::ifstream f(OnDisk(path), std::ios::binary);
    if (!f) return {};
    return Bytes(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& path) { return FromBytes(ReadFileBytes(path)); }

bool FileExists(const std::string& path) { return fs::is_regular_file(OnDisk(path)); }
bool FolderExists(const std::string& path) { return fs::is_directory(OnDisk(path)); }

void SetStamp(const std::string& path, uint32_t stamp) {
    os::FileHandle h = os::OpenFile(path.c_str(), os::kModeReadWrite);
    ASSERT_NE(h, os::kInvalidHandle) << path;
    EXPECT_TRUE(os::SetFileStamp(h, stamp)) << path;
    os::CloseFile(h);
}

uint32_t DosStamp(int year, int month, int day, int hour, int minute, int second) {
    uint32_t date = static_cast<uint32_t>(((year - 1980) << 9) | (month << 5) | day);
    uint32_t time = static_cast<uint32_t>((hour << 11) | (minute << 5) | (second / 2));
    return (date << 16) | time;
}

Bytes RandomBytes(size_t n, uint32_t seed) {
    std::mt19937 rng(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<uint8_t>(rng());
    return out;
}

uint64_t PeakResidentBytes() {
#if defined(_WIN32)
    return 0;
#else
    struct rusage usage {};
    if (getrusage(RUSAGE_SELF, &usage) != 0) return 0;
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;  // reported in KiB
#endif
}

bool IsPosix() { return os::kSeparator == '/'; }

namespace {

void SetVariable(const std::string& name, const char* value) {
#if defined(_WIN32)
    _putenv_s(name.c_str(), value != nullptr ? value : "");  // "" unsets it there
#else
    if (value != nullptr)
        setenv(name.c_str(), value, 1);
    else
        unsetenv(name.c_str());
#endif
}

}  // namespace

EnvironmentScope::EnvironmentScope(const char* name, const char* value) : name_(name) {
    const char* saved = std::getenv(name);
    had_ = saved != nullptr;
    if (had_) saved_ = saved;
    SetVariable(name_, value);
}

EnvironmentScope::~EnvironmentScope() { SetVariable(name_, had_ ? saved_.c_str() : nullptr); }

UmaskScope::UmaskScope(int mask) : saved_(static_cast<int>(umask(mask))) {}
UmaskScope::~UmaskScope() { umask(saved_); }
