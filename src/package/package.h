// One opened upgrade package: header, strings and entry table, plus the state of one use
// of it (target folder, progress counters, work buffers, message table).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "io/stream.h"
#include "package/format.h"
#include "package/message_table.h"

class ApplyFrontEnd;

// One file record of the package.
struct FileEntry {
    uint8_t Operation = 0;
    uint8_t WarningPolicy = 0;
    uint8_t ErrorPolicy = 0;
    uint8_t state = 0;  // finding code of the verification; nonzero skips the entry
    char name[kNameSize] = {};
    char Description[kEntryDescriptionSize] = {};
    FileIdentity OldIdentity;
    FileIdentity NewIdentity;
};

// A file the commit phase could not put in place (see the apply driver).
struct CommitFailure {
    std::string name;       // relative name of the entry
    std::string kept_file;  // where its verified new version was kept; empty when none is
    std::string reason;     // why, when known ("it changed after it was checked"), else empty
    bool removal = false;   // a Remove entry whose file could not be removed
};

class UpgradePackage {
public:
    // Opens the header and the two strings. Never fails as such: an unreadable file
    // leaves the stream in its error state, which IsValid reports.
    static std::unique_ptr<UpgradePackage> OpenHeader(const char* path);
    // Also reads the entry table and keeps `target` (a separator is appended when
    // missing). A refused entry table leaves ProgressTotal 0.
    static std::unique_ptr<UpgradePackage> OpenFull(const char* path, const char* target);

    // Marker, format version, no stream error; after a full open also a readable entry
    // table of at most 10000 entries with safe names and a target folder that fits.
    bool IsValid() const;
    bool IsCompressed() const { return compressed_; }
    bool IsFull() const { return full_; }

    void AttachMessages(std::unique_ptr<MessageTable> table) { messages_ = std::move(table); }
    bool HasMessages() const { return messages_ != nullptr; }
    const char* Message(int line) const;
    const char* MessageItem(int line, int item) const;

    // Replaces the target folder (a separator is appended when missing). False, leaving the
    // folder empty and the package invalid, when it is empty or does not fit its 260-byte
    // buffer.
    bool SetTargetFolder(const char* folder);

    // Read directly by the engine and the front ends.
    std::unique_ptr<TCVLStream> stream;  // positioned after the entry table after OpenFull
    char Marker[8] = {};
    uint8_t FormatVersion = 0;
    int16_t EntryCount = 0;
    char Title[kTitleSize] = {};
    std::unique_ptr<char[]> Description;  // kDescriptionSize bytes
    std::vector<FileEntry> entries;       // full open only
    // The user interface of the apply that is running; set only by a FrontEndScope (see
    // apply/driver.h) and null outside it, so the package never calls a front end that
    // may be gone.
    ApplyFrontEnd* frontend = nullptr;
    int32_t ProgressDone = 0;
    uint32_t ProgressTotal = 0;
    char target_folder[os::kMaxPath] = {};  // always ends with a separator
    char text_buffer[2048] = {};
    char path_a[os::kMaxPath] = {};
    char path_b[os::kMaxPath] = {};
    std::vector<CommitFailure> commit_failures;
    // Why the last apply stopped before changing anything when no entry and no answer was
    // the cause (the target folder cannot be opened, too little free space, a link in place
    // of the temporary folder); empty otherwise.
    std::string apply_failure;

    // Why a full open refused the package ("" when it did not); for diagnostics.
    const std::string& RefusalReason() const { return refusal_; }

private:
    UpgradePackage() = default;
    uint32_t ReadEntryTable();
    void RefuseTable(const std::string& reason);
    std::unique_ptr<MessageTable> messages_;
    bool compressed_ = false;
    bool full_ = false;
    bool table_refused_ = false;      // too many entries, a record cut off, an unsafe name
    bool target_refused_ = false;     // the target folder did not fit its buffer
    bool refusal_is_target_ = false;  // refusal_ names the target folder
    std::string refusal_;
};
