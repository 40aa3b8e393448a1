// The launcher's host on Windows: each operation is one or two ANSI Win32 calls.
#pragma once

#include <memory>

#include "launcher/host.h"

std::unique_ptr<LauncherHost> CreateWin32Host();
