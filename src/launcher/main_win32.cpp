// Entry point of brackpatch.exe, the patch launcher: a GUI program with no window of its
// own that runs the launcher once on the Win32 host. The command line is ignored.
#include <windows.h>

#include "launcher/host_win32.h"
#include "launcher/launcher.h"

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    // The host holds the mutex until it goes away, after the whole run.
    std::unique_ptr<LauncherHost> host = CreateWin32Host();
    Launcher launcher(*host);
    return launcher.Run();
}
