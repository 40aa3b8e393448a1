// Inside the Win32 OS layer only: the confinement checks and small helpers shared by the
// layer's files.
#pragma once

#include <string>

#include "io/fault_injection.h"
#include "io/os.h"

#include <windows.h>

// windows.h maps these names onto their A/W variants; the layer's own functions keep them.
#undef DeleteFile
#undef MoveFile
#undef ReplaceFile
#undef GetDriveType
#undef CreateFile

namespace os {
namespace win32 {

// The path with "/" turned into "\".
std::string WithBackslashes(const char* path);
// Whether the path `p` ("\" separators) lies below the innermost confinement folder.
bool Inside(const std::string& p);
// True when `path` lies below the innermost confinement folder and a reparse point stands
// on its way there, or ".." would climb out.
bool Blocked(const char* path);
// Refuses a blocked path the way the system refuses a forbidden one (access denied).
bool Refused(const char* path);
// A call that a test made fail, with the error a failing device gives.
bool Injected(FaultKind kind);

inline HANDLE H(FileHandle h) { return reinterpret_cast<HANDLE>(h); }

}  // namespace win32
}  // namespace os
