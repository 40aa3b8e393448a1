// Helpers shared by the tests: scratch folders that clean up after themselves and whole-file
// reads and writes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

using Bytes = std::vector<uint8_t>;

Bytes ToBytes(const std::string& s);
std::string FromBytes(const Bytes& b);

// A fresh empty folder, removed with everything in it (read-only files included) when the
// object goes away. Path() has no final separator.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return path_; }
    // The path of a name inside the folder; "\" or "/" in the name separate folders.
    std::string operator/(const std::string& name) const;

private:
    std::string path_;
};

// Joins with the platform's separator.
std::string JoinNative(const std::string& a, const std::string& b);
// A path of the engine (text in the code page) as the file system spells it: UTF-8 on
// POSIX systems, unchanged on Windows. The whole-file helpers below take engine paths.
std::string OnDisk(const std::string& path);
// Writes the file, creating the folders on its way.
void WriteFileBytes(const std::string& path, const Bytes& data);
void WriteFileText(const std::string& path, const std::string& text);
// Reads the whole file; empty when it cannot be read (check FileExists where it matters).
Bytes ReadFileBytes(const std::string& path);
std::string ReadFileText(const std::string& path);
bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Sets the file's last-write time to a local-time MS-DOS stamp. Asserts success.
void SetStamp(const std::string& path, uint32_t stamp);
// A local-time MS-DOS stamp from its parts.
uint32_t DosStamp(int year, int month, int day, int hour, int minute, int second);
// The process's peak resident memory in bytes; 0 where the platform does not tell.
uint64_t PeakResidentBytes();
// Deterministic pseudo-random bytes.
Bytes RandomBytes(size_t n, uint32_t seed);

// Whether the POSIX OS layer is under test (else the Win32 one).
bool IsPosix();

// Sets an environment variable (unsets it when `value` is null) for the life of the
// object, then restores it.
class EnvironmentScope {
public:
    EnvironmentScope(const char* name, const char* value);
    ~EnvironmentScope();
    EnvironmentScope(const EnvironmentScope&) = delete;
    EnvironmentScope& operator=(const EnvironmentScope&) = delete;

private:
    std::string name_;
    bool had_;
    std::string saved_;
};

// Sets the process's file-creation mask for the life of the object.
class UmaskScope {
public:
    explicit UmaskScope(int mask);
    ~UmaskScope();
    UmaskScope(const UmaskScope&) = delete;
    UmaskScope& operator=(const UmaskScope&) = delete;

private:
    int saved_;
};
