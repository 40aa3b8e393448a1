// The rebuild script of one file: from two files on disk or two buffers in memory.
// Old files whose suffix array fits the memory limit are read whole and indexed by it;
// larger ones get the block-hash index, with the old file paged from disk through a small
// cache. Either way the new file is read and planned in segments.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "builder/script_encoder.h"

struct DiffSettings {
    // Bytes the builder may use for one file pair (old and new bytes, index, buffers).
    uint64_t memory_limit = 1ull << 30;
    // Uses the block-hash index whatever the sizes (tests).
    bool force_block_index = false;
    // New bytes held and planned at a time.
    uint32_t segment_bytes = 8u << 20;
    // The caller knows that old and new file have the same contents (only the time stamp
    // differs): the script is one copy, nothing is read.
    bool same_content = false;
};

struct DiffStats {
    bool block_index = false;  // the block-hash fallback was used
    bool whole_literal = false;
    uint64_t script_bytes = 0;
    uint64_t copy_commands = 0;
    uint64_t literal_bytes = 0;
};

// Called with the new-file bytes planned so far and the new file's size.
using DiffProgress = std::function<void(uint64_t done, uint64_t total)>;

// Writes the whole script (End included) that rebuilds new[0..m) from old[0..n).
DiffStats DiffBuffers(const uint8_t* old_data, uint32_t n, const uint8_t* new_data, uint32_t m,
                      const ScriptSink& sink);

// Writes the whole script that rebuilds the file new_path from old_path (empty: an Add,
// all literals). Sizes are those read when the trees were compared; files must not
// change meanwhile. False with *error set when a file cannot be read or has changed.
bool DiffFiles(const std::string& old_path, uint64_t old_size, const std::string& new_path, uint64_t new_size,
               const DiffSettings& settings, const ScriptSink& sink, const DiffProgress& progress,
               DiffStats* stats, std::string* error);
