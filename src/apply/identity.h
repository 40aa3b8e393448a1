// File identities (size, MS-DOS stamp, 16-bit check value): reading them, verifying and
// stamping rebuilt files, the per-entry findings and the installation match test.
#pragma once

#include <cstdint>

#include "io/os.h"
#include "io/stream.h"
#include "package/format.h"
#include "package/package.h"

// Entry state codes (the findings); any nonzero state skips the entry.
enum EntryState : uint8_t {
    kStateProceed = 0,
    kStateMissing = 1,
    kStateChanged = 3,
    kStateReadOnly = 4,
    kStateTimeDiffers = 5,
    kStateExists = 6,
    kStateBuildFailed = 8,
    kStatePathTooLong = 9,  // a composed path does not fit its 260-byte buffer
    kStateBadOperation = 10,  // operation value 3, which no package may carry
    kStateLinked = 11,  // a link or junction below the target folder stands on the file's path
};

// Reads the identity of a file; `state`, when given, receives the state of the file as it
// was read (os::FileState), by which a later step can tell that it changed since. False
// (and all fields 0) when it cannot be opened or its time cannot be expressed as an MS-DOS
// stamp.
bool ReadFileIdentity(const char* path, FileIdentity* identity, os::FileState* state = nullptr);
// The identity of an open file, read from its start.
bool ReadStreamIdentity(TCVLFStream& file, FileIdentity* identity);
// Adds a block of file data to a running check value; `position` is the offset of the
// block in the file and `file_size` the file's total length.
uint16_t UpdateCheckValue(uint16_t check, const uint8_t* data, uint32_t n, uint64_t position,
                          uint64_t file_size);
// Sets creation, access and write time of an existing file to the stamp.
bool StampFile(const char* path, uint32_t stamp);
// True when the file has the expected size and check value and was stamped with the
// expected time stamp.
bool VerifyBuiltFile(const char* path, const FileIdentity& expected);
// The same through the stream that wrote the file (open for reading and writing), so that
// what is checked and stamped is that very file.
bool VerifyBuiltStream(TCVLFStream& file, const FileIdentity& expected);

struct Finding {
    uint8_t code = kStateProceed;  // the finding's state code; 0 when there is no finding
    int line = 0;                  // message line; 0 when there is no finding
    bool warning = false;          // governed by the warning policy, and the entry's state
                                   // goes back to 0 (else the error policy; the entry keeps
                                   // `code` and is skipped)
    os::FileState seen;            // what stood at the entry's path when it was checked; the
                                   // commit replaces or deletes only that, unchanged
};
// The finding for one entry whose file is at `path`, before anything is changed.
Finding VerifyEntry(const FileEntry& entry, const char* path);

// True when the package's current target folder holds an installation it upgrades. Links
// and junctions below the folder are not followed.
bool InstallationMatches(UpgradePackage& package);
