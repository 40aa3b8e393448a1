// A record of what a run asks of the disk, for tests that rebuild what a power loss could
// leave behind: every file creation, write, cut, sync, time setting, rename, delete and
// folder creation or removal inside the innermost confinement folder, in order. Like the
// fault switch beside it, the programs never turn it on; the OS layers add to it only
// while a test records.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace os {

struct DiskEvent {
    enum Kind {
        kCreate, kWrite, kTruncate, kSyncFile, kSetTime, kRename, kDelete, kMakeFolder, kRemoveFolder, kSyncFolder,
        kSyncAll,  // everything of the file system made durable
    };
    Kind kind = kCreate;
    std::string path;           // below the confinement folder, "/" between names ("" for itself)
    std::string to;             // kRename: the new path
    uint64_t file = 0;          // kCreate and the handle events: which file (its inode)
    uint64_t offset = 0;        // kWrite: where the bytes go; kTruncate: the new size
    std::vector<uint8_t> data;  // kWrite: the bytes
    int64_t time = 0;           // kSetTime: the last-write time, seconds since 1970
};

// Starts a new, empty record.
void StartDiskRecord();
// Ends the record and hands it over.
std::vector<DiskEvent> StopDiskRecord();
// For the OS layers: whether a record is being made, and adding to it.
bool RecordingDisk();
void RecordDisk(DiskEvent event);

}  // namespace os
