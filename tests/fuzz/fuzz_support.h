// Pieces shared by the fuzz targets and their seed generator: a scratch folder per process,
// whole-file writes, the installed tree the apply target starts from, and the layout of
// the rebuild target's input.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// A fresh folder made on first use and removed with its contents when the process exits.
const std::string& ScratchFolder();
// Writes the bytes to path (created or truncated); false when that fails.
bool WriteWholeFile(const std::string& path, const uint8_t* data, size_t size);
// Removes everything inside folder, keeping the folder.
void EmptyFolder(const std::string& folder);
// Every file below folder with its contents, names relative and "/"-separated, sorted.
struct TreeFile {
    std::string name;
    std::vector<uint8_t> content;
};
std::vector<TreeFile> ReadTree(const std::string& folder);
void WriteTree(const std::string& folder, const std::vector<TreeFile>& files);

// The installed files the apply target puts in its target folder before every run; the
// seed packages update, remove and add files against it.
const std::vector<TreeFile>& ApplyOldTree();

// Input of the rebuild target: u32 new size (little-endian), u16 old-file length, the
// old file, then the script. Shorter inputs read the missing fields as 0. The new size
// keeps its low 16 bits (so a run writes at most 64 KiB) unless it is 0xFFFFFFFF.
struct RebuildInput {
    uint32_t new_size = 0;
    const uint8_t* old_file = nullptr;
    uint32_t old_size = 0;
    const uint8_t* script = nullptr;
    uint32_t script_size = 0;
};
RebuildInput SplitRebuildInput(const uint8_t* data, size_t size);
std::vector<uint8_t> JoinRebuildInput(uint32_t new_size, const std::vector<uint8_t>& old_file,
                                      const std::vector<uint8_t>& script);
