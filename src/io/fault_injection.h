// A switch for tests: makes the n-th call of one kind of file operation fail, as a full
// disk, a locked file or a failing device would. Both OS layers ask it before each such
// call; the programs never set it, so for them it never fires. The calls may come from
// several threads at once.
#pragma once

#include <cstdint>

namespace os {

enum class FaultKind : int {
    kOpen,          // OpenFile
    kRead,          // ReadFile
    kWrite,         // WriteFile
    kFlush,         // SyncFile, SyncFolder
    kDelete,        // DeleteFile, RemoveFolder
    kMove,          // MoveFile, ReplaceFile
    kCreateFolder,  // CreateFolder
    kSetTime,       // SetFileStamp
    kCount,
};

// Counts calls of every kind from zero again and makes the n-th call of `kind` (1: the
// next one) fail; n = 0 makes none fail.
void InjectFault(FaultKind kind, uint32_t n);
// Calls of `kind` since the last InjectFault.
uint32_t FaultCalls(FaultKind kind);
// For the OS layers: counts one call of `kind`; true when that call must fail.
bool FaultHits(FaultKind kind);

}  // namespace os
