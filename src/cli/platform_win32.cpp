// Terminal facts and default search roots on Windows consoles.
#include "cli/platform.h"

#include "io/os.h"

#include <io.h>
#include <windows.h>

bool IsTerminal(std::FILE* stream) { return _isatty(_fileno(stream)) != 0; }

int TerminalWidth() {
    CONSOLE_SCREEN_BUFFER_INFO info;
    if (GetConsoleScreenBufferInfo(GetStdHandle(STD_ERROR_HANDLE), &info)) {
        int width = info.srWindow.Right - info.srWindow.Left + 1;
        if (width > 0) return width;
    }
    return 80;
}

std::vector<std::string> DefaultSearchRoots() { return os::FixedDriveRoots(); }
